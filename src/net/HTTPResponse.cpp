#include "net/HTTPResponse.h"

#include "net/NetErrors.h"
#include "platform/Conversions.h"

namespace ormelin {

std::string ReasonPhraseOf(int code) {
  switch (code) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 203:
      return "Non-authoritative Information";
    case 204:
      return "No Content";
    case 205:
      return "Reset Content";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Moved Temporarily";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 305:
      return "Use Proxy";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method not allowed";
    case 406:
      return "Not Acceptable";
    case 407:
      return "Proxy Authentication Required";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 410:
      return "Gone";
    case 411:
      return "Length Required";
    case 412:
      return "Precondition Failed";
    case 413:
      return "Request Entity To Long";
    case 414:
      return "Request-URI Too Long. 256 Chars max";
    case 415:
      return "Unsupported Media Type";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway timeout";
    case 505:
      return "HTTP version not supported";
    default:
      return "Unknown Response Code";
  }
}

void THTTPResponseInfo::SetStatus(int code) {
  statusCode_ = code;
  reasonPhrase_ = ReasonPhraseOf(code);
  if (code == 404) CloseAfterResponse = true;
}

void THTTPResponseInfo::RedirectTo(const std::string& url) {
  SetStatus(302);
  Location = url;
}

void THTTPResponseInfo::SendHeader() {
  connection_.Write(TakeHeader());
}

std::string THTTPResponseInfo::TakeHeader() {
  if (headerSent_) throw EHTTPHeaderAlreadyWritten();
  headerSent_ = true;
  if (ContentLength == -1) {
    if (!ReplyText.empty()) {
      ContentLength = static_cast<int64_t>(ReplyText.size());
    } else if (ReplyStream) {
      ContentLength = ReplyStream->Size();
    }
  }
  headers_.Clear();
  headers_.SetValue("Connection", CloseAfterResponse ? "close" : "keep-alive");
  headers_.SetValue("Content-Type", ContentType);
  if (ContentLength >= 0) headers_.SetValue("Content-Length", IntToStr(ContentLength));
  headers_.SetValue("Server", ServerToken);
  headers_.SetValue("Location", Location);

  std::string block = "HTTP/1.1 " + IntToStr(statusCode_) + " " + reasonPhrase_ + "\r\n";
  for (const std::string& line : headers_.Lines()) block.append(line).append("\r\n");
  block.append("\r\n");
  return block;
}

void THTTPResponseInfo::SendBody() {
  if (!headerSent_ && !ReplyStream) {
    // A page and its header in one write: one segment instead of two.
    std::string block = TakeHeader();
    block += ReplyText;
    connection_.Write(block);
  } else {
    if (!headerSent_) SendHeader();
    if (!ReplyText.empty()) {
      connection_.Write(ReplyText);
    } else if (ReplyStream) {
      ReplyStream->SetPosition(0);
      connection_.WriteStreamBytes(*ReplyStream, 0);
    }
  }
  ReplyText.clear();
  ReplyStream.reset();
}

}  // namespace ormelin
