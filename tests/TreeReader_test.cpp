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
#include "support/EverySplit.h"
#include "support/TreeGenerator.h"
#include "support/TreeOutcome.h"

namespace ormelin {
namespace {

using testing::ExpectSameInEverySplit;
using testing::Nested;
using testing::OutcomeByNodes;
using testing::OutcomeStreamed;
using testing::TTreeGenerator;

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

TEST(TreeReader, ReadsGeneratedAndMutatedTreesAsTheNodePathDoes) {
  TTreeGenerator generator(20261209);
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
