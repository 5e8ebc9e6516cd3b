// A transport for fuzz targets: the connection reads the given bytes in
// pieces whose sizes follow from a seed (so every run splits the input
// somewhere else), then finds the peer closed; what the connection sends is
// collected up to a bound. Used by one thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "net/IOHandler.h"

namespace ormelin::fuzz {

class TFuzzTransport : public TIOHandler {
 public:
  // A seed of 0 hands the whole input over in one piece.
  TFuzzTransport(std::string_view input, uint32_t seed) : input_(input), state_(seed) {}

  size_t Receive(void* buffer, size_t count) override { return Take(buffer, count); }
  std::optional<size_t> TryReceive(void* buffer, size_t count) override {
    return Take(buffer, count);
  }
  size_t Send(const void* buffer, size_t count) override {
    if (shutdown_) return 0;
    const size_t kept = std::min(count, kMaxSent - std::min(kMaxSent, sent_.size()));
    sent_.append(static_cast<const char*>(buffer), kept);
    return count;
  }
  void Shutdown() override { shutdown_ = true; }
  std::string PeerAddress() const override { return "127.0.0.1"; }
  int PeerPort() const override { return 40000; }

  const std::string& Sent() const { return sent_; }

 private:
  static constexpr size_t kMaxSent = 1 << 20;

  size_t Take(void* buffer, size_t count) {
    if (shutdown_ || position_ >= input_.size()) return 0;
    size_t piece = input_.size() - position_;
    if (state_ != 0) {
      state_ = state_ * 1103515245u + 12345u;
      piece = std::min<size_t>(piece, 1 + (state_ >> 16) % 64);
    }
    piece = std::min(piece, count);
    std::memcpy(buffer, input_.data() + position_, piece);
    position_ += piece;
    return piece;
  }

  std::string_view input_;
  size_t position_ = 0;
  uint32_t state_;
  bool shutdown_ = false;
  std::string sent_;
};

}  // namespace ormelin::fuzz
