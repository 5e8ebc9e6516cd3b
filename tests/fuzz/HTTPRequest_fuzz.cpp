// Fuzz target for the HTTP request reader: request line, header block,
// body, parameters, request path and credentials. The first byte seeds how
// the bytes are split into reads; the rest is what the browser sends. A
// request is read alike whether it arrives in pieces or in one, and either
// reads or raises one of the system's errors.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "net/HTTPRequest.h"
#include "net/NetErrors.h"
#include "net/TCPConnection.h"
#include "platform/Exceptions.h"
#include "support/FuzzTransport.h"

namespace {

using namespace ormelin;

// What a read produced, as one comparable text. A body shorter than its
// Content-Length depends on when the reader notices the peer's close: it
// either ends short or fails silently, and both outcomes count as alike.
struct TOutcome {
  std::string Text;
  bool SilentClose = false;
  bool ShortBody = false;
};

TOutcome ReadAll(std::string_view bytes, uint32_t seed) {
  TTCPConnection connection(std::make_unique<fuzz::TFuzzTransport>(bytes, seed));
  THTTPRequestSettings settings;
  settings.MaximumBodySize = 64 * 1024;
  std::unique_ptr<THTTPRequestInfo> request;
  try {
    request = ReadRequest(connection, settings);
  } catch (const EConnClosedGracefully& e) {
    return {std::string("error: ") + e.what(), true, false};
  } catch (const Exception& e) {
    return {std::string("error: ") + e.what()};
  }
  const THTTPRequestInfo& r = *request;
  if (r.MethodKind != MethodKindOf(r.Method)) {
    std::fprintf(stderr, "method %s has kind %d\n", r.Method.c_str(), r.MethodKind);
    std::abort();
  }
  if (r.ContentLength < -2147483648LL || r.ContentLength > 2147483647) {
    std::fprintf(stderr, "content length %lld\n", static_cast<long long>(r.ContentLength));
    std::abort();
  }
  if (r.HasContentLength() && r.ContentLength > 0 &&
      static_cast<int64_t>(r.BodyText.size()) > r.ContentLength) {
    std::fprintf(stderr, "body longer than its Content-Length\n");
    std::abort();
  }
  std::string out = r.RequestLine + '\n' + r.Method + '\n' + r.Version + '\n' + r.RequestPath +
                    '\n' + r.QueryText + '\n' + r.ParamText + '\n' + r.Host + '\n' + r.ContentType +
                    '\n' + std::to_string(r.ContentLength) + '\n' + r.BodyText + '\n' + r.AuthUser +
                    ':' + r.AuthPassword + '\n';
  for (const std::string& line : r.Headers.Lines()) out += line + '\n';
  for (const std::string& entry : r.Parameters.Entries()) out += entry + '\n';
  for (const std::string& cookie : r.Cookies) out += cookie + '\n';
  // The lookups the console makes.
  out += r.Parameters.Value("page") + '\n' + r.Parameters.Value("filter") + '\n' +
         r.Parameters.Value("akcija") + '\n' + r.Headers.Values("Connection") + '\n';
  const bool shortBody =
      r.ContentLength > 0 && static_cast<int64_t>(r.BodyText.size()) < r.ContentLength;
  return {out, false, shortBody};
}

bool HasContentLength(std::string_view bytes) {
  constexpr std::string_view kName = "content-length";
  for (size_t i = 0; i + kName.size() <= bytes.size(); ++i) {
    size_t j = 0;
    while (j < kName.size() && std::tolower(static_cast<unsigned char>(bytes[i + j])) == kName[j])
      ++j;
    if (j == kName.size()) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint32_t seed = data[0] | 1u;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const TOutcome inPieces = ReadAll(bytes, seed);
  const TOutcome inOne = ReadAll(bytes, 0);
  // A short body may also be followed by a later error of the request (its
  // credentials), so any silent close beside a request with a
  // Content-Length counts as that case.
  const bool closeNoticedLater =
      (inPieces.SilentClose != inOne.SilentClose) &&
      ((inPieces.SilentClose ? inOne.ShortBody : inPieces.ShortBody) || HasContentLength(bytes));
  if (inPieces.Text != inOne.Text && !closeNoticedLater) {
    std::fprintf(stderr, "read in pieces:\n%s\nread at once:\n%s\n", inPieces.Text.c_str(),
                 inOne.Text.c_str());
    std::abort();
  }
  return 0;
}
