#include "client/RequestWindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

namespace ormelin {
namespace {

using TClock = TRequestWindow::TClock;

TClock::time_point At(double seconds) {
  return TClock::time_point(
      std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds)));
}

struct TLink {
  double Mbit;
  double TripMs;  // there and back
  int64_t FileBytes;
};

struct TOutcome {
  int LargestWindow = 0;
  double Seconds = 0;
};

// One connection fetching `files` files of one size over the link, in
// simulated time: the server answers in order as the requests arrive, the
// link sends one answer after another at its rate, and the client reads
// each answer as it comes and refills the window as the fetcher does, once
// half of it is answered.
TOutcome Fetch(const TLink& link, int cap, int files) {
  const double rate = link.Mbit * 1e6 / 8;
  const double oneWay = link.TripMs / 2000;
  struct TRequest {
    TRequestWindow::TStamp Stamp;
    double Head;   // when its answer's first byte reaches the client
    double Whole;  // and its last
  };
  TRequestWindow window(cap);
  std::deque<TRequest> pending;
  double now = 0;
  double wireFree = 0;  // when the link has sent the answers so far
  int sent = 0;
  TOutcome outcome;
  for (int answered = 0; answered < files;) {
    if (static_cast<int>(pending.size()) <= window.Size() / 2) {
      const TRequestWindow::TStamp stamp = window.Sent(At(now));
      while (static_cast<int>(pending.size()) < window.Size() && sent < files) {
        const double start = std::max(now + oneWay, wireFree);
        wireFree = start + static_cast<double>(link.FileBytes) / rate;
        pending.push_back({stamp, start + oneWay, wireFree + oneWay});
        ++sent;
      }
    }
    outcome.LargestWindow = std::max(outcome.LargestWindow, window.Size());
    const TRequest request = pending.front();
    pending.pop_front();
    const double head = std::max(now, request.Head);
    now = std::max(head, request.Whole);
    window.Answered(request.Stamp, At(head), At(now), link.FileBytes);
    ++answered;
  }
  outcome.Seconds = now;
  return outcome;
}

TEST(RequestWindowTest, GrowsToTheLinkAndNoFurther) {
  struct TCase {
    const char* Name;
    TLink Link;
    int Cap;
    int Files;
    int LeastWindow;
    int MostWindow;
    double MostOfLimit;  // of the bytes at the link's rate and two round trips; 0: not checked
  };
  const std::vector<TCase> cases = {
      // 625 KB in flight: 250 files.
      {"a long fast link", {100, 50, 2500}, 1024, 10000, 250, 750, 1.15},
      {"the cap holds", {100, 50, 2500}, 64, 2000, 64, 64, 0},
      {"a cap below the first window", {100, 50, 2500}, 4, 100, 4, 4, 0},
      // 12.5 KB in flight: fewer than the first window.
      {"a short link keeps the first window", {1000, 0.1, 2500}, 1024, 10000, 32, 32, 1.15},
      {"large files need no more requests", {100, 50, 1 << 20}, 1024, 200, 32, 32, 1.15},
      // 75 KB in flight: 30 files.
      {"a slow link with a long delay", {1, 600, 2500}, 1024, 2000, 32, 90, 1.15},
      {"empty files", {100, 50, 0}, 1024, 2000, 32, 32, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TOutcome outcome = Fetch(c.Link, c.Cap, c.Files);
    EXPECT_GE(outcome.LargestWindow, c.LeastWindow);
    EXPECT_LE(outcome.LargestWindow, c.MostWindow);
    if (c.MostOfLimit > 0) {
      const double limit = static_cast<double>(c.Files) * static_cast<double>(c.Link.FileBytes) /
                               (c.Link.Mbit * 1e6 / 8) +
                           2 * c.Link.TripMs / 1000;
      EXPECT_LE(outcome.Seconds, c.MostOfLimit * limit) << "limit " << limit;
    }
  }
}

}  // namespace
}  // namespace ormelin
