#include "comparer/TaskListReader.h"

#include "comparer/orXMLParser.h"
#include "platform/Collation.h"
#include "platform/Cp1250.h"
#include "protocol/SyncVocabulary.h"

namespace ormelin {
namespace {

// The node reader's comparison of an element name with a wanted one.
bool SameName(std::string_view name, std::string_view wanted, const std::string& wantedKey) {
  return name == wanted || CollationKey(name) == wantedKey;
}

}  // namespace

TTaskListReader::TTaskListReader(TTaskSink sink)
    : sink_(std::move(sink)),
      taskKey_(CollationKey(kTaskElement)),
      paramKey_(CollationKey(kParamElement)) {}

void TTaskListReader::Feed(std::string_view bytes) {
  if (failure_) return;
  try {
    Consume(bytes);
  } catch (...) {
    failure_ = std::current_exception();
    pending_.clear();
  }
}

void TTaskListReader::Finish() {
  if (failure_) std::rethrow_exception(failure_);
  // What the node reader drops: a trailing run, an unfinished tag.
  pending_.clear();
  if (roles_.size() >= 2 && roles_[1] == TRole::Task) EndTask();
}

std::string* TTaskListReader::KeptText() {
  if (roles_.empty()) return nullptr;
  if (roles_.back() == TRole::Task) return &taskName_;
  if (roles_.back() == TRole::Param) return &taskParams_;
  return nullptr;
}

void TTaskListReader::Consume(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    if (!inTag_) {
      // A run counts only once its end is seen, so a kept run waits whole
      // in pending_ (each run is trimmed at its right end).
      const size_t lt = bytes.find('<', i);
      std::string* kept = KeptText();
      if (lt == std::string_view::npos) {
        if (kept) pending_.append(bytes.substr(i));
        return;
      }
      if (kept) {
        pending_.append(bytes.substr(i, lt - i));
        AppendXMLTextRun(*kept, pending_);
      }
      pending_.clear();
      inTag_ = true;
      i = lt + 1;
    } else {
      const size_t bracket = bytes.find_first_of("<>", i);
      if (bracket == std::string_view::npos) {
        pending_.append(bytes.substr(i));
        return;
      }
      if (bytes[bracket] == '<') throw EXMLError("Početak taga u tagu"_cp1250);
      pending_.append(bytes.substr(i, bracket - i));
      if (!pending_.empty()) Tag(pending_);
      pending_.clear();
      inTag_ = false;
      i = bracket + 1;
    }
  }
}

void TTaskListReader::Tag(std::string_view tag) {
  if (tag.back() == '/') {
    Open(tag.substr(0, tag.size() - 1), true);
  } else if (tag.front() == '/') {
    if (names_.empty())
      throw EXMLError("Zatvarajući tag "_cp1250 + std::string(tag) + " bez otvorenog taga");
    if (tag.substr(1) != names_.back())
      throw EXMLError("Tag " + names_.back() + " završava na tag "_cp1250 + std::string(tag));
    if (roles_.back() == TRole::Task) EndTask();
    names_.pop_back();
    roles_.pop_back();
  } else {
    Open(tag, false);
  }
}

void TTaskListReader::Open(std::string_view name, bool selfClosing) {
  if (names_.empty()) {
    // The outer element, even a self-closing one, stays open; one after it
    // takes its place and adds to the same list.
    names_.emplace_back(name);
    roles_.push_back(TRole::Other);
    return;
  }
  if (names_.size() >= static_cast<size_t>(MaxXMLDepth))
    throw EXMLError("Dokument je ugniježđen dublje od "_cp1250 + std::to_string(MaxXMLDepth) +
                    " razina");
  TRole role = TRole::Other;
  if (names_.size() == 1) {
    if (SameName(name, kTaskElement, taskKey_)) {
      role = TRole::Task;
      taskName_.clear();
      taskParams_.clear();
      paramSeen_ = false;
    }
  } else if (names_.size() == 2 && roles_.back() == TRole::Task && !paramSeen_ &&
             SameName(name, kParamElement, paramKey_)) {
    role = TRole::Param;  // the first one only
    paramSeen_ = true;
  }
  if (selfClosing) {
    if (role == TRole::Task) EndTask();
    return;
  }
  names_.emplace_back(name);
  roles_.push_back(role);
}

void TTaskListReader::EndTask() {
  sink_(taskName_, taskParams_);
}

}  // namespace ormelin
