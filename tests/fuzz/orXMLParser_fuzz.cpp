// Fuzz target for the XML reader: any bytes either parse or raise the
// system's error, and a tree that parsed is written by GetXML into text that
// parses back into the same tree (names, texts and child order), provided
// its names can be written at all (see WritableName).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "comparer/orXMLParser.h"
#include "platform/Exceptions.h"

namespace {

using ormelin::TorXMLNode;

// A name read back by the parser as the same opening tag: not empty, and
// neither starting with "/" (a closing tag) nor ending with one (a
// self-closing tag). The lenient reader makes such names from tags like
// "<a//>" or "</>", and GetXML writes them as they stand.
bool WritableName(const std::string& name) {
  return !name.empty() && name.front() != '/' && name.back() != '/';
}

bool AllNamesWritable(const TorXMLNode& root) {
  std::vector<const TorXMLNode*> pending{&root};
  while (!pending.empty()) {
    const TorXMLNode* node = pending.back();
    pending.pop_back();
    if (!WritableName(node->Name())) return false;
    for (int i = 0; i < node->ChildCount(); ++i) pending.push_back(node->GetChild(i));
  }
  return true;
}

bool SameTree(const TorXMLNode& a, const TorXMLNode& b) {
  std::vector<std::pair<const TorXMLNode*, const TorXMLNode*>> pending{{&a, &b}};
  while (!pending.empty()) {
    auto [x, y] = pending.back();
    pending.pop_back();
    if (x->Name() != y->Name() || x->Text() != y->Text() || x->ChildCount() != y->ChildCount())
      return false;
    for (int i = 0; i < x->ChildCount(); ++i) {
      if (x->GetChild(i)->Parent() != x) return false;
      pending.emplace_back(x->GetChild(i), y->GetChild(i));
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TorXMLNode root;
  try {
    root.Parse(text);
  } catch (const ormelin::Exception&) {
    return 0;  // the tree read so far is released with the root
  }
  // A node that read no element keeps its empty name and writes "<></>".
  if (!AllNamesWritable(root)) return 0;

  const std::string xml = root.GetXML();
  TorXMLNode again;
  try {
    again.Parse(xml);
  } catch (const ormelin::Exception& e) {
    std::fprintf(stderr, "GetXML output does not parse: %s\n", e.what());
    std::abort();
  }
  if (!SameTree(root, again)) {
    std::fprintf(stderr, "Parse(GetXML(tree)) differs from the tree\n");
    std::abort();
  }
  if (again.GetXML() != xml) {
    std::fprintf(stderr, "GetXML is not stable across a round trip\n");
    std::abort();
  }
  return 0;
}
