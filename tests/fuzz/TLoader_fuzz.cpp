// Fuzz target for the client tree loader: the directory-tree XML a client
// sends with Sync. Any bytes either load or raise the system's error; a tree
// that loaded is written back as directory-tree XML that loads into a tree
// written the same way, and comparing it with an empty tree and with itself
// (the comparison a Sync runs) stays within memory and gives a task list
// whose XML parses.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "comparer/FileStructures.h"
#include "comparer/StructStreamer.h"
#include "comparer/Tasks.h"
#include "comparer/orXMLParser.h"
#include "platform/Exceptions.h"
#include "reference/TaskBuilder.h"

namespace {

using namespace ormelin;

void CheckTaskXML(TDirectory& source, TDirectory& target) {
  TTaskBuilder builder;
  TTaskList tasks;
  builder.Build(&source, &target, &tasks);
  const std::string xml = tasks.GetXML();
  if (xml.empty()) return;
  TorXMLNode node;
  try {
    node.Parse(xml);
  } catch (const Exception& e) {
    std::fprintf(stderr, "task list XML does not parse: %s\n", e.what());
    std::abort();
  }
  if (node.ChildCount() != tasks.Count()) {
    std::fprintf(stderr, "task list XML holds %d tasks, the list %d\n", node.ChildCount(),
                 tasks.Count());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TDirectory tree;
  try {
    TLoader::LoadFromXML(text, &tree);
  } catch (const Exception&) {
    return 0;
  }

  const std::string saved = TLoader::SaveToXML(tree);
  TDirectory reloaded;
  try {
    TLoader::LoadFromXML(saved, &reloaded);
  } catch (const Exception& e) {
    std::fprintf(stderr, "saved tree does not load: %s\n", e.what());
    std::abort();
  }
  if (TLoader::SaveToXML(reloaded) != saved) {
    std::fprintf(stderr, "tree changes across a save and a load\n");
    std::abort();
  }

  TDirectory empty;
  CheckTaskXML(tree, empty);
  CheckTaskXML(empty, tree);
  CheckTaskXML(tree, reloaded);
  return 0;
}
