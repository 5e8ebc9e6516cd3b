// The request record of the HTTP server and the reading of one request from
// a connection: the request line, the header block, the body, the
// parameters, the request path and Basic credentials. A record is created
// for one request and used by that request's thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "net/HTTPHeaderList.h"
#include "net/HTTPParams.h"
#include "net/TCPConnection.h"
#include "platform/Streams.h"

namespace ormelin {

// The method words by kind; a word not in the table has kind 0.
enum THTTPCommandType {
  hcUnknown = 0,
  hcHEAD = 1,
  hcGET = 2,
  hcPOST = 3,
  hcDELETE = 4,
  hcPUT = 5,
  hcTRACE = 6,
  hcOPTIONS = 7
};

// The kind of an (already upper-cased) method word.
int MethodKindOf(std::string_view method);

class THTTPRequestInfo {
 public:
  std::string RequestLine;
  std::string Method;
  int MethodKind = hcUnknown;
  std::string Version;
  std::string RemoteAddress;
  THeaderList Headers;

  std::string Connection;
  std::string ContentType;
  std::string Host;
  std::string Referer;
  std::string Origin;
  std::string UserAgent;
  std::string Accept;
  std::string AcceptCharset;
  std::string AcceptEncoding;
  std::string AcceptLanguage;
  std::string From;
  std::string Range;
  std::string ContentVersion;
  std::string ContentEncoding;
  std::string ContentLanguage;
  std::string ContentRange;
  std::string Date;
  std::string LastModified;
  std::string Expires;
  std::string Pragma;
  int64_t ContentLength = -1;
  bool HasContentLength() const { return ContentLength >= 0; }

  std::unique_ptr<TStream> Body;  // owned by the record
  std::string BodyText;
  std::string Document;  // the request target without its query, as sent
  std::string QueryText;
  std::string ParamText;
  TParameterList Parameters;
  std::string RequestPath;
  bool HasAuth = false;
  std::string AuthUser;
  std::string AuthPassword;
  std::vector<std::string> Cookies;
};

// How requests are read.
struct THTTPRequestSettings {
  bool ParseParams = true;
  int MaximumHeaderLineCount = 1024;
  // Bodies beyond this many bytes are refused (EHTTPRequestTooLarge).
  int64_t MaximumBodySize = 1024 * 1024;
  // Gives the stream the body is read into; none: an in-memory stream.
  std::function<std::unique_ptr<TStream>(THTTPRequestInfo&)> CreatePostStream;
};

// Reads one request. Raises EHTTPErrorParsingCommand for a request line
// without a blank, EMaxCaptureLineExceeded for more header lines than the
// settings allow, EHTTPUnsupportedAuthorisationScheme for credentials other
// than Basic, EHTTPRequestTooLarge for a body beyond the limit, and the
// connection's own errors (EReadLnMaxLineLengthExceeded,
// EConnClosedGracefully, ESocketError). A POST without a usable
// Content-Length has a body that runs until the peer closes.
std::unique_ptr<THTTPRequestInfo> ReadRequest(TTCPConnection& connection,
                                              const THTTPRequestSettings& settings);

}  // namespace ormelin
