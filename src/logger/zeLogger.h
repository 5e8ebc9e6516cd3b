// The event log: the in-memory, newest-first record of time-stamped messages
// that every subsystem writes and the web console shows. Nothing is written
// to disk and nothing is removed while the log lives; it grows for as long as
// the service runs.
//
// Threading: `Add` is safe from any thread. Every change and every walk is
// serialised by the log's one re-entrant lock (`Lock` / `Unlock`, or a
// TzeEventLogLock for a scope); an enumerator holds it for its whole life,
// so a walk sees a fixed list and an `Add` from another thread waits until
// the walk ends, while the walking thread itself may `Add`. `Count` and
// `Items` take no lock of their own: callers are expected to hold the lock
// around them (the enumerator does), but reads made without it are still
// free of data races (they see the log as it was at some moment). Events are
// never changed and never destroyed before the log, so an event pointer
// stays valid for the log's life.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/DateTime.h"
#include "platform/Mutex.h"

namespace ormelin {

// One entry of the log. Immutable once created.
class TzeEvent {
 public:
  TzeEvent(std::string text, TDateTime time) : text_(std::move(text)), time_(time) {}
  TzeEvent(const TzeEvent&) = delete;
  TzeEvent& operator=(const TzeEvent&) = delete;

  const std::string& Text() const { return text_; }
  TDateTime Time() const { return time_; }

  // "<time text>  - <Text>" where the time text is the short date, a blank
  // and the long time of the given conventions (the time is left out at
  // exactly midnight). The first form uses the process defaults.
  std::string AsText() const;
  std::string AsText(const TFormatSettings& settings) const;

 private:
  const std::string text_;
  const TDateTime time_;
};

class TzeEventEnum;

class TzeEventLog {
 public:
  TzeEventLog();
  ~TzeEventLog();
  TzeEventLog(const TzeEventLog&) = delete;
  TzeEventLog& operator=(const TzeEventLog&) = delete;

  // Stamps the text with the current local time and makes it index 0.
  // Constant time (amortised): existing events are neither moved nor copied.
  // Fails only when memory runs out; the lock is released on every path.
  void Add(std::string text);

  // Number of events. Takes no lock.
  int Count() const;
  // The event at `index`, 0 being the newest. Takes no lock. An index outside
  // 0 .. Count-1 raises EListError "List index out of bounds (%d)". The log
  // keeps ownership; the pointer stays valid for the log's life.
  TzeEvent* Items(int index) const;

  // Enter and leave the log's lock; re-entrant, leave as often as entered.
  void Lock() ACQUIRE(lock_);
  void Unlock() RELEASE(lock_);

  // A new enumerator over this log, holding the lock until it is destroyed.
  std::unique_ptr<TzeEventEnum> GetEnumerator();

 private:
  // Events are stored oldest first in segments that never move: segment k
  // holds kFirstSegment << k slots, so position p (0 = oldest) lives in a
  // fixed segment at a fixed offset and appending never touches what is
  // already stored. Index i of `Items` is position Count-1-i.
  static constexpr size_t kFirstSegmentBits = 6;
  static constexpr size_t kFirstSegment = size_t{1} << kFirstSegmentBits;
  static constexpr size_t kSegments = 40;
  using Slot = std::unique_ptr<TzeEvent>;

  friend class TzeEventLogLock;
  friend class TzeEventEnum;

  static void Locate(size_t position, size_t& segment, size_t& offset);

  // Guards every change of `segments_` and `count_`, and every walk.
  TRecursiveMutex lock_;
  // Written only under `lock_`; a segment pointer and its slots are written
  // before `count_` is raised past them (release), so lockless readers that
  // load `count_` (acquire) see them complete. `Items` is such a reader.
  std::unique_ptr<Slot[]> segments_[kSegments] GUARDED_BY(lock_);
  std::atomic<size_t> count_{0};
};

// Holds the log's lock for one scope.
class SCOPED_CAPABILITY TzeEventLogLock {
 public:
  explicit TzeEventLogLock(TzeEventLog& log) ACQUIRE(log.lock_) : log_(log) { log_.Lock(); }
  ~TzeEventLogLock() RELEASE() { log_.Unlock(); }
  TzeEventLogLock(const TzeEventLogLock&) = delete;
  TzeEventLogLock& operator=(const TzeEventLogLock&) = delete;

 private:
  TzeEventLog& log_;
};

// A locking walk over the log, newest first. The log stays locked from
// creation to destruction; the enumerator belongs to the thread that made it
// and must be destroyed on every path (hold it in the unique_ptr that
// `GetEnumerator` returns).
class SCOPED_CAPABILITY TzeEventEnum {
 public:
  explicit TzeEventEnum(TzeEventLog& log) ACQUIRE(log.lock_);
  ~TzeEventEnum() RELEASE();
  TzeEventEnum(const TzeEventEnum&) = delete;
  TzeEventEnum& operator=(const TzeEventEnum&) = delete;

  // Advances to the next event; false once the walk has passed the last one.
  bool MoveNext();
  // The event at the current position (after a MoveNext that returned true).
  TzeEvent* Current() const;

 private:
  int position_ = -1;
  TzeEventLog& log_;
};

}  // namespace ormelin
