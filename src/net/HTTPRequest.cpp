#include "net/HTTPRequest.h"

#include <iterator>

#include "net/NetErrors.h"
#include "platform/Text.h"

namespace ormelin {

namespace {

const char* const kMethodWords[] = {"UNKNOWN", "HEAD", "GET",   "POST",
                                    "DELETE",  "PUT",  "TRACE", "OPTIONS"};

// A 32-bit decimal number with an optional sign, else -1.
int64_t DecimalLength(const std::string& text) {
  size_t i = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
  if (i == text.size()) return -1;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (!IsDigit(text[i])) return -1;
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{2147483648}) return -1;
  }
  if (text[0] == '-') return -value;  // negative: no usable length
  return value > 2147483647 ? -1 : value;
}

void FillHeaderFields(THTTPRequestInfo& request) {
  const THeaderList& h = request.Headers;
  request.Connection = h.Values("Connection");
  request.ContentType = h.Values("Content-Type");
  request.Host = h.Values("Host");
  request.Referer = h.Values("Referer");
  request.Origin = h.Values("Origin");
  request.UserAgent = h.Values("User-Agent");
  request.Accept = h.Values("Accept");
  request.AcceptCharset = h.Values("Accept-Charset");
  request.AcceptEncoding = h.Values("Accept-Encoding");
  request.AcceptLanguage = h.Values("Accept-Language");
  request.From = h.Values("From");
  request.Range = h.Values("Range");
  request.ContentVersion = h.Values("Content-Version");
  request.ContentEncoding = h.Values("Content-Encoding");
  request.ContentLanguage = h.Values("Content-Language");
  request.ContentRange = h.Values("Content-Range");
  request.Date = h.Values("Date");
  request.LastModified = h.Values("Last-Modified");
  request.Expires = h.Values("Expires");
  request.Pragma = h.Values("Pragma");
  request.ContentLength =
      h.Has("Content-Length") ? DecimalLength(Trim(h.Values("Content-Length"))) : -1;
}

std::string StreamText(TStream& stream) {
  std::string text(static_cast<size_t>(stream.Size()), '\0');
  stream.SetPosition(0);
  size_t done = 0;
  while (done < text.size()) {
    const size_t got = stream.Read(text.data() + done, text.size() - done);
    if (got == 0) break;
    done += got;
  }
  text.resize(done);
  stream.SetPosition(0);
  return text;
}

void ReadBody(TTCPConnection& connection, THTTPRequestInfo& request,
              const THTTPRequestSettings& settings) {
  request.Body = settings.CreatePostStream ? settings.CreatePostStream(request) : nullptr;
  if (!request.Body) request.Body = std::make_unique<TMemoryStream>();
  if (request.ContentLength > 0) {
    if (request.ContentLength > settings.MaximumBodySize) throw EHTTPRequestTooLarge();
    connection.ReadStreamBytes(*request.Body, request.ContentLength);
  } else if (request.MethodKind == hcPOST && !request.HasContentLength()) {
    if (!connection.ReadStreamUntilClose(*request.Body, settings.MaximumBodySize))
      throw EHTTPRequestTooLarge();
  }
  request.BodyText = StreamText(*request.Body);
}

void ReadAuthorization(THTTPRequestInfo& request) {
  if (!request.Headers.Has("Authorization")) return;
  request.HasAuth = true;
  const std::string value = request.Headers.Values("Authorization");
  const size_t blank = value.find(' ');
  const std::string scheme = value.substr(0, blank);
  if (!SameTextFolded(scheme, "Basic")) throw EHTTPUnsupportedAuthorisationScheme();
  const std::string decoded =
      Base64Decode(blank == std::string::npos ? std::string() : value.substr(blank + 1));
  const size_t colon = decoded.find(':');
  request.AuthUser = decoded.substr(0, colon);
  request.AuthPassword = colon == std::string::npos ? std::string() : decoded.substr(colon + 1);
}

}  // namespace

int MethodKindOf(std::string_view method) {
  for (int kind = 1; kind < static_cast<int>(std::size(kMethodWords)); ++kind) {
    if (SameTextFolded(method, kMethodWords[kind])) return kind;
  }
  return hcUnknown;
}

std::unique_ptr<THTTPRequestInfo> ReadRequest(TTCPConnection& connection,
                                              const THTTPRequestSettings& settings) {
  std::string line = connection.ReadLine();
  const size_t lastBlank = line.rfind(' ');
  if (lastBlank == std::string::npos) throw EHTTPErrorParsingCommand();
  auto request = std::make_unique<THTTPRequestInfo>();
  request->RequestLine = line;
  request->Version = line.substr(lastBlank + 1);
  line.resize(lastBlank);
  const size_t firstBlank = line.find(' ');
  request->Method = AnsiUpperCase(std::string_view(line).substr(0, firstBlank));
  std::string target =
      firstBlank == std::string::npos ? std::string() : line.substr(firstBlank + 1);
  request->MethodKind = MethodKindOf(request->Method);
  request->RemoteAddress = connection.PeerAddress();

  for (;;) {
    std::string header = connection.ReadLine();
    if (header.empty()) break;
    if (request->Headers.Count() > static_cast<size_t>(settings.MaximumHeaderLineCount)) {
      throw EMaxCaptureLineExceeded();
    }
    if (header.compare(0, 2, "..") == 0) header.erase(0, 1);
    request->Headers.Add(std::move(header));
  }
  FillHeaderFields(*request);
  ReadBody(connection, *request, settings);

  request->ParamText = request->BodyText;
  const size_t question = target.find('?');
  if (question != std::string::npos) {
    request->QueryText = target.substr(question + 1);
    target.resize(question);
  }
  if (!request->QueryText.empty()) {
    request->ParamText = request->ParamText.empty() ? request->QueryText
                                                    : request->ParamText + "&" + request->QueryText;
  }
  if (settings.ParseParams) {
    DecodeParameters(SameTextFolded(request->ContentType, "application/x-www-form-urlencoded")
                         ? request->ParamText
                         : request->QueryText,
                     request->Parameters);
  }
  for (const std::string& header : request->Headers.Lines()) {
    const size_t colon = header.find(':');
    if (colon == std::string::npos ||
        !SameTextFolded(std::string_view(header).substr(0, colon), "cookie")) {
      continue;
    }
    const std::string value = header.substr(colon + 1);
    size_t start = 0;
    while (start <= value.size()) {
      size_t stop = value.find(';', start);
      if (stop == std::string::npos) stop = value.size();
      std::string cookie = Trim(std::string_view(value).substr(start, stop - start));
      if (!cookie.empty()) request->Cookies.push_back(std::move(cookie));
      start = stop + 1;
    }
  }
  request->Document = target;
  std::string namedHost;
  request->RequestPath = RequestPathOf(target, namedHost);
  if (!namedHost.empty() && !request->Headers.Has("Host")) request->Host = namedHost;
  ReadAuthorization(*request);
  return request;
}

}  // namespace ormelin
