#include "net/StreamTransfer.h"

#include "platform/Conversions.h"
#include "platform/Format.h"

namespace ormelin {

void SendStream(TTCPConnection& connection, TStream& stream) {
  const int64_t size = stream.Size();
  if (size > TTCPConnection::kMaxStreamSize) throw EIoHandlerRequiresLargeStream();
  connection.WriteLine(IntToStr(size));
  connection.WriteStreamBytes(stream, 0);
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
