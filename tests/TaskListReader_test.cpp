// The streaming task-list reader against the node reader (the document
// parsed whole, then its "task" elements read): for every input, fed in
// many different splits, the same tasks in the same order with the same
// texts, or the same error (type and message).
#include "comparer/TaskListReader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "comparer/ReaderStream.h"
#include "comparer/Tasks.h"
#include "comparer/orXMLParser.h"
#include "fuzz/support/TaskListOutcome.h"
#include "support/EverySplit.h"
#include "support/XMLMutator.h"

namespace ormelin {
namespace {

using testing::ExpectSameInEverySplit;
using testing::Nested;
using testing::TaskOutcomeByNodes;
using testing::TaskOutcomeStreamed;
using testing::TXMLMutator;

// The reader's outcome in every kind of split equals the node reader's.
void ExpectSame(const std::string& xml, std::mt19937& random, const std::string& label) {
  ExpectSameInEverySplit(xml, TaskOutcomeByNodes(xml), TaskOutcomeStreamed, 300, random, label);
}

TEST(TaskListReader, ReadsWhatTheNodeReaderReads) {
  const std::vector<std::string> cases = {
      "",
      "  \r\n",
      "no tags",
      "<xml/>",
      "<xml></xml>",
      "<>",
      "</xml>",
      "<xml></xml></xml>",
      "<xml>\r\n<task>insert_dir<param>\\doc</param></task>\r\n</xml>",
      "<xml><task>insert_file<param>\"\\a b.txt\",2008-11-14 10-20-30</param></task></xml>",
      "<xml><task>  insert_file \r\n<param>  spaced  </param>  </task></xml>",
      "<xml><task>a &amp; b &lt;c&gt; &apos;&quot; &AMP; &copy; &#38; & ;<param>&lt;p&gt;</param>"
      "</task></xml>",
      "<xml><task>one<param>p</param>two</task></xml>",
      "<xml><task>n<param>first</param><param>second</param></task></xml>",
      "<xml><task>n<param/><param>second</param></task></xml>",
      "<xml><task>n<x><param>deep</param></x><param>p</param></task></xml>",
      "<xml><task>n<param>a<x>hidden</x>b</param></task></xml>",
      "<xml><task>n<param>a<param>inner</param>b</param></task></xml>",
      "<xml><TASK>upper<PARAM>p</PARAM></TASK><Task>mixed<Param>q</Param></Task></xml>",
      "<xml><tasks>not one</tasks><task/><task>x</task></xml>",
      "<xml><other><task>nested is no task</task></other></xml>",
      "<task>outer itself<param>p</param></task>",
      "<xml><task>a</task></xml>text<xml2><task>b</task></xml2>",
      "<xml><task>a</task></xml><task>b</task>",
      "<xml/><task>after a self-closing outer element</task>",
      "<xml><task>open at the end<param>p",
      "<xml><task>open at the end<param>p</param>tail",
      "<xml><task>x</task><task>unfinished tag</task><tas",
      "<xml><task>a</TASK></xml>",
      "<xml><task>a</task></xml2>",
      "<xml><task>a<<param>",
      "<xml><task>a<param>x<y</param></task></xml>",
      "<xml><task>a<param>x>y</param></task>></xml>",
      "<xml><task ><param>p</param></task ></xml>",
      "<xml><task>a</task><//></xml>",
      "<xml><task>a</task></></xml>",
      "<?xml version=\"1.0\"?><xml><task>a</task></xml>",
      "<xml><task>\xe8\x9a\x8a<param>\xc8IRA</param></task></xml>",
      "<xml><task>first</task><task>x" + Nested("y", MaxXMLDepth - 2) + "</task></xml>",
      "<xml><task>first</task>" + Nested("y", MaxXMLDepth - 1),
      "<xml><task>first</task>" + Nested("y", MaxXMLDepth - 2) + "<z/>",
      "<xml><task>first</task>" + Nested("y", MaxXMLDepth - 1) + "<z/>",
  };
  std::mt19937 random(7);
  for (size_t i = 0; i < cases.size(); ++i)
    ExpectSame(cases[i], random, "case " + std::to_string(i));
}

// ---- generated and mutated lists ----

class TGenerator : public TXMLMutator {
 public:
  using TXMLMutator::TXMLMutator;

  // A list as the server writes it.
  std::string List() {
    TTaskList list;
    static const char* const kinds[] = {"insert_dir", "insert_file", "update_file", "delete_file",
                                        "delete_dir"};
    static const char* const pieces[] = {"\\doc", "\\a b.txt", "\"", ",", " ",
                                         "&",     "<",         ">",  "'", "2008-11-14 10-20-30",
                                         "\xe8",  "\r\n"};
    const int count = Pick(8);
    for (int i = 0; i < count; ++i) {
      auto task = std::make_unique<TBaseTask>();
      task->SetName(kinds[Pick(5)]);
      std::string params;
      for (int j = Pick(6); j > 0; --j) params += pieces[Pick(12)];
      task->SetParams(params);
      list.AddTask(std::move(task));
    }
    return list.GetXML();
  }

  std::string Mutate(std::string xml) {
    const int count = 1 + Pick(3);
    for (int i = 0; i < count; ++i) {
      const size_t at = static_cast<size_t>(Pick(static_cast<int>(xml.size()) + 1));
      switch (const int kind = Pick(kCommonDamage + 2)) {
        default:
          Damage(xml, at, kind);
          break;
        case kCommonDamage: {  // an element of the list's own names, closed or not
          static const char* const tags[] = {"<task>",  "<param>", "<TASK>",   "<Param/>",
                                             "<task/>", "</task>", "</param>", "<xml>"};
          xml.insert(at, tags[Pick(8)]);
          break;
        }
        case kCommonDamage + 1: {  // a task or param element doubled
          const size_t open = xml.find(Chance(50) ? "<task>" : "<param>", at);
          if (open == std::string::npos) break;
          const size_t end = xml.find('>', xml.find("</", open));
          if (end == std::string::npos) break;
          xml.insert(open, xml.substr(open, end - open + 1));
          break;
        }
      }
    }
    return xml;
  }
};

TEST(TaskListReader, GeneratedAndMutatedListsReadAsTheNodeReaderReadsThem) {
  TGenerator generator(2027);
  for (int i = 0; i < 1500; ++i) {
    std::string xml = generator.List();
    if (i % 4 != 0) xml = generator.Mutate(xml);
    ExpectSame(xml, generator.Random(), "input " + std::to_string(i));
  }
}

// A stream cut off mid-list must not raise before it is finished: the
// caller first learns that the stream ended short.
TEST(TaskListReader, ErrorsWaitForFinishAndStopTheTasks) {
  std::vector<std::string> names;
  TTaskListReader reader(
      [&](std::string_view name, std::string_view) { names.emplace_back(name); });
  TReaderStream<TTaskListReader> stream(reader);
  const std::string xml = "<xml><task>a</task><<task>b</task>";
  EXPECT_NO_THROW(stream.Write(xml.data(), xml.size()));
  EXPECT_EQ(stream.Position(), static_cast<int64_t>(xml.size()));
  EXPECT_THROW(reader.Finish(), EXMLError);
  EXPECT_EQ(names, std::vector<std::string>{"a"});
}

}  // namespace
}  // namespace ormelin
