// The response record of the HTTP server: status, body as text or as a
// stream, the few headers the server writes, and the writing of the status
// line, the header block and the body to the request's connection. Created
// for one request after it has been read, used by that request's thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/HTTPHeaderList.h"
#include "net/TCPConnection.h"
#include "platform/Streams.h"

namespace ormelin {

// The reason phrase of a status code ("Unknown Response Code" for codes
// without one).
std::string ReasonPhraseOf(int code);

class THTTPResponseInfo {
 public:
  static constexpr const char* kDefaultServerToken = "OrmelinS/1.1";

  explicit THTTPResponseInfo(TTCPConnection& connection) : connection_(connection) {}
  THTTPResponseInfo(const THTTPResponseInfo&) = delete;
  THTTPResponseInfo& operator=(const THTTPResponseInfo&) = delete;

  int StatusCode() const { return statusCode_; }
  const std::string& ReasonPhrase() const { return reasonPhrase_; }
  // Sets the code and its reason phrase; 404 also closes after the response.
  void SetStatus(int code);
  // Status 302 with the Location header.
  void RedirectTo(const std::string& url);

  std::string ReplyText;
  // A body stream passes to the response, which releases it after sending
  // it or, unsent, with the response.
  std::unique_ptr<TStream> ReplyStream;
  std::string ContentType = "text/html";
  int64_t ContentLength = -1;  // -1: taken from the body when the header goes out
  std::string Location;
  std::string ServerToken = kDefaultServerToken;
  bool CloseAfterResponse = true;  // "Connection: close", else "keep-alive"
  bool HeaderSent() const { return headerSent_; }
  const THeaderList& Headers() const { return headers_; }

  // Writes the status line and the header block in one piece. Raises
  // EHTTPHeaderAlreadyWritten the second time.
  void SendHeader();
  // Sends the header if it is not yet out, then ReplyText, or else the whole
  // ReplyStream from its start (no length prefix); then empties both. A
  // header and a text go out in one write.
  void SendBody();

 private:
  // Marks the header sent and gives its text.
  std::string TakeHeader();

  TTCPConnection& connection_;
  int statusCode_ = 200;
  std::string reasonPhrase_ = "OK";
  bool headerSent_ = false;
  THeaderList headers_;
};

}  // namespace ormelin
