#include "client/RequestWindow.h"

#include <algorithm>

namespace ormelin {

TRequestWindow::TRequestWindow(int cap)
    : cap_(std::max(1, cap)), size_(std::min(std::max(1, cap), kFirst)) {}

void TRequestWindow::Answered(const TStamp& stamp, TClock::time_point head,
                              TClock::time_point whole, int64_t bytes) {
  using TSeconds = std::chrono::duration<double>;
  delivered_ += std::max<int64_t>(0, bytes);
  ++answers_;
  const double trip = std::max(0.0, TSeconds(head - stamp.Sent).count());
  if (shortestTrip_ < 0 || trip < shortestTrip_) shortestTrip_ = trip;
  const double took = TSeconds(whole - stamp.Sent).count();
  if (took > 0) {
    fastestRate_ = std::max(fastestRate_, static_cast<double>(delivered_ - stamp.Delivered) / took);
  }
  if (size_ >= cap_) return;
  const double average = static_cast<double>(delivered_) / static_cast<double>(answers_);
  if (static_cast<double>(size_) * average < 2 * fastestRate_ * shortestTrip_) ++size_;
}

}  // namespace ormelin
