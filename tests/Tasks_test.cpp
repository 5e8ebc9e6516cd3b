#include "comparer/Tasks.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/Exceptions.h"

namespace ormelin {
namespace {

int destroyedTasks = 0;

class TCountedTask : public TBaseTask {
 public:
  ~TCountedTask() override { ++destroyedTasks; }
};

TBaseTask* NewTask(const std::string& name, const std::string& params) {
  auto* task = new TCountedTask;
  task->SetName(name);
  task->SetParams(params);
  return task;
}

TEST(TTaskList, EmptyListHasNoText) {
  TTaskList list;
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.GetTask(0), nullptr);
  EXPECT_EQ(list.GetXML(), "");
  TBaseTask stranger;
  EXPECT_EQ(list.RemoveTask(&stranger), -1);
}

TEST(TTaskList, ExactXMLText) {
  TTaskList list;
  list.AddTask(NewTask("insert_dir", "\\doc"));
  list.AddTask(NewTask("insert_file", "\\doc\\a.txt,\"2008-11-14 10-20-30\""));
  EXPECT_EQ(list.GetXML(),
            "<xml>\r\n<task>insert_dir\r\n<param>\\doc</param>\r\n</task>\r\n"
            "<task>insert_file\r\n<param>\\doc\\a.txt,&quot;2008-11-14 10-20-30&quot;</param>"
            "\r\n</task>\r\n</xml>");
}

TEST(TTaskList, ParamTexts) {
  struct TCase {
    const char* params;
    const char* element;
  };
  const TCase cases[] = {
      {"", "<param></param>"},
      {"\\a & b", "<param>\\a &amp; b</param>"},
      {"\\it's", "<param>\\it&apos;s</param>"},
      {"  \\padded\r\n", "<param>\\padded</param>"},  // text is trimmed
  };
  for (const TCase& c : cases) {
    TTaskList list;
    list.AddTask(NewTask("delete_file", c.params));
    EXPECT_EQ(list.GetXML(),
              std::string("<xml>\r\n<task>delete_file\r\n") + c.element + "\r\n</task>\r\n</xml>")
        << c.params;
  }
}

TEST(TTaskList, AddRemoveAndOwnership) {
  destroyedTasks = 0;
  TTaskList list;
  TBaseTask* a = NewTask("a", "1");
  TBaseTask* b = NewTask("b", "2");
  list.AddTask(a);
  list.AddTask(b);
  list.AddTask(static_cast<TBaseTask*>(nullptr));
  EXPECT_EQ(a->Owner(), &list);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetTask(1), b);
  try {
    list.GetTask(2);
    FAIL() << "no error";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (2)");
  }
  EXPECT_THROW(list.GetTask(-1), EListError);

  TCountedTask stranger;
  EXPECT_EQ(list.RemoveTask(&stranger), -1);
  EXPECT_EQ(list.RemoveTask(b), 1);
  EXPECT_EQ(destroyedTasks, 1);
  EXPECT_EQ(list.RemoveTask(a), 0);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.GetTask(0), nullptr);
  EXPECT_EQ(list.RemoveTask(&stranger), -1);

  list.AddTask(NewTask("x", ""));
  list.AddTask(NewTask("y", ""));
  list.Clear();
  EXPECT_EQ(destroyedTasks, 4);
  list.AddTask(NewTask("z", ""));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.GetTask(0)->Name(), "z");
}

TEST(TTaskList, RemoveTasksOfKindKeepsTheOrder) {
  destroyedTasks = 0;
  TTaskList list;
  const char* kinds[] = {"delete_file", "insert_dir",  "DELETE_FILE", "delete_dir",
                         "insert_file", "delete_file", "update_file"};
  for (const char* kind : kinds) list.AddTask(NewTask(kind, ""));
  EXPECT_EQ(list.RemoveTasksOfKind("delete_file"), 3);
  EXPECT_EQ(destroyedTasks, 3);
  ASSERT_EQ(list.Count(), 4);
  EXPECT_EQ(list.GetTask(0)->Name(), "insert_dir");
  EXPECT_EQ(list.GetTask(1)->Name(), "delete_dir");
  EXPECT_EQ(list.GetTask(3)->Name(), "update_file");
  EXPECT_EQ(list.RemoveTasksOfKind("nothing"), 0);
  list.Clear();
  EXPECT_EQ(list.RemoveTasksOfKind("x"), 0);
}

TEST(TTaskList, DestroyingTheListDestroysItsTasks) {
  destroyedTasks = 0;
  {
    TTaskList list;
    list.AddTask(NewTask("a", ""));
    list.AddTask(std::unique_ptr<TBaseTask>(NewTask("b", "")));
  }
  EXPECT_EQ(destroyedTasks, 2);
}

}  // namespace
}  // namespace ormelin
