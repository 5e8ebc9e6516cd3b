// The streaming tree reader against TLoader::LoadFromXML: for every input,
// fed in many different splits, the same tree entry by entry or the same
// error (type and message).
#include "comparer/TreeReader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "comparer/CompactTree.h"
#include "comparer/FileStructures.h"
#include "comparer/ReaderStream.h"
#include "comparer/StructStreamer.h"
#include "comparer/orXMLParser.h"
#include "fuzz/support/TreeOutcome.h"
#include "support/EverySplit.h"
#include "support/XMLMutator.h"

namespace ormelin {
namespace {

using testing::AnswerByNodes;
using testing::AnswerCompact;
using testing::ExpectSameInEverySplit;
using testing::Nested;
using testing::OutcomeByNodes;
using testing::OutcomeStreamed;
using testing::TXMLMutator;

// The reader's outcome in every kind of split equals the node path's.
void ExpectSame(const std::string& xml, std::mt19937& random, const std::string& label) {
  ExpectSameInEverySplit(xml, OutcomeByNodes(xml), OutcomeStreamed, 200, random, label);
}

TEST(TreeReader, ReadsTheDialectAsTheNodePathDoes) {
  const std::string deepFolders = "<t>" + Nested("directory", MaxXMLDepth - 1);
  const std::string tooDeep = "<t>" + Nested("x", MaxXMLDepth);
  const std::vector<std::string> cases = {
      "",
      "   ",
      "text only",
      "<x/>",
      "<x>",
      "<>",
      "<><t/>",
      "</t>",
      "<t></t></t>",
      "<t><name>root</name></t>",
      "<t><name>a</name><name>b</name></t>",
      "<t><name>a &amp; b &lt;c&gt; &apos;&quot; &AMP; &copy; &#38; & ;</name></t>",
      "<t><name>  spaced\r\n  name </name></t>",
      "<t><name> a <b/> c </name></t>",
      "<t><name>a<x>hidden</x>b</name></t>",
      "<t><name>a<name>inner</name>b</name></t>",
      "<t><name/><name>x</name></t>",
      "<t><name>x</name><name/></t>",
      "<t><datemodified>2008-11-14 10-20-30</datemodified></t>",
      "<t><datemodified>2008-11-14</datemodified><datemodified>2009-01-02 "
      "3-04-05</datemodified></t>",
      "<t><datemodified>11-14</datemodified></t>",
      "<t><datemodified>10-20-30</datemodified></t>",
      "<t><datemodified>2008/11/14 10:20:30</datemodified></t>",
      "<t><datemodified/></t>",
      "<t><datemodified>2008-13-40</datemodified></t>",
      "<t><DIRECTORY><Name>d</Name><DateModified>2008-11-14 1-02-03</DateModified></DIRECTORY></t>",
      "<t><directory><name>d</name><file><name>f</name><datemodified>2008-11-14 "
      "10-20-30</datemodified></file></directory></t>",
      "<t><file><name>first</name><name>second</name><datemodified>2008-11-14</datemodified>"
      "<datemodified>bad</datemodified></file></t>",
      "<t><file><datemodified>2008-11-14</datemodified><name>x</name></file></t>",
      "<t><file><datemodified>bad</datemodified><name>x</name></file></t>",
      "<t><file><x><name>deep</name></x><name>n</name></file></t>",
      "<t><file><directory><name>not a folder</name></directory></file></t>",
      "<t><file/><file/></t>",
      "<t><file/><file><name>x</name></file></t>",
      "<t><file><name>a</name></file><file><name>a</name></file></t>",
      "<t><file><name/></file><file/></t>",
      "<t><directory/><directory/></t>",
      "<t><directory><name>a</name></directory><directory/><directory/></t>",
      "<t><directory/><file/><file><name>f</name></file></t>",
      "<t><file><name>A.TXT</name></file><file><name>a.txt</name></file></t>",
      "<t><directory><file/><file/></directory><datemodified>bad</datemodified></t>",
      "<t><datemodified>bad</datemodified><directory/><directory/></t>",
      "<t><datemodified>bad</datemodified><x></y></t>",
      "<t><file/><file/><a<b></t>",
      "<t><datemodified>bad</datemodified>" + Nested("x", MaxXMLDepth),
      "<t><a></A></t>",
      "<t><a ></a></t>",
      "<a x=\"1\"><name>n</name></a x=\"1\">",
      "<t><<name>",
      "<t><name>x<y</name></t>",
      "<t><name>x>y</name>></t>",
      "<t><name>unfinished",
      "<t><name>unfinished<",
      "<t><name>a</name><directory><name>b",
      "<t><file><name>f",
      "<t><file><name>f</name><datemodified>2008-11-14",
      "<t><datemodified>bad",
      "<t><datemodified>bad<x>",
      "<t><name>tag unfinished</name><directory",
      "<t><name>a</name></t>text<u><name>b</name><directory/></u>",
      "<t><name>a</name></t><u/><directory/>",
      "<t/><name>x</name><directory/>",
      "<t></t></u>",
      "<?xml version=\"1.0\"?><t><name>x</name></t>",
      "<!-- c --><t><directory><name>d</name></directory></t>",
      "<t><directory><name>d</name></directory/></t>",
      "<t><//></t>",
      "<t></></t>",
      "<t><directory><directory><name>x</name></directory></directory><directory/></t>",
      "<t><name>\xe8\x9a\x8a</name><file><name>\xc8IRA</name></file></t>",
      deepFolders,
      deepFolders + "<x/>",
      tooDeep,
      "<t>" + Nested("x", MaxXMLDepth - 2) + "<y/>",
      "<t>" + Nested("x", MaxXMLDepth - 1) + "<y/>"};
  std::mt19937 random(13);
  for (size_t i = 0; i < cases.size(); ++i)
    ExpectSame(cases[i], random, "case " + std::to_string(i));
}

// ---- generated and mutated trees ----

class TGenerator : public TXMLMutator {
 public:
  using TXMLMutator::TXMLMutator;

  std::string Tree() {
    const std::string outer = Word("tree");
    std::string xml = "<" + outer + ">";
    Folder(xml, 0);
    if (!Chance(10)) xml += "</" + outer + ">";
    return xml;
  }

  std::string Mutate(std::string xml) {
    const int count = 1 + Pick(3);
    for (int i = 0; i < count && !xml.empty(); ++i) {
      const size_t at = static_cast<size_t>(Pick(static_cast<int>(xml.size()) + 1));
      switch (const int kind = Pick(kCommonDamage + 3)) {
        default:
          Damage(xml, at, kind);
          break;
        case kCommonDamage:  // an unclosed tag
          xml.insert(at, "<" + Word(Chance(50) ? "directory" : "file") + ">");
          break;
        case kCommonDamage + 1:  // a bad date
          xml.insert(at, "<datemodified>" + std::string(Chance(50) ? "2008-02-30" : "x") +
                             "</datemodified>");
          break;
        case kCommonDamage + 2:  // a name or date element dropped or doubled
          for (const char* tag : {"<name>", "<datemodified>"}) {
            const size_t open = xml.find(tag, at);
            if (open == std::string::npos) continue;
            const size_t close = xml.find('<', open + 1);
            if (close == std::string::npos) break;
            const size_t end = xml.find('>', close);
            if (end == std::string::npos) break;
            const std::string element = xml.substr(open, end - open + 1);
            if (Chance(50))
              xml.erase(open, element.size());
            else
              xml.insert(open, element);
            break;
          }
          break;
      }
    }
    return xml;
  }

 private:
  std::string Word(const char* word) {
    std::string text = word;
    if (Chance(15))
      for (char& c : text)
        if (Chance(50)) c = static_cast<char>(c - 'a' + 'A');
    return text;
  }

  std::string Name() {
    static const char* const parts[] = {"a",    "B",    "doc",     " x ", "&amp;", "&lt;b&gt;",
                                        "\xe8", "\x8a", "&bogus;", "1",   "a.txt", "A.TXT"};
    std::string name;
    const int count = Chance(5) ? 0 : 1 + Pick(2);
    for (int i = 0; i < count; ++i) name += parts[Pick(12)];
    return name;
  }

  std::string Date() {
    static const char* const dates[] = {"2008-11-14 10-20-30",    "2008-11-14", " 2021-1-2 3-4-5 ",
                                        "2008-11-14 12-00-00 PM", "11-14",      "10-20",
                                        "1980-01-01 0-00-02"};
    return dates[Pick(7)];
  }

  void Text(std::string& xml, const char* element, const std::string& text) {
    if (text.empty() && Chance(30)) {
      xml += "<" + Word(element) + "/>";
      return;
    }
    const std::string word = Word(element);
    xml += "<" + word + ">" + text + "</" + word + ">";
  }

  void Entry(std::string& xml, int depth, bool folder) {
    if (Chance(5)) {
      xml += folder ? "<directory/>" : "<file/>";
      return;
    }
    const char* element = folder ? "directory" : "file";
    xml += "<" + std::string(element) + ">";
    if (folder) {
      Folder(xml, depth + 1);
    } else {
      if (Chance(90)) Text(xml, "name", Name());
      if (Chance(85)) Text(xml, "datemodified", Date());
      if (Chance(10)) Text(xml, "name", Name());
      if (Chance(10)) xml += "<other>x<name>y</name></other>";
    }
    xml += "</" + std::string(element) + ">";
  }

  void Folder(std::string& xml, int depth) {
    if (Chance(85)) Text(xml, "name", Name());
    if (Chance(70)) Text(xml, "datemodified", Date());
    const int entries = Pick(depth < 3 ? 6 : 2);
    for (int i = 0; i < entries; ++i) {
      if (Chance(10)) xml += Chance(50) ? "\r\n " : " stray text ";
      Entry(xml, depth, Chance(30));
    }
    if (Chance(5)) Text(xml, "name", Name());
  }
};

TEST(TreeReader, ReadsGeneratedAndMutatedTreesAsTheNodePathDoes) {
  TGenerator generator(20261209);
  int loaded = 0;
  int failed = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string xml = generator.Tree();
    if (i % 4 != 0) xml = generator.Mutate(xml);
    if (i % 50 == 0) xml = "<t>" + Nested("directory", MaxXMLDepth - 2 + generator.Pick(3)) + xml;
    ExpectSame(xml, generator.Random(), "input " + std::to_string(i));
    if (HasFatalFailure()) return;
    (OutcomeByNodes(xml)[0] == '!' ? failed : loaded)++;
  }
  // Both outcomes are well represented.
  EXPECT_GT(loaded, 600);
  EXPECT_GT(failed, 600);
}

// A sync's answer from the packed trees is the task builder's (less its
// deletions) for generated projects and generated or mutated client trees,
// names that differ in case or only to the collation included; an error
// of the client's tree is the same error.
TEST(TreeReader, PackedTreesAnswerAsTheTaskBuilderDoes) {
  TGenerator generator(20261210);
  int answered = 0;
  for (int i = 0; i < 1500; ++i) {
    const std::string projectXML = generator.Tree();
    TDirectory project;
    try {
      TLoader::LoadFromXML(projectXML, &project);
    } catch (const std::exception&) {
      continue;
    }
    TCompactTree compact = TCompactTree::FromDirectory(project);
    compact.Freeze();
    TDirectory copied;
    compact.CopyTo(&copied);
    ASSERT_EQ(TLoader::SaveToXML(copied), TLoader::SaveToXML(project)) << "project " << i;
    for (int c = 0; c < 3; ++c) {
      std::string client = generator.Tree();
      if (c == 2) client = generator.Mutate(client);
      // The task builder sorts the levels it enters in place, and the
      // content of a missing folder goes out in its own order: each answer
      // starts from the project as loaded, as a sync from a fresh scan does.
      TDirectory scanned;
      TLoader::LoadFromXML(projectXML, &scanned);
      const std::string expected = AnswerByNodes(scanned, client);
      ASSERT_EQ(AnswerCompact(compact, client), expected)
          << "project " << i << "\n"
          << TLoader::SaveToXML(project) << "\nclient\n"
          << client;
      if (!expected.empty() && expected[0] == '<') ++answered;
    }
  }
  EXPECT_GT(answered, 1000);
}

TEST(TreeReader, KeepsAFailureAndReadsNoFurther) {
  TDirectory tree;
  TStreamingTreeReader reader(&tree);
  reader.Feed("<t><name>a</name><b<");
  EXPECT_TRUE(reader.Failed());
  reader.Feed("</t><directory/>");
  EXPECT_EQ(tree.DirectoryCount(), 0);
  EXPECT_THROW(reader.Finish(), EXMLError);
}

TEST(TreeReader, ReaderStreamCountsWhatItPasses) {
  TDirectory tree;
  TStreamingTreeReader reader(&tree);
  TReaderStream<TStreamingTreeReader> stream(reader);
  const std::string xml = "<t><file><name>f</name></file></t>";
  stream.Write(xml.data(), 10);
  stream.Write(xml.data() + 10, xml.size() - 10);
  EXPECT_EQ(stream.Size(), static_cast<int64_t>(xml.size()));
  reader.Finish();
  ASSERT_EQ(tree.FileCount(), 1);
  EXPECT_EQ(tree.GetFile(0)->Name(), "f");
}

}  // namespace
}  // namespace ormelin
