#include "comparer/orXMLParser.h"

#include <cstddef>

#include "platform/Collation.h"
#include "platform/Cp1250.h"
#include "platform/Exceptions.h"
#include "platform/Text.h"

namespace ormelin {

namespace {

constexpr const char* kUnit = "orXMLParser";

// The entity table, in the order both directions use.
struct TEntity {
  char character;
  std::string_view entity;
};
constexpr TEntity kEntities[] = {
    {'<', "&lt;"}, {'>', "&gt;"}, {'&', "&amp;"}, {'\'', "&apos;"}, {'"', "&quot;"}};
constexpr size_t kShortestEntity = 4;
constexpr size_t kLongestEntity = 6;

bool IsTrimmed(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

bool SameEntity(std::string_view candidate, std::string_view entity) {
  if (candidate.size() != entity.size()) return false;
  for (size_t i = 0; i < candidate.size(); ++i)
    if (AsciiLower(candidate[i]) != entity[i]) return false;
  return true;
}

bool NeedsEntity(char c) {
  return c == '<' || c == '>' || c == '&' || c == '\'' || c == '"';
}

void AppendEscaped(std::string& out, std::string_view text) {
  size_t copied = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!NeedsEntity(text[i])) continue;
    out.append(text.substr(copied, i - copied));
    for (const TEntity& e : kEntities) {
      if (text[i] == e.character) {
        out.append(e.entity);
        break;
      }
    }
    copied = i + 1;
  }
  out.append(text.substr(copied));
}

}  // namespace

// The first semicolon at or after an ampersand is remembered while it lies
// ahead, so a run of many ampersands is still scanned once.
void AppendXMLUnescaped(std::string& out, std::string_view text) {
  size_t i = 0;
  size_t semicolon = 0;
  bool semicolonKnown = false;
  while (i < text.size()) {
    const size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) {
      out.append(text.substr(i));
      return;
    }
    out.append(text.substr(i, amp - i));
    if (!semicolonKnown || semicolon < amp) {
      semicolon = text.find(';', amp);
      semicolonKnown = true;
    }
    if (semicolon == std::string_view::npos) {  // no later ampersand can have one either
      out.append(text.substr(amp));
      return;
    }
    const std::string_view candidate = text.substr(amp, semicolon - amp + 1);
    bool decoded = false;
    if (candidate.size() >= kShortestEntity && candidate.size() <= kLongestEntity) {
      for (const TEntity& e : kEntities) {
        if (SameEntity(candidate, e.entity)) {
          out += e.character;
          decoded = true;
          break;
        }
      }
    }
    if (decoded) {
      i = semicolon + 1;
    } else {
      out += '&';
      i = amp + 1;
    }
  }
}

namespace {

void AppendOpenTag(std::string& out, const std::string& name) {
  out += '<';
  out += name;
  out += '>';
}

void AppendCloseTag(std::string& out, const std::string& name) {
  out += "</";
  out += name;
  out += '>';
}

}  // namespace

TorXMLNode::TorXMLNode(TorXMLNode* parent) {
  if (parent) {
    parent->children_.push_back(this);
    parent_ = parent;
  }
}

TorXMLNode::~TorXMLNode() {
  Clear();
  if (parent_) parent_->RemoveChild(this);
}

void TorXMLNode::AddChild(TorXMLNode* node) {
  Assert(node != nullptr && node != this, kUnit, __LINE__);
  if (!node->children_.empty()) {
    // Only a node with children can be an ancestor of this one.
    for (const TorXMLNode* up = parent_; up; up = up->parent_) Assert(up != node, kUnit, __LINE__);
  }
  if (node->parent_) node->parent_->RemoveChild(node);
  children_.push_back(node);
  node->parent_ = this;
}

void TorXMLNode::RemoveChild(TorXMLNode* node) {
  if (!node || node->parent_ != this) return;
  // From the back: children are usually released last first.
  for (size_t i = children_.size(); i-- > 0;) {
    if (children_[i] == node) {
      children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  node->parent_ = nullptr;
  if (children_.empty()) std::vector<TorXMLNode*>().swap(children_);
}

void TorXMLNode::Clear() {
  // Depth first without recursion: walk down the last branch to a leaf,
  // detach and delete it, and continue from its parent. Children therefore go
  // last to first, each after its own subtree, at any depth.
  TorXMLNode* node = this;
  while (!children_.empty()) {
    while (!node->children_.empty()) node = node->children_.back();
    TorXMLNode* parent = node->parent_;
    parent->children_.pop_back();
    node->parent_ = nullptr;
    delete node;
    if (parent->children_.empty()) std::vector<TorXMLNode*>().swap(parent->children_);
    node = parent;
  }
}

TorXMLNode* TorXMLNode::GetChild(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= children_.size()) return nullptr;
  return children_[static_cast<size_t>(index)];
}

const std::string& TorXMLNode::NameKey() const {
  if (!nameKeyValid_) {
    nameKey_ = CollationKey(name_);
    nameKeyValid_ = true;
  }
  return nameKey_;
}

int TorXMLNode::IndexOfChild(std::string_view name, int start) const {
  if (start < 0) start = 0;
  // Each child's key is computed once and kept, and the wanted name's once
  // per call, so loops over large element lists compare plain bytes.
  std::string key;
  bool keyReady = false;
  for (size_t i = static_cast<size_t>(start); i < children_.size(); ++i) {
    const TorXMLNode* child = children_[i];
    if (child->name_ == name) return static_cast<int>(i);
    if (!keyReady) {
      key = CollationKey(name);
      keyReady = true;
    }
    if (child->NameKey() == key) return static_cast<int>(i);
  }
  return -1;
}

TorXMLNode* TorXMLNode::ChildByName(std::string_view name, bool create) {
  if (TorXMLNode* found = GetChild(IndexOfChild(name, 0))) return found;
  if (!create) return nullptr;
  auto* child = new TorXMLNode(this);  // owned by this node from here on
  child->SetName(name);
  return child;
}

void TorXMLNode::SetName(std::string_view name) {
  name_.assign(name);
  nameKeyValid_ = false;
  nameKey_.clear();
}

void TorXMLNode::SetText(std::string_view text) {
  text_.assign(TrimmedXMLText(text));
}

void TorXMLNode::AppendText(std::string_view run) {
  AppendXMLTextRun(text_, run);
}

std::string TorXMLNode::GetXML() const {
  // One output buffer and an explicit stack of (node, next child), so the
  // depth of the tree costs heap, not call stack.
  struct TFrame {
    const TorXMLNode* node;
    size_t next;
  };
  std::string out;
  std::vector<TFrame> stack;
  AppendOpenTag(out, name_);
  AppendEscaped(out, text_);
  if (children_.empty()) {
    AppendCloseTag(out, name_);
    return out;
  }
  stack.push_back({this, 0});
  while (!stack.empty()) {
    TFrame& frame = stack.back();
    if (frame.next < frame.node->children_.size()) {
      const TorXMLNode* child = frame.node->children_[frame.next++];
      out += "\r\n";
      AppendOpenTag(out, child->name_);
      AppendEscaped(out, child->text_);
      if (child->children_.empty())
        AppendCloseTag(out, child->name_);
      else
        stack.push_back({child, 0});
    } else {
      out += "\r\n";
      AppendCloseTag(out, frame.node->name_);
      stack.pop_back();
    }
  }
  return out;
}

void TorXMLNode::Parse(std::string_view text) {
  Clear();
  // The current node is the innermost open element; `depth` is its level
  // (this node = 1), 0 when no element is open. Closing the outermost element
  // leaves no current node even when this node has a parent of its own.
  TorXMLNode* current = nullptr;
  int depth = 0;

  auto newChild = [&](std::string_view name) {
    if (depth >= MaxXMLDepth)
      throw EXMLError("Dokument je ugniježđen dublje od "_cp1250 + std::to_string(MaxXMLDepth) +
                      " razina");
    auto* child = new TorXMLNode(current);  // owned by `current`
    child->SetName(name);
    return child;
  };

  auto handleTag = [&](std::string_view tag) {
    if (tag.back() == '/') {
      const std::string_view name = tag.substr(0, tag.size() - 1);
      if (current) {
        newChild(name);
      } else {
        SetName(name);
        current = this;
        depth = 1;
      }
    } else if (tag.front() == '/') {
      if (!current)
        throw EXMLError("Zatvarajući tag "_cp1250 + std::string(tag) + " bez otvorenog taga");
      if (tag.substr(1) != current->name_)
        throw EXMLError("Tag " + current->name_ + " završava na tag "_cp1250 + std::string(tag));
      --depth;
      current = depth == 0 ? nullptr : current->parent_;
    } else if (current) {
      current = newChild(tag);
      ++depth;
    } else {
      SetName(tag);
      current = this;
      depth = 1;
    }
  };

  // `start` is where the pending run (text, or the inside of a tag) begins;
  // the run is always a contiguous slice of the input.
  size_t start = 0;
  size_t i = 0;
  bool inTag = false;
  while (i < text.size()) {
    if (!inTag) {
      const size_t lt = text.find('<', i);
      if (lt == std::string_view::npos) break;  // a trailing run is dropped
      if (lt > start && current) current->AppendText(text.substr(start, lt - start));
      start = lt + 1;
      i = lt + 1;
      inTag = true;
    } else {
      const size_t bracket = text.find_first_of("<>", i);
      if (bracket == std::string_view::npos) break;  // an unfinished tag is dropped
      if (text[bracket] == '<') throw EXMLError("Početak taga u tagu"_cp1250);
      if (bracket > start) handleTag(text.substr(start, bracket - start));
      start = bracket + 1;
      i = bracket + 1;
      inTag = false;
    }
  }
}

std::string XMLEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendEscaped(out, text);
  return out;
}

std::string_view TrimmedXMLText(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsTrimmed(text[begin])) ++begin;
  while (end > begin && IsTrimmed(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

void AppendXMLTextRun(std::string& text, std::string_view run) {
  // Text is always kept trimmed and entities never decode to a byte below
  // 33, so trimming the raw run (its left end only while the text is still
  // empty) gives the same text as trimming the joined, unescaped whole.
  size_t begin = 0;
  size_t end = run.size();
  while (end > begin && IsTrimmed(run[end - 1])) --end;
  if (text.empty())
    while (begin < end && IsTrimmed(run[begin])) ++begin;
  AppendXMLUnescaped(text, run.substr(begin, end - begin));
}

void AppendEscapedXML(std::string& out, std::string_view text) {
  AppendEscaped(out, text);
}

std::string XMLUnescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendXMLUnescaped(out, text);
  return out;
}

}  // namespace ormelin
