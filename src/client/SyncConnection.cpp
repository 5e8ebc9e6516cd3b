#include "client/SyncConnection.h"

#include <algorithm>

#include "net/StreamTransfer.h"
#include "platform/Conversions.h"
#include "platform/Format.h"
#include "platform/Text.h"

namespace ormelin {
namespace {

constexpr int64_t kPieceSize = 1 << 20;

// The code of a reply line, or -1; `more` tells a "ddd-" line.
int ReplyCode(const std::string& line, bool& more) {
  if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) return -1;
  if (line.size() > 3 && line[3] != ' ' && line[3] != '-') return -1;
  more = line.size() > 3 && line[3] == '-';
  return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

}  // namespace

template <typename F>
auto TSyncConnection::Guarded(F&& action) -> decltype(action()) {
  if (broken_) throw ENotConnected();
  try {
    return action();
  } catch (...) {
    broken_ = true;
    throw;
  }
}

TSyncConnection::TSyncConnection(std::string_view host, int port)
    : connection_(TTCPConnection::Connect(host, port)) {
  TorReply greeting = ReadReply();
  if (greeting.Code != 200) {
    broken_ = true;
    throw EServerReplyError(greeting.Code, greeting.Text);
  }
}

void TSyncConnection::SendLine(std::string_view line) {
  Guarded([&] { connection_->WriteLine(line); });
}

void TSyncConnection::SendLines(std::string_view lines) {
  Guarded([&] { connection_->Write(lines); });
}

TorReply TSyncConnection::ReadReply() {
  return Guarded([&] {
    TorReply reply;
    for (bool first = true;; first = false) {
      std::string line = connection_->ReadLine();
      bool more = false;
      int code = ReplyCode(line, more);
      if (code < 0 || (!first && code != reply.Code)) {
        throw EBadReply(Format("Neo\xE8"
                               "ekivan odgovor poslu\x9Eitelja: '%s'",
                               line.c_str()));
      }
      reply.Code = code;
      if (!first) reply.Text += "\r\n";
      reply.Text += line.size() > 4 ? line.substr(4) : std::string();
      if (!more) break;
    }
    if (reply.Code == 500) broken_ = true;
    return reply;
  });
}

TorReply TSyncConnection::SendCommand(std::string_view line) {
  SendLine(line);
  return ReadReply();
}

TorReply TSyncConnection::Expect(std::string_view line, int expected) {
  TorReply reply = SendCommand(line);
  if (reply.Code != expected) throw EServerReplyError(reply.Code, reply.Text);
  return reply;
}

void TSyncConnection::ReceiveStream(TStream& stream) {
  Guarded([&] {
    const std::string line = connection_->ReadLine();
    const int32_t size = StrToInt(line);
    if (size < 0) {
      throw EInvalidStreamSize(Format("Invalid stream size %d: a size cannot be negative.", size));
    }
    int64_t remaining = size;
    while (remaining > 0) {
      const int64_t piece = std::min(remaining, kPieceSize);
      const int64_t before = stream.Position();
      bool closed = false;
      try {
        connection_->ReadStreamBytes(stream, piece);
      } catch (const ESilentException&) {
        closed = true;  // told the same way as a close noticed between pieces
      }
      const int64_t got = closed ? std::min(stream.Position() - before, piece - 1)
                                 : stream.Position() - before;
      if (Progress && got > 0) Progress(got);
      if (got < piece) {
        throw EShortStream(Format("Veza je prekinuta nakon %lld od %d bajtova",
                                  static_cast<long long>(size - remaining + got), size));
      }
      remaining -= piece;
    }
  });
}

void TSyncConnection::SendStream(TStream& stream) {
  Guarded([&] { ormelin::SendStream(*connection_, stream); });
}

}  // namespace ormelin
