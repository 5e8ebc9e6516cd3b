// The system's one XML facility: an in-memory element tree with a writer and
// a small, lenient reader. The dialect has elements with text, nested and
// self-closing elements and the five entities &lt; &gt; &amp; &apos; &quot;;
// no attributes, declarations, comments or numeric references (what stands
// between the brackets is the element name, verbatim). Text is code page 1250
// bytes handled byte by byte.
//
// Ownership: a node owns its children. A node created with a parent is at once
// that parent's last child and is destroyed with it; deleting a node destroys
// its subtree and detaches it from its parent, so a tree is released by
// destroying its root. Destruction and writing are iterative, so trees of any
// depth are safe; `Parse` refuses documents nested deeper than MaxXMLDepth.
//
// Threading: a tree belongs to one thread at a time (one request, or the
// configuration load and save); nodes are not synchronised, and even the
// const operations cache name keys inside the nodes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Exceptions.h"

namespace ormelin {

// Deepest element nesting that `Parse` accepts: the node being parsed is
// level 1, its children level 2, and so on. Trees read from text never go
// deeper, so code that walks them recursively may rely on this bound.
inline constexpr int MaxXMLDepth = 4096;

// Text that is no document of the dialect ("Početak taga u tagu", "Tag %s
// završava na tag %s", ...).
class EXMLError : public Exception {
 public:
  using Exception::Exception;
};

class TorXMLNode {
 public:
  // A new node with empty name and text; with a parent it is appended as the
  // parent's last child and owned by it.
  explicit TorXMLNode(TorXMLNode* parent = nullptr);
  // Destroys the subtree (last child first), then detaches from the parent.
  virtual ~TorXMLNode();
  TorXMLNode(const TorXMLNode&) = delete;
  TorXMLNode& operator=(const TorXMLNode&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& Text() const { return text_; }
  TorXMLNode* Parent() const { return parent_; }

  // Appends `node` as the last child and takes ownership of it. A node that
  // has another parent is detached from it first. Adding a node to itself or
  // to its own subtree is a programming error (assertion).
  void AddChild(TorXMLNode* node);
  // Detaches `node` and hands its ownership back to the caller. A node that is
  // not a child of this one is left alone.
  void RemoveChild(TorXMLNode* node);
  // Destroys every child, last to first.
  void Clear();

  int ChildCount() const { return static_cast<int>(children_.size()); }
  // The child at `index` (from 0), or null outside 0 .. ChildCount-1.
  TorXMLNode* GetChild(int index) const;
  // Index of the first child at or after `start` (below 0 counts as 0) whose
  // name equals `name` (locale-aware, case ignored); -1 when there is none.
  int IndexOfChild(std::string_view name, int start) const;
  // The first child of that name; when there is none and `create` is set, a
  // new last child with that name and empty text; otherwise null.
  TorXMLNode* ChildByName(std::string_view name, bool create);

  void SetName(std::string_view name);
  // Stores the text with leading and trailing bytes of code 0 to 32 removed.
  void SetText(std::string_view text);

  // The node and its subtree as text: "<Name>" escaped text, then each child
  // on a new line (CR LF), then CR LF and "</Name>" when there are children,
  // or just "</Name>" when there are none. No declaration, no indentation, no
  // trailing line end.
  std::string GetXML() const;

  // Replaces the children by the elements read from `text`. The first element
  // renames this node and text found for it is added to what it holds. Raises
  // ormelin::Exception on "<" inside a tag, on a closing tag that does not
  // match the open element, on a closing tag with no element open and on
  // nesting deeper than MaxXMLDepth; nodes read before the error stay
  // attached. Anything else malformed is accepted leniently.
  void Parse(std::string_view text);

 private:
  // Adds a raw text run as SetText(Text + XMLUnescape(run)) would, in time
  // linear in the run however many runs the element has.
  void AppendText(std::string_view run);
  const std::string& NameKey() const;

  std::string name_;
  std::vector<TorXMLNode*> children_;  // owned; in document order
  TorXMLNode* parent_ = nullptr;       // not owned
  std::string text_;
  // Collation key of name_, computed on first comparison.
  mutable std::string nameKey_;
  mutable bool nameKeyValid_ = false;
};

// Replaces < > & ' " by their entities.
std::string XMLEscape(std::string_view text);
// The same, appended to `out`.
void AppendEscapedXML(std::string& out, std::string_view text);
// Replaces the five entities (letter case ignored) by their characters; any
// other "&...;" sequence is copied unchanged.
std::string XMLUnescape(std::string_view text);
// XMLUnescape(text) appended to `out`.
void AppendXMLUnescaped(std::string& out, std::string_view text);
// Element text as a node keeps it: without leading and trailing characters
// of code 0 to 32.
std::string_view TrimmedXMLText(std::string_view text);
// Adds one run of an element's raw text to `text`, the text read so far,
// keeping it as a node keeps its text: unescaped and trimmed.
void AppendXMLTextRun(std::string& text, std::string_view run);

}  // namespace ormelin
