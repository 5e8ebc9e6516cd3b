// The answer to a sync: the task list that brings the client's tree level
// with the project's, as XML, written straight from the two packed trees.
// It is what TTaskBuilder builds for the same two trees, less its
// deletions (a sync never deletes), in the same order and with the same
// text as TTaskList::GetXML: per folder level the files first, then the
// sub-folders by name, depth first; a folder the client lacks comes with
// its whole content in the project's own order. No tasks give the empty
// text.
//
// Threading: the project's tree is only read; the client's belongs to the
// caller.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace ormelin {

class TCompactTree;
class TReceivedTree;

// `project` is frozen; `client` was grouped against it (TReceivedTree::Group).
std::string SyncAnswerXML(const TCompactTree& project, const TReceivedTree& client,
                          const TFormatSettings& settings = DefaultFormatSettings());

// The same text handed to `sink` in pieces of about 64 KiB, in order, so
// that an answer of many tasks need not be held whole. Writing it twice
// gives the same pieces.
void WriteSyncAnswer(const TCompactTree& project, const TReceivedTree& client,
                     const std::function<void(std::string_view piece)>& sink,
                     const TFormatSettings& settings = DefaultFormatSettings());

}  // namespace ormelin
