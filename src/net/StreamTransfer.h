// The framing of binary payloads on the synchronisation protocol: the
// payload's size as a line of decimal digits, then exactly that many raw
// bytes, with nothing after them. Used by both ends of the protocol, each on
// its own connection's thread.
#pragma once

#include <cstdint>
#include <string_view>

#include "net/TCPConnection.h"
#include "platform/Streams.h"

namespace ormelin {

// Sends the whole stream from its start behind its size line. A stream of
// more than 2147483647 bytes raises EIoHandlerRequiresLargeStream before
// anything, the size line included, goes out.
void SendStream(TTCPConnection& connection, TStream& stream);

// Sends `head` (reply lines, each with its CR LF), the file's size line and
// exactly the bytes the file held when it was opened, a small file in one
// send with WriteSoon. A file that comes short, or whose size or last-write
// time is no longer that of its opening once its bytes are read, raises
// ETornFile before the payload's last byte has gone:
// the caller then ends the connection and writes nothing more, so the peer
// sees a broken transfer and never a whole one that mixes two versions.
void SendFileAsOpened(TTCPConnection& connection, std::string_view head, TFileStream& file);

// Reads a size line and that many bytes into the stream at its position.
// A line that is no 32-bit integer raises EConvertError "'%s' is not a valid
// integer value"; a negative size raises EInvalidStreamSize.
void ReceiveStream(TTCPConnection& connection, TStream& stream);

// Reads the size line alone, with the same checks, for a receiver that takes
// the bytes itself.
int32_t ReadStreamSize(TTCPConnection& connection);

}  // namespace ormelin
