#include "comparer/FileStructures.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace ormelin {
namespace {

int destroyedFiles = 0;

class TCountedFile : public TFile {
 public:
  explicit TCountedFile(TDirectory* parent) : TFile(parent) {}
  ~TCountedFile() override { ++destroyedFiles; }
};

TDirectory* NewDirectory(TDirectory* parent, const std::string& name) {
  auto* directory = new TDirectory(parent);
  directory->SetName(name);
  return directory;
}

TFile* NewFile(TDirectory* parent, const std::string& name) {
  auto* file = new TFile(parent);
  file->SetName(name);
  return file;
}

std::vector<std::string> FileNames(const TDirectory& directory) {
  std::vector<std::string> names;
  for (int i = 0; i < directory.FileCount(); ++i) names.push_back(directory.GetFile(i)->Name());
  return names;
}

std::vector<std::string> DirectoryNames(const TDirectory& directory) {
  std::vector<std::string> names;
  for (int i = 0; i < directory.DirectoryCount(); ++i) {
    names.push_back(directory.GetDirectory(i)->Name());
  }
  return names;
}

TEST(TDirectory, RootIsNamedBackslash) {
  TDirectory root;
  EXPECT_EQ(root.Name(), "\\");
  EXPECT_EQ(root.GetFullPath(), "\\");
  EXPECT_EQ(root.Parent(), nullptr);
  EXPECT_EQ(root.DateModified(), 0);
}

TEST(TDirectory, FullPaths) {
  TDirectory root;
  TDirectory* a = NewDirectory(&root, "a");
  TDirectory* b = NewDirectory(a, "b");
  TFile* f = NewFile(b, "f");
  TFile* top = NewFile(&root, "f.txt");
  EXPECT_EQ(a->GetFullPath(), "\\a");
  EXPECT_EQ(f->GetFullPath(), "\\a\\b\\f");
  EXPECT_EQ(top->GetFullPath(), "\\f.txt");
  root.SetName("x");
  EXPECT_EQ(f->GetFullPath(), "x\\a\\b\\f");
  root.SetName("");
  EXPECT_EQ(f->GetFullPath(), "\\a\\b\\f");
  TFile loose;
  loose.SetName("alone");
  EXPECT_EQ(loose.GetFullPath(), "alone");
}

TEST(TDirectory, SecondUnnamedEntryIsADuplicate) {
  TDirectory root;
  auto* first = new TDirectory(&root);
  try {
    new TDirectory(&root);
    FAIL() << "no error";
  } catch (const EDuplicateDirectoryName& e) {
    EXPECT_EQ(e.Message(), "Direktorij ve\xE6 sadr\x9Ei direktorij ''");
  }
  EXPECT_EQ(root.DirectoryCount(), 1);
  first->SetName("a");
  auto* second = new TDirectory(&root);
  EXPECT_EQ(root.DirectoryCount(), 2);
  EXPECT_EQ(second->Parent(), &root);

  new TFile(&root);
  try {
    new TFile(&root);
    FAIL() << "no error";
  } catch (const EDuplicateFileName& e) {
    EXPECT_EQ(e.Message(), "Direktorij ve\xE6 sadr\x9Ei datoteku ''");
  }
  EXPECT_EQ(root.FileCount(), 1);
}

TEST(TDirectory, AddChecksNamesIgnoringCase) {
  TDirectory root;
  NewFile(&root, "a.txt");
  auto clash = std::make_unique<TFile>();
  clash->SetName("A.TXT");
  try {
    root.AddFile(clash.get());
    FAIL() << "no error";
  } catch (const EDuplicateFileName& e) {
    EXPECT_EQ(e.Message(), "Direktorij ve\xE6 sadr\x9Ei datoteku 'A.TXT'");
  }
  EXPECT_EQ(root.FileCount(), 1);
  EXPECT_EQ(clash->Parent(), nullptr);

  NewDirectory(&root,
               "\xC8"
               "a");  // "Ča"
  EXPECT_TRUE(
      root.HasDirectory("\xE8"
                        "A"));
  EXPECT_FALSE(root.HasDirectory("ca"));  // accents count
  EXPECT_FALSE(
      root.HasFile("\xC8"
                   "a"));  // files and folders apart
  root.AddFile(nullptr);
  root.AddDirectory(nullptr);
  EXPECT_EQ(root.FileCount(), 1);
}

TEST(TDirectory, RenamedAndRemovedEntriesLeaveTheIndex) {
  TDirectory root;
  TFile* file = NewFile(&root, "old");
  file->SetName("new");
  EXPECT_FALSE(root.HasFile("OLD"));
  EXPECT_TRUE(root.HasFile("NEW"));
  NewFile(&root, "old");  // the old name is free again
  // Names equal but for case may coexist after renaming (loaders rely on it).
  root.GetFile(1)->SetName("NEW");
  EXPECT_EQ(root.FileCount(), 2);
  delete root.GetFile(0);
  EXPECT_TRUE(root.HasFile("new"));
  delete root.GetFile(0);
  EXPECT_FALSE(root.HasFile("new"));
  EXPECT_EQ(root.FileCount(), 0);
}

TEST(TDirectory, DestroyingDetachesAndReleases) {
  destroyedFiles = 0;
  {
    TDirectory root;
    TDirectory* a = NewDirectory(&root, "a");
    TDirectory* b = NewDirectory(&root, "b");
    new TCountedFile(a);
    (new TCountedFile(b))->SetName("x");
    new TCountedFile(NewDirectory(b, "c"));
    delete a;
    EXPECT_EQ(destroyedFiles, 1);
    EXPECT_EQ(DirectoryNames(root), std::vector<std::string>{"b"});
    EXPECT_FALSE(root.HasDirectory("a"));
  }
  EXPECT_EQ(destroyedFiles, 3);

  destroyedFiles = 0;
  TDirectory root;
  new TCountedFile(NewDirectory(&root, "a"));
  new TCountedFile(&root);
  root.Clear();
  EXPECT_EQ(destroyedFiles, 2);
  EXPECT_EQ(root.DirectoryCount() + root.FileCount(), 0);
}

TEST(TDirectory, RemoveHandsTheEntryBack) {
  TDirectory root;
  TFile* file = NewFile(&root, "f");
  root.RemoveFile(file);
  std::unique_ptr<TFile> owned(file);
  EXPECT_EQ(root.FileCount(), 0);
  EXPECT_EQ(file->Parent(), nullptr);
  EXPECT_FALSE(root.HasFile("f"));
  TDirectory other;
  root.RemoveFile(file);  // not in the list: left alone
  other.RemoveDirectory(&root);
}

TEST(TDirectory, IndexOutOfBounds) {
  TDirectory root;
  NewFile(&root, "f");
  try {
    root.GetFile(1);
    FAIL() << "no error";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (1)");
  }
  EXPECT_THROW(root.GetFile(-1), EListError);
  EXPECT_THROW(root.GetDirectory(0), EListError);
}

TEST(TDirectory, SortUsesTheLocaleOrder) {
  TDirectory root;
  for (const char* name : {"d", "C", "\xE8", "b", "a"}) NewFile(&root, name);  // \xE8 = č
  TDirectory* sub = NewDirectory(&root, "z");
  NewDirectory(&root, "Y");
  for (const char* name : {"q", "p"}) NewFile(sub, name);

  root.Sort(false);
  EXPECT_EQ(FileNames(root), (std::vector<std::string>{"a", "b", "C", "\xE8", "d"}));
  EXPECT_EQ(DirectoryNames(root), (std::vector<std::string>{"Y", "z"}));
  EXPECT_EQ(FileNames(*sub), (std::vector<std::string>{"q", "p"}));
  root.Sort(true);
  EXPECT_EQ(FileNames(*sub), (std::vector<std::string>{"p", "q"}));
  EXPECT_LT(CompareNames(*root.GetFile(1), *root.GetFile(2)), 0);
  EXPECT_EQ(CompareNames(*root.GetFile(2), *root.GetFile(2)), 0);
}

TEST(TDirectory, DeepTreesNeedNoStack) {
  const int depth = 200000;
  auto root = std::make_unique<TDirectory>();
  TDirectory* current = root.get();
  for (int i = 0; i < depth; ++i) current = NewDirectory(current, "d");
  NewFile(current, "f");
  NewFile(current, "e");
  root->Sort(true);
  EXPECT_EQ(current->GetFile(0)->Name(), "e");
  std::string path = current->GetFile(0)->GetFullPath();
  EXPECT_EQ(path.size(), static_cast<size_t>(depth) * 2 + 2);
  root.reset();  // must not overflow the stack
}

TEST(TDirectory, WideFolderKeepsExactDuplicateChecks) {
  TDirectory root;
  const int count = 100000;
  for (int i = 0; i < count; ++i) {
    auto* file = new TFile(&root);  // attached unnamed, as the loaders do
    file->SetName("file" + std::to_string(i));
  }
  EXPECT_EQ(root.FileCount(), count);
  EXPECT_TRUE(root.HasFile("FILE99999"));
  EXPECT_FALSE(root.HasFile("file100000"));
  EXPECT_FALSE(root.HasFile(""));
  root.Sort(false);
  EXPECT_EQ(root.GetFile(0)->Name(), "file0");
  EXPECT_EQ(root.GetFile(1)->Name(), "file1");
}

}  // namespace
}  // namespace ormelin
