#include "logger/zeLogger.h"

#include <bit>
#include <climits>
#include <new>

#include "platform/Exceptions.h"

namespace ormelin {

std::string TzeEvent::AsText() const {
  return AsText(DefaultFormatSettings());
}

std::string TzeEvent::AsText(const TFormatSettings& settings) const {
  // Built by concatenation rather than "%s" so that a message is copied
  // whole, whatever bytes it holds.
  std::string result = DateTimeToStr(time_, settings);
  result += "  - ";
  result += text_;
  return result;
}

TzeEventLog::TzeEventLog() = default;

TzeEventLog::~TzeEventLog() {
  TRecursiveMutexLock guard(lock_);
  for (auto& segment : segments_) segment.reset();
}

void TzeEventLog::Locate(size_t position, size_t& segment, size_t& offset) {
  const size_t shifted = position + kFirstSegment;
  segment = static_cast<size_t>(std::bit_width(shifted)) - 1 - kFirstSegmentBits;
  offset = shifted - (kFirstSegment << segment);
}

void TzeEventLog::Add(std::string text) {
  TRecursiveMutexLock guard(lock_);
  const size_t position = count_.load(std::memory_order_relaxed);
  // Positions beyond the int range could never be read back through Items.
  if (position >= static_cast<size_t>(INT_MAX)) throw std::bad_alloc();
  size_t segment = 0;
  size_t offset = 0;
  Locate(position, segment, offset);
  if (!segments_[segment]) segments_[segment] = std::make_unique<Slot[]>(kFirstSegment << segment);
  segments_[segment][offset] = std::make_unique<TzeEvent>(std::move(text), Now());
  count_.store(position + 1, std::memory_order_release);
}

int TzeEventLog::Count() const {
  return static_cast<int>(count_.load(std::memory_order_acquire));
}

// Reads `segments_` without the lock: `count_` orders them (see the header).
TzeEvent* TzeEventLog::Items(int index) const NO_THREAD_SAFETY_ANALYSIS {
  const size_t count = count_.load(std::memory_order_acquire);
  if (index < 0 || static_cast<size_t>(index) >= count) RaiseListIndexError(index);
  size_t segment = 0;
  size_t offset = 0;
  Locate(count - 1 - static_cast<size_t>(index), segment, offset);
  return segments_[segment][offset].get();
}

void TzeEventLog::Lock() {
  lock_.Lock();
}

void TzeEventLog::Unlock() {
  lock_.Unlock();
}

std::unique_ptr<TzeEventEnum> TzeEventLog::GetEnumerator() {
  return std::make_unique<TzeEventEnum>(*this);
}

TzeEventEnum::TzeEventEnum(TzeEventLog& log) : log_(log) {
  log_.Lock();
}

TzeEventEnum::~TzeEventEnum() {
  log_.Unlock();
}

bool TzeEventEnum::MoveNext() {
  // Stops counting once past the end, so repeated calls cannot overflow.
  if (position_ < log_.Count()) ++position_;
  return position_ < log_.Count();
}

TzeEvent* TzeEventEnum::Current() const {
  return log_.Items(position_);
}

}  // namespace ormelin
