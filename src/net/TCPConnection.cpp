#include "net/TCPConnection.h"

#include <algorithm>
#include <cstring>

#include "net/TlsTransport.h"

namespace ormelin {

TTCPConnection::TTCPConnection(std::unique_ptr<TIOHandler> handler)
    : handler_(std::move(handler)), transport_(handler_.get()) {}

std::unique_ptr<TTCPConnection> TTCPConnection::Connect(std::string_view host, int port,
                                                        int timeoutMs, int connectMs) {
  TSocket socket = TSocket::Connect(host, port, connectMs > 0 ? connectMs : timeoutMs);
  if (timeoutMs > 0) socket.SetIdleTimeout(timeoutMs);
  return std::make_unique<TTCPConnection>(std::make_unique<TIOHandlerSocket>(std::move(socket)));
}

void TTCPConnection::ThrowIfDisconnected() const {
  if (disconnected_.load(std::memory_order_acquire)) throw ENotConnected();
}

char* TTCPConnection::PrepareReceive(size_t room) {
  if (start_ == end_) start_ = end_ = 0;
  if (storage_.size() - end_ < room) {
    if (start_ > 0) {
      std::memmove(storage_.data(), storage_.data() + start_, Buffered());
      end_ -= start_;
      start_ = 0;
    }
    if (storage_.size() - end_ < room) storage_.resize(end_ + room);
  }
  return storage_.data() + end_;
}

bool TTCPConnection::ReadFromTransport(size_t room) {
  ThrowIfDisconnected();
  if (!held_.empty()) SendHeld();  // the peer may be waiting for them
  if (peerClosed_) return false;
  if (readsEndBy_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        *readsEndBy_ - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !handler_->WaitReadable(static_cast<int>(left.count()) + 1)) {
      throw EReadTimeLimit();
    }
  }
  char* target = PrepareReceive(room);
  const size_t got = handler_->Receive(target, room);
  if (got == 0) {
    peerClosed_ = true;
    return false;
  }
  end_ += got;
  return true;
}

bool TTCPConnection::ReceiveMore(int timeoutMs) {
  ThrowIfDisconnected();
  if (timeoutMs > 0 && !peerClosed_ && !handler_->WaitReadable(timeoutMs)) return false;
  return ReadFromTransport();
}

void TTCPConnection::Skip(size_t count) {
  Consume(std::min(count, Buffered()));
}

void TTCPConnection::SetPeerAddress(std::string address, int port) {
  relayedAddress_ = std::move(address);
  relayedPort_ = port;
}

void TTCPConnection::ShrinkBuffer() {
  if (storage_.size() <= 2 * kRecvBufferSize || Buffered() > kRecvBufferSize) return;
  std::string kept(storage_.data() + start_, Buffered());
  kept.resize(kRecvBufferSize);
  storage_.swap(kept);
  end_ = Buffered();
  start_ = 0;
}

void TTCPConnection::Consume(size_t count) {
  if (count > 0) readAny_ = true;
  start_ += count;
  if (start_ == end_) start_ = end_ = 0;
}

std::string TTCPConnection::ReadLine() {
  ShrinkBuffer();
  size_t searched = start_;
  for (;;) {
    const char* begin = storage_.data();
    const void* found = std::memchr(begin + searched, '\n', end_ - searched);
    if (found) {
      const size_t lf = static_cast<const char*>(found) - begin;
      if (lf - start_ > kMaxLineLength) throw EReadLnMaxLineLengthExceeded();
      size_t stop = lf;
      if (stop > start_ && storage_[stop - 1] == '\r') --stop;
      std::string line(begin + start_, stop - start_);
      Consume(lf + 1 - start_);
      return line;
    }
    if (Buffered() > kMaxLineLength) throw EReadLnMaxLineLengthExceeded();
    searched = end_ - start_;  // offset from start_, kept across a compaction
    if (!ReadFromTransport()) {
      start_ = end_ = 0;  // the unterminated rest is dropped with the connection
      throw EConnClosedGracefully();
    }
    searched += start_;
  }
}

void TTCPConnection::Write(std::string_view bytes) {
  if (!held_.empty()) {
    if (bytes.size() <= kMaxHeld) {
      held_.append(bytes);
      SendHeld();
      return;
    }
    SendHeld();
  }
  Send(bytes);
}

void TTCPConnection::WriteSoon(std::string_view bytes) {
  if (held_.size() + bytes.size() <= kMaxHeld && LineBuffered()) {
    held_.append(bytes);
    return;
  }
  Write(bytes);
}

bool TTCPConnection::LineBuffered() const {
  return std::memchr(storage_.data() + start_, '\n', Buffered()) != nullptr;
}

void TTCPConnection::SendHeld() {
  std::string held = std::move(held_);
  held_.clear();
  Send(held);
}

void TTCPConnection::Send(std::string_view bytes) {
  ThrowIfDisconnected();
  while (!bytes.empty()) {
    const size_t sent = handler_->Send(bytes.data(), bytes.size());
    if (sent == 0) {
      peerClosed_ = true;
      throw EConnClosedGracefully();
    }
    bytes.remove_prefix(sent);
  }
}

void TTCPConnection::WriteLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text).append("\r\n");
  Write(line);
}

void TTCPConnection::WriteStreamBytes(TStream& stream, int64_t count) {
  if (count <= 0) {
    count = stream.Size();
    stream.SetPosition(0);
  }
  if (count > kMaxStreamSize) throw EIoHandlerRequiresLargeStream();
  int64_t remaining = count;
  auto* file = dynamic_cast<TFileStream*>(&stream);
  if (file && handler_->CanSendFile()) {
    ThrowIfDisconnected();
    if (!held_.empty()) SendHeld();
    int64_t position = file->Position();
    while (remaining > 0) {
      const size_t sent =
          handler_->SendFile(file->NativeHandle(), position, static_cast<size_t>(remaining));
      if (sent == 0) {
        file->SetPosition(position);
        throw ENoDataToRead();
      }
      position += static_cast<int64_t>(sent);
      remaining -= static_cast<int64_t>(sent);
    }
    file->SetPosition(position);
    return;
  }
  std::string piece(kSendBufferSize, '\0');
  while (remaining > 0) {
    const size_t wanted = static_cast<size_t>(std::min<int64_t>(remaining, kSendBufferSize));
    const size_t got = stream.Read(piece.data(), wanted);
    if (got == 0) throw ENoDataToRead();
    Write(std::string_view(piece.data(), got));
    remaining -= static_cast<int64_t>(got);
  }
}

void TTCPConnection::ReadStreamBytes(TStream& stream, int64_t count) {
  // Whatever happens, the stream ends where the received bytes end.
  struct TCutBack {
    TStream& stream;
    ~TCutBack() {
      try {
        stream.SetSize(stream.Position());
      } catch (...) {
      }
    }
  } cutBack{stream};

  int64_t remaining = std::max<int64_t>(count, 0);
  const size_t first =
      static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(Buffered())));
  if (first > 0) {
    stream.Write(storage_.data() + start_, first);
    Consume(first);
    remaining -= static_cast<int64_t>(first);
  }
  auto* file = dynamic_cast<TFileWriteStream*>(&stream);
  if (file != nullptr && remaining > 0 && handler_->ReceivesToFiles()) {
    ReceiveToFile(*file, remaining);
    return;
  }
  while (remaining > 0) {
    if (!IsOpen()) break;
    const size_t piece = static_cast<size_t>(std::min<int64_t>(remaining, kStreamPieceSize));
    while (Buffered() < piece) {
      // The buffer grows with what has arrived, never ahead of it: a peer
      // that announces much and sends little costs little.
      const size_t room = std::max(kRecvBufferSize, std::min(piece - Buffered(), Buffered()));
      if (!ReadFromTransport(room)) throw EConnClosedGracefully();
    }
    stream.Write(storage_.data() + start_, piece);
    Consume(piece);
    remaining -= static_cast<int64_t>(piece);
  }
}

void TTCPConnection::ReceiveToFile(TFileWriteStream& file, int64_t count) {
  if (!held_.empty()) SendHeld();
  while (count > 0) {
    if (disconnected_.load(std::memory_order_acquire)) return;
    const size_t piece = static_cast<size_t>(std::min<int64_t>(count, kStreamPieceSize));
    size_t done = 0;
    while (done < piece) {
      const TSocket::TFileReceipt got =
          handler_->ReceiveToFile(file.NativeHandle(), file.Position(), piece - done);
      file.Advance(static_cast<int64_t>(got.Bytes));
      if (got.FileError != 0) file.RaiseWriteError(got.FileError);
      if (got.Bytes == 0) {
        peerClosed_ = true;
        if (done == 0) return;  // found closed between pieces
        throw EConnClosedGracefully();
      }
      done += got.Bytes;
    }
    count -= static_cast<int64_t>(piece);
  }
}

bool TTCPConnection::ReadStreamUntilClose(TStream& stream, int64_t limit) {
  int64_t total = 0;
  for (;;) {
    const size_t have = Buffered();
    if (have > 0) {
      total += static_cast<int64_t>(have);
      if (total > limit) return false;
      stream.Write(storage_.data() + start_, have);
      Consume(have);
    }
    if (!ReadFromTransport()) return true;
  }
}

void TTCPConnection::LimitReads(int timeoutMs) {
  readsEndBy_.reset();
  if (timeoutMs > 0) {
    readsEndBy_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  }
}

bool TTCPConnection::IsOpen() {
  if (disconnected_.load(std::memory_order_acquire)) return false;
  // Unread bytes answer the question without asking the socket: a client
  // that sends its requests together would otherwise cost one failed
  // receive a request.
  if (!peerClosed_ && Buffered() == 0) {
    try {
      const std::optional<size_t> got = handler_->TryReceive(PrepareReceive(), kRecvBufferSize);
      if (got) {
        if (*got == 0) {
          peerClosed_ = true;
        } else {
          end_ += *got;
        }
      }
    } catch (const ESocketError&) {
      peerClosed_ = true;  // a reset peer is as gone as a closed one
    }
  }
  return !peerClosed_ || Buffered() > 0;
}

void TTCPConnection::StartTls(std::shared_ptr<const TTlsContext> context, int timeoutMs,
                              std::string_view plainRefusal) {
  ThrowIfDisconnected();
  if (!held_.empty()) SendHeld();
  std::string received(storage_.data() + start_, Buffered());
  start_ = end_ = 0;
  auto tls =
      std::make_unique<TTlsHandler>(std::move(context), std::move(handler_), std::move(received));
  TTlsHandler* handshake = tls.get();
  handler_ = std::move(tls);
  handshake->Handshake(timeoutMs, plainRefusal);
}

std::string TTCPConnection::TlsDescription() const {
  auto* tls = dynamic_cast<const TTlsHandler*>(handler_.get());
  return tls ? tls->Description() : std::string();
}

void TTCPConnection::Disconnect() {
  disconnected_.store(true, std::memory_order_release);
  transport_->Shutdown();
}

}  // namespace ormelin
