#include "comparer/orXMLParser.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/Collation.h"
#include "platform/Exceptions.h"

namespace ormelin {
namespace {

// Parses `input` into a fresh node (named `initialName`) and returns its
// GetXML, or "error: <message>" when the parse raised.
std::string ParseResult(const std::string& input, const char* initialName = "") {
  TorXMLNode node;
  node.SetName(initialName);
  try {
    node.Parse(input);
  } catch (const Exception& e) {
    return "error: " + e.Message();
  }
  return node.GetXML();
}

std::string Nested(int depth, const std::string& innermost = "") {
  std::string xml;
  xml.reserve(static_cast<size_t>(depth) * 7 + innermost.size());
  for (int i = 0; i < depth; ++i) xml += "<n>";
  xml += innermost;
  for (int i = 0; i < depth; ++i) xml += "</n>";
  return xml;
}

TEST(TorXMLNode, ParseCases) {
  struct TCase {
    const char* input;
    const char* initialName;
    const char* expected;
  } cases[] = {
      {"", "keep", "<keep></keep>"},
      {"<a/>", "", "<a></a>"},
      {"<r><x/><x/></r>", "", "<r>\r\n<x></x>\r\n<x></x>\r\n</r>"},
      {"<r><name>A &amp; B</name></r>", "", "<r>\r\n<name>A &amp; B</name>\r\n</r>"},
      {"<r></R>", "",
       "error: Tag r zavr\x9A"
       "ava na tag /R"},
      {"<a x=\"1\"></a>", "",
       "error: Tag a x=\"1\" zavr\x9A"
       "ava na tag /a"},
      {"<r<x>", "",
       "error: Po\xE8"
       "etak taga u tagu"},
      {"<r>text", "", "<r></r>"},
      {"<a><b>t", "", "<a>\r\n<b></b>\r\n</a>"},
      {"<a><b>t</b>", "", "<a>\r\n<b>t</b>\r\n</a>"},
      {"<a> x <b/> y </a>", "", "<a>x y\r\n<b></b>\r\n</a>"},
      {"<a>\r\n  <b>1</b>\r\n  <c/>\r\n</a>", "", "<a>\r\n<b>1</b>\r\n<c></c>\r\n</a>"},
      {"<a>l1\r\nl2</a>", "", "<a>l1\r\nl2</a>"},
      {"<a >t</a >", "", "<a >t</a >"},
      {"<a>1>2</a>", "", "<a>1&gt;2</a>"},
      {"<a><>b</a>", "", "<a>b</a>"},
      {"pre<a>x</a>", "", "<a>x</a>"},
      {"<a>&copy; &#38; &AMP; &Lt; a & b &amp; c</a>", "",
       "<a>&amp;copy; &amp;#38; &amp; &lt; a &amp; b &amp; c</a>"},
      {"<a>x</a>tail<b><c/></b>", "", "<b>x\r\n<c></c>\r\n</b>"},
      {"<a/>x<b/></a>", "", "<a>x\r\n<b></b>\r\n</a>"},
      {"<?xml version=\"1.0\"?><r/>", "",
       "<?xml version=\"1.0\"?>\r\n<r></r>\r\n</?xml version=\"1.0\"?>"},
      {"<a>\x9A\xE8 </a>", "", "<a>\x9A\xE8</a>"},
      {"<a><b", "", "<a></a>"},
      {"</a>", "", "error: Zatvaraju\xE6i tag /a bez otvorenog taga"},
      {"<a></a></a>", "", "error: Zatvaraju\xE6i tag /a bez otvorenog taga"},
      {"<a>x</a>  </b>", "", "error: Zatvaraju\xE6i tag /b bez otvorenog taga"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(ParseResult(c.input, c.initialName), c.expected) << c.input;
}

TEST(TorXMLNode, ParseKeepsOwnTextAndReplacesChildren) {
  TorXMLNode node;
  node.SetText("old");
  new TorXMLNode(&node);
  node.Parse("<a>new<b/></a>");
  EXPECT_EQ(node.Text(), "oldnew");
  ASSERT_EQ(node.ChildCount(), 1);
  EXPECT_EQ(node.GetChild(0)->Name(), "b");
}

TEST(TorXMLNode, ParseIntoInnerNodeNeverReachesTheOuterTree) {
  TorXMLNode root;
  auto* inner = new TorXMLNode(&root);
  inner->Parse("<a></a><b/>trailing<c/>");
  EXPECT_EQ(root.ChildCount(), 1);
  EXPECT_EQ(inner->Name(), "b");
  ASSERT_EQ(inner->ChildCount(), 1);
  EXPECT_EQ(inner->GetChild(0)->Name(), "c");
  EXPECT_EQ(inner->Text(), "trailing");
}

TEST(TorXMLNode, NodesReadBeforeAnErrorStayAttached) {
  TorXMLNode node;
  EXPECT_THROW(node.Parse("<r><a/><b></c>"), Exception);
  EXPECT_EQ(node.GetXML(), "<r>\r\n<a></a>\r\n<b></b>\r\n</r>");
}

TEST(TorXMLNode, DepthLimit) {
  const std::string tooDeep =
      "error: Dokument je ugnije\x9E\xF0"
      "en dublje od " +
      std::to_string(MaxXMLDepth) + " razina";
  // A chain of D elements with a text of t bytes innermost writes 11 D - 4 + t bytes.
  EXPECT_EQ(ParseResult(Nested(MaxXMLDepth, "x")).size(), MaxXMLDepth * 11u - 4 + 1);
  EXPECT_EQ(ParseResult(Nested(MaxXMLDepth + 1)), tooDeep);
  EXPECT_EQ(ParseResult(Nested(MaxXMLDepth - 1, "<leaf/>")).find("error"), std::string::npos);
  EXPECT_EQ(ParseResult(Nested(MaxXMLDepth, "<leaf/>")), tooDeep);
  EXPECT_EQ(ParseResult(Nested(1000000)), tooDeep);
  // Depth counts open elements only: siblings and re-opened roots are fine.
  std::string wide;
  for (int i = 0; i < 3 * MaxXMLDepth; ++i) wide += "<a><b/></a>";
  EXPECT_EQ(ParseResult(wide).find("error"), std::string::npos);
}

TEST(TorXMLNode, DeepProgrammaticTreeIsWrittenAndDestroyed) {
  constexpr int kDepth = 1000000;
  auto root = std::make_unique<TorXMLNode>();
  root->SetName("n");
  TorXMLNode* node = root.get();
  for (int i = 1; i < kDepth; ++i) {
    node = new TorXMLNode(node);
    node->SetName("n");
  }
  node->SetText("<");
  const std::string xml = root->GetXML();
  EXPECT_EQ(xml.size(), static_cast<size_t>(kDepth) * 11 - 4 + 4);
  EXPECT_EQ(xml.substr(0, 5), "<n>\r\n");
  EXPECT_NE(xml.find("<n>&lt;</n>\r\n</n>"), std::string::npos);
  root->Clear();
  EXPECT_EQ(root->ChildCount(), 0);
  for (int i = 1; i < kDepth; ++i) node = new TorXMLNode(i == 1 ? root.get() : node);
  root.reset();  // the destructor takes the same iterative path
}

TEST(TorXMLNode, GetXMLExactBytes) {
  TorXMLNode a;
  a.SetName("a");
  a.SetText("x");
  auto* b = new TorXMLNode(&a);
  b->SetName("b");
  b->SetText("1");
  (new TorXMLNode(&a))->SetName("c");
  EXPECT_EQ(a.GetXML(), "<a>x\r\n<b>1</b>\r\n<c></c>\r\n</a>");
  TorXMLNode n;
  n.SetName("n");
  EXPECT_EQ(n.GetXML(), "<n></n>");
  n.SetText("'\"&<>\x9A");
  EXPECT_EQ(n.GetXML(), "<n>&apos;&quot;&amp;&lt;&gt;\x9A</n>");
  // Names are written raw.
  n.SetName("a&b");
  n.SetText("");
  EXPECT_EQ(n.GetXML(), "<a&b></a&b>");
}

TEST(TorXMLNode, WrittenTreeReadsBackTheSame) {
  TorXMLNode source;
  source.Parse(
      "<tree><dir><name>A &amp; B 'x' \"y\"</name><file><name>&lt;1&gt;</name></file></dir>"
      "<dir><name>\x8A\x9E\xC8</name></dir><empty/></tree>");
  const std::string xml = source.GetXML();
  TorXMLNode copy;
  copy.Parse(xml);
  EXPECT_EQ(copy.GetXML(), xml);
  EXPECT_EQ(copy.GetChild(0)->GetChild(0)->Text(), "A & B 'x' \"y\"");
}

TEST(TorXMLNode, EscapeAndUnescape) {
  struct TCase {
    const char* input;
    const char* escaped;
  } escapes[] = {
      {"a<b", "a&lt;b"},
      {"<>&'\"", "&lt;&gt;&amp;&apos;&quot;"},
      {"\x9A\xE8\xF0 plain", "\x9A\xE8\xF0 plain"},
      {"&amp;", "&amp;amp;"},
      {"", ""},
  };
  for (const TCase& c : escapes) {
    EXPECT_EQ(XMLEscape(c.input), c.escaped) << c.input;
    EXPECT_EQ(XMLUnescape(c.escaped), c.input) << c.escaped;
  }
  struct TUnescape {
    const char* input;
    const char* expected;
  } unescapes[] = {
      {"&AMP;", "&"},
      {"&Lt;&GT;&aPoS;&QUOT;", "<>'\""},
      {"&copy;", "&copy;"},
      {"&#38;", "&#38;"},
      {"a & b &amp; c", "a & b & c"},
      {"&", "&"},
      {"&amp", "&amp"},
      {"&&amp;", "&&"},
      {"&amp;lt;", "&lt;"},
      {"&lt;;", "<;"},
      {"&&&&;&lt;", "&&&&;<"},
      {"x&;y", "x&;y"},
  };
  for (const TUnescape& c : unescapes) EXPECT_EQ(XMLUnescape(c.input), c.expected) << c.input;
}

TEST(TorXMLNode, SetTextTrimsCodesUpTo32Only) {
  struct TCase {
    std::string input;
    std::string expected;
  } cases[] = {
      {"  a b \r\n", "a b"},      {std::string("\0\x01\x1F a\tb \x20", 9), "a\tb"},
      {"\x9A \xA0", "\x9A \xA0"}, {" \x7F ", "\x7F"},
      {" \r\n\t ", ""},
  };
  TorXMLNode node;
  for (const TCase& c : cases) {
    node.SetText(c.input);
    EXPECT_EQ(node.Text(), c.expected) << c.input;
  }
}

TorXMLNode* AddNamed(TorXMLNode& parent, const char* name) {
  auto* child = new TorXMLNode(&parent);
  child->SetName(name);
  return child;
}

TEST(TorXMLNode, ChildAccessAndLookup) {
  TorXMLNode root;
  EXPECT_EQ(root.ChildCount(), 0);
  EXPECT_EQ(root.GetChild(0), nullptr);
  EXPECT_EQ(root.IndexOfChild("x", 0), -1);
  AddNamed(root, "name");
  AddNamed(root, "file");
  AddNamed(root, "Name");
  AddNamed(root, "\xE8vor");
  EXPECT_EQ(root.GetChild(-1), nullptr);
  EXPECT_EQ(root.GetChild(root.ChildCount()), nullptr);
  struct TCase {
    const char* name;
    int start;
    int expected;
  } cases[] = {
      {"NAME", 0, 0},  {"NAME", -5, 0},  {"name", 1, 2}, {"name", 3, -1},
      {"name", 4, -1}, {"name", 99, -1}, {"FILE", 0, 1}, {"\xC8VOR", 0, 3},
      {"cvor", 0, -1}, {"nam", 0, -1},   {"", 0, -1},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(root.IndexOfChild(c.name, c.start), c.expected) << c.name << " " << c.start;
  // The cached name keys agree with the platform comparison.
  for (int i = 0; i < root.ChildCount(); ++i)
    for (const char* name : {"NAME", "file", "\xC8vor", "cvor"})
      EXPECT_EQ(root.IndexOfChild(name, i) == i, AnsiSameText(root.GetChild(i)->Name(), name));
  // Renaming drops the cached key.
  root.GetChild(1)->SetName("other");
  EXPECT_EQ(root.IndexOfChild("file", 0), -1);
  EXPECT_EQ(root.IndexOfChild("OTHER", 0), 1);

  int visited = 0;
  for (int i = root.IndexOfChild("name", 0); i >= 0; i = root.IndexOfChild("name", i + 1))
    ++visited;
  EXPECT_EQ(visited, 2);

  EXPECT_EQ(root.ChildByName("NAME", false), root.GetChild(0));
  EXPECT_EQ(root.ChildByName("port", false), nullptr);
  EXPECT_EQ(root.ChildCount(), 4);
  TorXMLNode* port = root.ChildByName("port", true);
  ASSERT_EQ(root.ChildCount(), 5);
  EXPECT_EQ(root.GetChild(4), port);
  EXPECT_EQ(port->Name(), "port");
  EXPECT_EQ(port->Text(), "");
  EXPECT_EQ(port->Parent(), &root);
  EXPECT_EQ(root.ChildByName("Port", true), port);
  EXPECT_EQ(root.ChildCount(), 5);
}

TEST(TorXMLNode, OwnershipAndDetaching) {
  TorXMLNode root;
  TorXMLNode* a = AddNamed(root, "a");
  TorXMLNode* b = AddNamed(root, "b");
  AddNamed(*b, "b1");
  delete a;  // detaches itself
  ASSERT_EQ(root.ChildCount(), 1);
  EXPECT_EQ(root.GetChild(0), b);

  root.RemoveChild(b);  // ownership back to us
  EXPECT_EQ(root.ChildCount(), 0);
  EXPECT_EQ(root.GetChild(0), nullptr);
  EXPECT_EQ(b->Parent(), nullptr);
  std::unique_ptr<TorXMLNode> owned(b);

  TorXMLNode other;
  other.AddChild(owned.release());
  EXPECT_EQ(b->Parent(), &other);
  root.AddChild(b);  // moves between parents
  EXPECT_EQ(other.ChildCount(), 0);
  ASSERT_EQ(root.ChildCount(), 1);
  EXPECT_EQ(b->Parent(), &root);
  other.RemoveChild(b);  // not its child: nothing happens
  EXPECT_EQ(b->Parent(), &root);

  EXPECT_THROW(root.AddChild(&root), EAssertionFailed);
  EXPECT_THROW(b->GetChild(0)->AddChild(b), EAssertionFailed);
  EXPECT_THROW(b->GetChild(0)->AddChild(&root), EAssertionFailed);
  EXPECT_EQ(root.GetXML(), "<>\r\n<b>\r\n<b1></b1>\r\n</b>\r\n</>");
}

// True when every name of the tree can be written and read back as it is:
// not empty and neither starting nor ending with a slash.
bool NamesRoundTrip(const TorXMLNode& node) {
  const std::string& name = node.Name();
  if (name.empty() || name.front() == '/' || name.back() == '/') return false;
  for (int i = 0; i < node.ChildCount(); ++i)
    if (!NamesRoundTrip(*node.GetChild(i))) return false;
  return true;
}

// Random documents over the parser's special bytes: every parse either
// succeeds or raises Exception, repeating it gives the same result, and a
// written tree reads back to the same text.
TEST(TorXMLNode, RandomInputNeverBreaksTheParser) {
  std::mt19937 random(1974);
  const std::string alphabet = "<<>>//ab &;\r\n\x9A";
  int roundTrips = 0;
  for (int round = 0; round < 5000; ++round) {
    std::string input(random() % 40, ' ');
    for (char& c : input) c = alphabet[random() % alphabet.size()];
    const std::string first = ParseResult(input);
    EXPECT_EQ(ParseResult(input), first) << input;
    TorXMLNode node;
    try {
      node.Parse(input);
    } catch (const Exception&) {
      continue;
    }
    if (!NamesRoundTrip(node)) continue;
    ++roundTrips;
    TorXMLNode copy;
    copy.Parse(first);
    EXPECT_EQ(copy.GetXML(), first) << input;
  }
  EXPECT_GT(roundTrips, 100);
}

}  // namespace
}  // namespace ormelin
