// A transport for connection tests without sockets: received bytes come in
// the pieces the test gives, in order, and then the peer closes (or, for a
// transport left open, a further blocking read fails the test instead of
// hanging). Sent bytes are collected, with the size of each send.
#pragma once

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/IOHandler.h"

namespace ormelin::test {

struct TScriptedLog {
  std::string Sent;
  std::vector<size_t> SendSizes;
};

class TScriptedIO : public TIOHandler {
 public:
  TScriptedIO(std::vector<std::string> pieces, TScriptedLog* log = nullptr, bool closeAtEnd = true)
      : pieces_(std::move(pieces)), log_(log), closeAtEnd_(closeAtEnd) {
    pieces_.erase(std::remove(pieces_.begin(), pieces_.end(), std::string()), pieces_.end());
  }

  size_t Receive(void* buffer, size_t count) override {
    if (next_ >= pieces_.size()) {
      if (closeAtEnd_) return 0;
      throw std::logic_error("the connection would wait for ever");
    }
    return Take(buffer, count);
  }
  std::optional<size_t> TryReceive(void* buffer, size_t count) override {
    if (next_ >= pieces_.size()) return closeAtEnd_ ? std::optional<size_t>(0) : std::nullopt;
    return Take(buffer, count);
  }
  size_t Send(const void* buffer, size_t count) override {
    if (log_) {
      log_->Sent.append(static_cast<const char*>(buffer), count);
      log_->SendSizes.push_back(count);
    }
    return count;
  }
  void Shutdown() override {}
  std::string PeerAddress() const override { return "127.0.0.1"; }
  int PeerPort() const override { return 50000; }

 private:
  size_t Take(void* buffer, size_t count) {
    const std::string& piece = pieces_[next_];
    const size_t n = std::min(count, piece.size() - offset_);
    std::memcpy(buffer, piece.data() + offset_, n);
    offset_ += n;
    if (offset_ == piece.size()) {
      ++next_;
      offset_ = 0;
    }
    return n;
  }

  std::vector<std::string> pieces_;
  size_t next_ = 0;
  size_t offset_ = 0;
  TScriptedLog* log_;
  bool closeAtEnd_;
};

// Every way of cutting `text` into two pieces, the uncut text included.
inline std::vector<std::vector<std::string>> TwoPieceSplits(const std::string& text) {
  std::vector<std::vector<std::string>> splits;
  for (size_t cut = 0; cut <= text.size(); ++cut)
    splits.push_back({text.substr(0, cut), text.substr(cut)});
  return splits;
}

inline std::vector<std::string> BytePieces(const std::string& text) {
  std::vector<std::string> pieces;
  for (char c : text) pieces.emplace_back(1, c);
  return pieces;
}

}  // namespace ormelin::test
