// Fuzz target for the decoding of request targets and form bodies:
// PercentDecode, the parameter list, the request path and Base64. Checks
// what the decoding promises: output never longer than the input, text
// without "%" unchanged, one parameter entry per "&"-separated run (none for
// an empty text or a final "&"), each entry decoded as a whole.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/HTTPParams.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ormelin;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::string decoded = PercentDecode(text);
  if (decoded.size() > text.size()) Fail("PercentDecode grew the text");
  if (text.find('%') == std::string_view::npos && decoded != text)
    Fail("PercentDecode changed a text without '%'");

  TParameterList parameters;
  DecodeParameters(text, parameters);
  size_t runs = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string_view::npos) end = text.size();
    std::string run(text.substr(start, end - start));
    for (char& c : run)
      if (c == '+') c = ' ';
    if (runs >= parameters.Count()) Fail("too few parameter entries");
    if (parameters[runs] != PercentDecode(run)) Fail("parameter entry decoded wrongly");
    ++runs;
    start = end + 1;
  }
  if (runs != parameters.Count()) Fail("too many parameter entries");
  (void)parameters.Value("page");
  (void)parameters.Value(text);

  std::string host;
  const std::string path = RequestPathOf(text, host);
  if (path.size() > text.size() + 1) Fail("request path longer than its target");

  const std::string credentials = Base64Decode(text);
  if (credentials.size() > (text.size() / 4 + 1) * 3) Fail("Base64 output too long");
  return 0;
}
