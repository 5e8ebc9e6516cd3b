// The errors of the network layer. Each carries its message text. The
// silent family (ESilentException) means the peer has gone away: callers
// catch it by the base type and end the connection without a reply.
// Socket and resolver failures are the platform's ESocketError.
#pragma once

#include <string>

#include "platform/Exceptions.h"
#include "platform/Sockets.h"

namespace ormelin {

class ESilentException : public Exception {
 public:
  using Exception::Exception;
};

class EConnClosedGracefully : public ESilentException {
 public:
  EConnClosedGracefully() : ESilentException("Connection Closed Gracefully.") {}
};

// The peer did not send what was awaited in the time it was given (see
// TTCPConnection::LimitReads); the connection ends without a reply.
class EReadTimeLimit : public ESilentException {
 public:
  EReadTimeLimit() : ESilentException("Read time limit exceeded.") {}
};

class EReadLnMaxLineLengthExceeded : public Exception {
 public:
  EReadLnMaxLineLengthExceeded() : Exception("Max line length exceeded.") {}
};

class ECouldNotBindSocket : public Exception {
 public:
  ECouldNotBindSocket()
      : Exception("Could not bind socket. Address and port are already in use.") {}
};

// The connection's socket is gone (closed here, not by the peer).
class EClosedSocket : public Exception {
 public:
  using Exception::Exception;
};

class ENotConnected : public EClosedSocket {
 public:
  ENotConnected() : EClosedSocket("Not Connected") {}
};

class ENoDataToRead : public Exception {
 public:
  ENoDataToRead() : Exception("No data to read.") {}
};

// A file that came short or changed while it was sent: the payload already
// announced cannot be completed, so the connection must end without another
// byte.
class ETornFile : public Exception {
 public:
  using Exception::Exception;
};

class EIoHandlerRequiresLargeStream : public Exception {
 public:
  EIoHandlerRequiresLargeStream() : Exception("") {}
};

// A stream size line that announces a negative number of bytes.
class EInvalidStreamSize : public Exception {
 public:
  using Exception::Exception;
};

// Failures while reading an HTTP request; the connection then closes
// without a response.
class EHTTPServerError : public Exception {
 public:
  using Exception::Exception;
};

class EHTTPErrorParsingCommand : public EHTTPServerError {
 public:
  EHTTPErrorParsingCommand() : EHTTPServerError("Error in parsing command.") {}
};

class EMaxCaptureLineExceeded : public EHTTPServerError {
 public:
  EMaxCaptureLineExceeded() : EHTTPServerError("Maximum number of line allowed exceeded") {}
};

class EHTTPUnsupportedAuthorisationScheme : public EHTTPServerError {
 public:
  EHTTPUnsupportedAuthorisationScheme() : EHTTPServerError("Unsupported authorization scheme.") {}
};

// A request body larger than the server accepts.
class EHTTPRequestTooLarge : public EHTTPServerError {
 public:
  EHTTPRequestTooLarge() : EHTTPServerError("Request body too large.") {}
};

class EHTTPHeaderAlreadyWritten : public EHTTPServerError {
 public:
  EHTTPHeaderAlreadyWritten() : EHTTPServerError("Header has already been written.") {}
};

class EHTTPCannotSwitchSessionStateWhenActive : public EHTTPServerError {
 public:
  EHTTPCannotSwitchSessionStateWhenActive()
      : EHTTPServerError("Cannot change session state when the server is active.") {}
};

}  // namespace ormelin
