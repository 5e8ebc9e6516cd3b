// What reading a directory-tree XML gives, as one text to compare: every
// entry in list order with its name and the exact bits of its time, or the
// error's type and message. The streaming reader's differential test and
// fuzz target compare it with what TLoader::LoadFromXML gives. Likewise a
// sync's answer: the packed trees' (SyncAnswerXML) against the task
// builder's over trees of objects.
#pragma once

#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>
#include <vector>

#include "comparer/CompactTree.h"
#include "comparer/FileStructures.h"
#include "comparer/ReceivedTree.h"
#include "comparer/StructStreamer.h"
#include "comparer/SyncAnswer.h"
#include "comparer/Tasks.h"
#include "comparer/TreeReader.h"
#include "fuzz/support/Pieces.h"
#include "platform/Exceptions.h"
#include "protocol/SyncVocabulary.h"
#include "reference/FrozenTree.h"
#include "reference/TaskBuilder.h"

namespace ormelin::testing {

inline void DescribeEntry(const TBaseFile& entry, char kind, size_t depth, std::string& out) {
  const double date = entry.DateModified();
  uint64_t bits = 0;
  std::memcpy(&bits, &date, sizeof bits);
  out += std::string(depth, ' ') + kind + " [" + entry.Name() + "] " + std::to_string(bits) + "\n";
}

inline std::string DescribeTree(const TDirectory& root) {
  std::string out;
  std::vector<std::pair<const TDirectory*, size_t>> pending{{&root, 0}};
  DescribeEntry(root, 'D', 0, out);
  while (!pending.empty()) {
    const auto [folder, depth] = pending.back();
    pending.pop_back();
    for (int i = 0; i < folder->FileCount(); ++i)
      DescribeEntry(*folder->GetFile(i), 'F', depth + 1, out);
    for (int i = folder->DirectoryCount(); i-- > 0;) {
      DescribeEntry(*folder->GetDirectory(i), 'D', depth + 1, out);
      pending.emplace_back(folder->GetDirectory(i), depth + 1);
    }
  }
  return out;
}

inline std::string DescribeFailure(const std::exception& error) {
  const auto* own = dynamic_cast<const Exception*>(&error);
  return std::string("! ") + typeid(error).name() + ": " + (own ? own->Message() : error.what());
}

inline std::string OutcomeByNodes(std::string_view xml) {
  TDirectory tree;
  try {
    TLoader::LoadFromXML(xml, &tree);
  } catch (const std::exception& error) {
    return DescribeFailure(error);
  }
  return DescribeTree(tree);
}

// The streaming reader's outcome with the text fed in pieces cut at `cuts`
// (ascending offsets).
inline std::string OutcomeStreamed(std::string_view xml, const std::vector<size_t>& cuts) {
  TDirectory tree;
  TStreamingTreeReader reader(&tree);
  FeedInPieces(reader, xml, cuts);
  try {
    reader.Finish();
  } catch (const std::exception& error) {
    return DescribeFailure(error);
  }
  return DescribeTree(tree);
}

// The answer to a client whose tree is `clientXML`, from the project tree
// `project`, as the task builder gives it (less its deletions), or the
// client tree's error.
inline std::string AnswerByNodes(const TFrozenTree& project, std::string_view clientXML) {
  TDirectory client;
  try {
    TLoader::LoadFromXML(clientXML, &client);
  } catch (const std::exception& error) {
    return DescribeFailure(error);
  }
  TTaskBuilder builder;
  TTaskList tasks;
  builder.Build(project, &client, &tasks);
  RemoveDeleteTasks(tasks);
  return tasks.GetXML();
}

// The same from the packed trees, with the client's text streamed in one
// piece. `project` is frozen.
inline std::string AnswerCompact(const TCompactTree& project, std::string_view clientXML) {
  TReceivedTree client;
  TStreamingTreeReader reader(client);
  reader.Feed(clientXML);
  try {
    reader.Finish();
  } catch (const std::exception& error) {
    return DescribeFailure(error);
  }
  client.Group(project);
  return SyncAnswerXML(project, client);
}

}  // namespace ormelin::testing
