// How many GetFile requests one connection keeps outstanding. A fixed count
// either starves a long link (32 requests of 2 KB a round trip of 50 ms is
// 1.3 MB/s, whatever the link's rate) or floods a short one, so the window
// grows as TCP's does: from kFirst by one for each answer (doubling every
// round trip while the answers keep coming), until the bytes it holds cover
// twice the link's bandwidth-delay product, and never beyond the cap the
// user gives (--pipeline).
//
// The product is estimated as the answers come: the shortest round trip
// seen (a request's going out to its answer's first line) times the highest
// delivery rate seen (the bytes answered since a request went out, over the
// time until its own answer was whole). While the window alone limits the
// rate, that estimate is the window itself, so the window grows; once the
// link does, the estimate stops growing and so does the window. It never
// shrinks: what it costs is requests waiting in the server's socket buffer.
//
// Threading: one per connection's worker; no locking.
#pragma once

#include <chrono>
#include <cstdint>

namespace ormelin {

class TRequestWindow {
 public:
  using TClock = std::chrono::steady_clock;
  // Where the window starts: enough for a loopback server to answer
  // requests in batches.
  static constexpr int kFirst = 32;

  explicit TRequestWindow(int cap);

  int Size() const { return size_; }

  // What the window needs to know of a request when its answer comes.
  struct TStamp {
    TClock::time_point Sent;
    int64_t Delivered = 0;  // bytes answered on the connection before it
  };
  TStamp Sent(TClock::time_point now) const { return {now, delivered_}; }

  // The answer to the request `stamp` began at `head` and was whole at
  // `whole`, with `bytes` in all.
  void Answered(const TStamp& stamp, TClock::time_point head, TClock::time_point whole,
                int64_t bytes);

 private:
  const int cap_;
  int size_;
  int64_t delivered_ = 0;
  int64_t answers_ = 0;
  double shortestTrip_ = -1;  // seconds; -1 before the first answer
  double fastestRate_ = 0;    // bytes per second
};

}  // namespace ormelin
