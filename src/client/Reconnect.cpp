#include "client/Reconnect.h"

#include <algorithm>
#include <random>
#include <thread>

#include "client/ClientOutput.h"
#include "client/SyncConnection.h"
#include "net/NetErrors.h"
#include "platform/Cp1250.h"
#include "platform/Format.h"
#include "platform/Sockets.h"
#include "platform/Text.h"

namespace ormelin {
namespace {

constexpr int kFirstWaitMs = 200;
constexpr int kLongestWaitMs = 10000;

int Jitter(int waitMs) {
  thread_local std::mt19937 random{std::random_device{}()};
  return waitMs + std::uniform_int_distribution<int>(0, waitMs / 2)(random);
}

}  // namespace

TReconnect::TReconnect(std::string host, int port, int retries, int timeoutSeconds,
                       TClientOutput& output)
    : host_(std::move(host)),
      port_(port),
      retries_(retries),
      timeoutSeconds_(timeoutSeconds),
      output_(output) {}

bool TReconnect::Failed(const std::string& reason) {
  const auto now = std::chrono::steady_clock::now();
  if (failures_ == 0) deadline_ = now + std::chrono::seconds(timeoutSeconds_);
  if (failures_ >= retries_) return false;
  const int waitMs = Jitter(std::min(kLongestWaitMs, kFirstWaitMs << std::min(failures_, 16)));
  // A wait that would use up the time left leaves nothing to connect in.
  if (now + std::chrono::milliseconds(waitMs) >= deadline_) return false;
  ++failures_;
  // A failed connect names the server already.
  std::string why = CrLfToBlank(reason);
  const std::string prefix = Format("Spajanje na %s:%d nije uspjelo: ", host_.c_str(), port_);
  if (why.rfind(prefix, 0) == 0) why.erase(0, prefix.size());
  output_.Error(
      Format("Veza s poslužiteljem %s:%d nije uspjela (%s); novi pokušaj %d od %d za %d ms"_cp1250,
             host_.c_str(), port_, why.c_str(), failures_, retries_, waitMs));
  std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
  return true;
}

int TReconnect::ConnectLimitMs() const {
  if (failures_ == 0) return 0;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline_ - std::chrono::steady_clock::now());
  return static_cast<int>(std::max<int64_t>(1, left.count()));
}

bool IsConnectionFailure(const std::exception& error) {
  return dynamic_cast<const ESocketError*>(&error) != nullptr ||
         dynamic_cast<const EServerTimeout*>(&error) != nullptr ||
         dynamic_cast<const EConnectionLost*>(&error) != nullptr ||
         dynamic_cast<const EShortStream*>(&error) != nullptr ||
         dynamic_cast<const ESilentException*>(&error) != nullptr ||
         dynamic_cast<const EClosedSocket*>(&error) != nullptr;
}

}  // namespace ormelin
