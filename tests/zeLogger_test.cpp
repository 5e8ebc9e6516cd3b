#include "logger/zeLogger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Exceptions.h"

namespace ormelin {
namespace {

std::vector<std::string> Walk(TzeEventLog& log) {
  std::vector<std::string> texts;
  auto walk = log.GetEnumerator();
  while (walk->MoveNext()) texts.push_back(walk->Current()->Text());
  return texts;
}

std::string ListIndexMessage(const TzeEventLog& log, int index) {
  try {
    log.Items(index);
  } catch (const EListError& e) {
    return e.Message();
  }
  return "no error";
}

TEST(TzeEventLog, EmptyLogHasNothingToWalkOrIndex) {
  TzeEventLog log;
  EXPECT_EQ(log.Count(), 0);
  auto walk = log.GetEnumerator();
  EXPECT_FALSE(walk->MoveNext());
  EXPECT_FALSE(walk->MoveNext());
  EXPECT_EQ(ListIndexMessage(log, 0), "List index out of bounds (0)");
}

TEST(TzeEventLog, NewestFirstInItemsAndWalk) {
  TzeEventLog log;
  log.Add("A");
  log.Add("B");
  ASSERT_EQ(log.Count(), 2);
  EXPECT_EQ(log.Items(0)->Text(), "B");
  EXPECT_EQ(log.Items(1)->Text(), "A");
  EXPECT_LE(log.Items(1)->Time(), log.Items(0)->Time());
  EXPECT_EQ(Walk(log), (std::vector<std::string>{"B", "A"}));
  EXPECT_EQ(ListIndexMessage(log, -1), "List index out of bounds (-1)");
  EXPECT_EQ(ListIndexMessage(log, 2), "List index out of bounds (2)");
}

// Crosses many storage segments: index mapping and address stability.
TEST(TzeEventLog, ManyEventsKeepOrderAndAddresses) {
  TzeEventLog log;
  constexpr int kEvents = 200000;
  log.Add("0");
  const TzeEvent* first = log.Items(0);
  for (int i = 1; i < kEvents; ++i) log.Add(std::to_string(i));
  ASSERT_EQ(log.Count(), kEvents);
  EXPECT_EQ(log.Items(kEvents - 1), first);
  for (int i = 0; i < kEvents; ++i)
    ASSERT_EQ(log.Items(i)->Text(), std::to_string(kEvents - 1 - i));
}

TEST(TzeEvent, AsTextUsesShortDateAndLongTime) {
  TFormatSettings settings = CroatianFormatSettings();
  settings.DateSeparator = '.';
  settings.TimeSeparator = ':';
  settings.ShortDateFormat = "dd/mm/yyyy";
  settings.LongTimeFormat = "hh:nn:ss";
  struct TCase {
    TDateTime time;
    const char* text;
    const char* expected;
  } cases[] = {
      {EncodeDateTime(2026, 12, 8, 14, 3, 5), "Server pokrenut",
       "08.12.2026 14:03:05  - Server pokrenut"},
      {EncodeDateTime(2026, 12, 8, 0, 0, 0), "Pono\xE6", "08.12.2026  - Pono\xE6"},
      {EncodeDateTime(2027, 1, 2, 0, 0, 1), "", "02.01.2027 00:00:01  - "},
  };
  for (const TCase& c : cases) {
    TzeEvent event(c.text, c.time);
    EXPECT_EQ(event.AsText(settings), c.expected) << c.text;
  }
  TzeEvent event("x", cases[0].time);
  EXPECT_EQ(event.AsText(), event.AsText(DefaultFormatSettings()));
}

// Waits (bounded) until `flag` is set; false when it never was.
bool WaitFor(const std::atomic<bool>& flag) {
  for (int i = 0; i < 2000 && !flag; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return flag;
}

TEST(TzeEventLog, EnumeratorBlocksOtherThreadsAdd) {
  TzeEventLog log;
  log.Add("prije");
  std::atomic<bool> started{false};
  std::atomic<bool> added{false};
  auto walk = log.GetEnumerator();
  std::thread writer([&] {
    started = true;
    log.Add("poslije");
    added = true;
  });
  ASSERT_TRUE(WaitFor(started));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(added);
  EXPECT_EQ(log.Count(), 1);
  ASSERT_TRUE(walk->MoveNext());
  EXPECT_EQ(walk->Current()->Text(), "prije");
  EXPECT_FALSE(walk->MoveNext());
  walk.reset();
  writer.join();
  EXPECT_TRUE(added);
  ASSERT_EQ(log.Count(), 2);
  EXPECT_EQ(log.Items(0)->Text(), "poslije");
}

TEST(TzeEventLog, SameThreadMayAddWhileWalkingAndLockIsReentrant) {
  TzeEventLog log;
  log.Add("A");
  {
    auto walk = log.GetEnumerator();
    auto nested = log.GetEnumerator();
    log.Lock();
    log.Add("B");
    log.Unlock();
    EXPECT_EQ(log.Count(), 2);
    EXPECT_EQ(log.Items(0)->Text(), "B");
  }
  // Every entry was left as often as entered: another thread can add now.
  std::thread writer([&] { log.Add("C"); });
  writer.join();
  EXPECT_EQ(Walk(log), (std::vector<std::string>{"C", "B", "A"}));
}

TEST(TzeEventLog, ConcurrentAddsLoseNothingAndStayInTimeOrder) {
  TzeEventLog log;
  constexpr int kThreads = 4;
  constexpr int kPerThread = 5000;
  std::atomic<bool> done{false};
  // A reader that follows the rules (lock around Count and Items) while the
  // writers run; it must always see a consistent newest entry.
  std::thread reader([&] {
    while (!done) {
      log.Lock();
      if (log.Count() > 0) {
        EXPECT_FALSE(log.Items(0)->Text().empty());
      }
      log.Unlock();
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t)
    writers.emplace_back([&log, t] {
      for (int i = 0; i < kPerThread; ++i) log.Add(std::to_string(t) + ":" + std::to_string(i));
    });
  for (auto& w : writers) w.join();
  done = true;
  reader.join();
  ASSERT_EQ(log.Count(), kThreads * kPerThread);
  std::set<std::string> seen;
  for (int i = 0; i < log.Count(); ++i) {
    seen.insert(log.Items(i)->Text());
    if (i > 0) {
      EXPECT_GE(log.Items(i - 1)->Time(), log.Items(i)->Time());
    }
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kPerThread));
}

}  // namespace
}  // namespace ormelin
