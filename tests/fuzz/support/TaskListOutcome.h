// What reading a task-list XML gives, as one text to compare: every task in
// list order with its kind and parameter text, or the error's type and
// message. The streaming task-list reader's differential test and fuzz
// target compare it with the node reader's: the document parsed whole, then
// every "task" child of the outer element with the text of its first
// "param" child, as the client read task lists before it streamed them.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "Pieces.h"
#include "comparer/TaskListReader.h"
#include "comparer/orXMLParser.h"
#include "platform/Exceptions.h"
#include "protocol/SyncVocabulary.h"

namespace ormelin::testing {

inline std::string DescribeTask(std::string_view name, std::string_view params) {
  return "[" + std::string(name) + "] [" + std::string(params) + "]\n";
}

inline std::string DescribeTaskFailure(const std::exception& error) {
  const auto* own = dynamic_cast<const Exception*>(&error);
  return std::string("! ") + typeid(error).name() + ": " + (own ? own->Message() : error.what());
}

inline std::string TaskOutcomeByNodes(std::string_view xml) {
  if (xml.empty()) return std::string();
  std::string out;
  try {
    TorXMLNode root;
    root.Parse(xml);
    for (int i = root.IndexOfChild(kTaskElement, 0); i >= 0;
         i = root.IndexOfChild(kTaskElement, i + 1)) {
      TorXMLNode* node = root.GetChild(i);
      TorXMLNode* param = node->ChildByName(kParamElement, false);
      out += DescribeTask(node->Text(), param ? param->Text() : std::string());
    }
  } catch (const std::exception& error) {
    return DescribeTaskFailure(error);
  }
  return out;
}

// The streaming reader's outcome with the text fed in pieces cut at `cuts`
// (ascending offsets).
inline std::string TaskOutcomeStreamed(std::string_view xml, const std::vector<size_t>& cuts) {
  std::string out;
  TTaskListReader reader([&out](std::string_view name, std::string_view params) {
    out += DescribeTask(name, params);
  });
  FeedInPieces(reader, xml, cuts);
  try {
    reader.Finish();
  } catch (const std::exception& error) {
    return DescribeTaskFailure(error);
  }
  return out;
}

}  // namespace ormelin::testing
