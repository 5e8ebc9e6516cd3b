#include "net/StreamTransfer.h"

#include <algorithm>
#include <string>

#include "platform/Conversions.h"
#include "platform/Format.h"

namespace ormelin {

void SendStream(TTCPConnection& connection, TStream& stream) {
  const int64_t size = stream.Size();
  if (size > TTCPConnection::kMaxStreamSize) throw EIoHandlerRequiresLargeStream();
  connection.WriteLine(IntToStr(size));
  connection.WriteStreamBytes(stream, 0);
}

namespace {

// Files up to this size are read into memory and sent in one piece with
// their reply; larger ones go out from the file.
constexpr int64_t kOneSendFileSize = 64 * 1024;
// Larger files are read and sent in pieces of this size.
constexpr int64_t kSendPieceSize = 256 * 1024;

[[noreturn]] void RaiseTorn() {
  throw ETornFile("The file changed while it was sent.");
}

}  // namespace

void SendFileAsOpened(TTCPConnection& connection, std::string_view head, TFileStream& file) {
  const int64_t size = file.Size();
  if (size > TTCPConnection::kMaxStreamSize) throw EIoHandlerRequiresLargeStream();
  std::string reply(head);
  reply += IntToStr(size);
  reply += "\r\n";
  file.SetPosition(0);
  if (size <= kOneSendFileSize) {
    // The reply, the size line and the bytes in one send: most files of a
    // project are small, and a client asks for many at once.
    const size_t header = reply.size();
    reply.resize(header + static_cast<size_t>(size));
    const size_t got = file.Read(reply.data() + header, static_cast<size_t>(size));
    if (got < static_cast<size_t>(size) || file.ChangedSinceOpened()) RaiseTorn();
    connection.WriteSoon(reply);
    return;
  }
  // The bytes pass through memory: a zero-copy send would leave the socket
  // holding the file's pages, whose bytes a writer may still change after
  // the check below. The last piece is held back until the file is known
  // to be the one whose size was announced.
  connection.Write(reply);
  std::string piece(kSendPieceSize, '\0');
  for (int64_t remaining = size; remaining > 0;) {
    const size_t wanted = static_cast<size_t>(std::min<int64_t>(remaining, kSendPieceSize));
    if (file.Read(piece.data(), wanted) < wanted) RaiseTorn();
    remaining -= static_cast<int64_t>(wanted);
    if (remaining == 0 && file.ChangedSinceOpened()) RaiseTorn();
    connection.Write(std::string_view(piece.data(), wanted));
  }
}

void ReceiveStream(TTCPConnection& connection, TStream& stream) {
  connection.ReadStreamBytes(stream, ReadStreamSize(connection));
}

int32_t ReadStreamSize(TTCPConnection& connection) {
  const std::string line = connection.ReadLine();
  const int32_t size = StrToInt(line);
  if (size < 0) {
    throw EInvalidStreamSize(Format("Invalid stream size %d: a size cannot be negative.", size));
  }
  return size;
}

}  // namespace ormelin
