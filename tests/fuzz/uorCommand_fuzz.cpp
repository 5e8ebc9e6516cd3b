// Fuzz target for the parameters of the file tasks a client receives from a
// server: the delimited-text reader, the reading of an insert or update
// parameter (path and time) and the check of a task path. The first byte
// chooses what the rest is: a parameter text, or two items (split at the
// first NUL) that the task builder's writing must give back unchanged. A
// path the check lets through, mapped to a native path, stays below the
// root.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "comparer/Tasks.h"
#include "comparer/uorCommand.h"
#include "platform/Exceptions.h"
#include "platform/Paths.h"

namespace {

using namespace ormelin;

[[noreturn]] void Fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "%s: '%.*s'\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

constexpr std::string_view kRoot = "/srv/ormelin/target";

void CheckPath(std::string_view path) {
  std::string full;
  try {
    full = TaskFullPath(kRoot, path);
  } catch (const ETaskPathError&) {
    return;
  }
  if (full.compare(0, kRoot.size(), kRoot) != 0) Fail("full path outside the root", full);
  const std::string native = NativePath(full);
  const std::string nativeRoot = NativePath(kRoot);
  if (native.compare(0, nativeRoot.size(), nativeRoot) != 0 ||
      (native.size() > nativeRoot.size() && native[nativeRoot.size()] != '/'))
    Fail("native path outside the root", native);
  std::string_view rest(native);
  rest.remove_prefix(nativeRoot.size());
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('/', start);
    if (end == std::string_view::npos) end = rest.size();
    if (rest.substr(start, end - start) == "..") Fail("native path climbs out", native);
    start = end + 1;
  }
  if (native.find('\0') != std::string::npos) Fail("native path holds NUL", native);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] % 2 == 0) {
    for (const std::string& item : ReadDelimitedText(text)) CheckPath(item);
    try {
      TorInsertFileCommand::TFileParams params = TorInsertFileCommand::ReadFileParams(text);
      CheckPath(params.Path);
    } catch (const EConvertError&) {
    }
    return 0;
  }
  // Items hold no NUL: the writer leaves bytes below 1 unquoted, and no file
  // or folder name can hold one.
  const size_t split = text.find('\0');
  const std::string_view first = text.substr(0, split);
  const std::string_view second =
      split == std::string_view::npos ? std::string_view() : text.substr(split + 1);
  if (second.find('\0') != std::string_view::npos) return 0;
  const std::vector<std::string> pair = ReadDelimitedText(DelimitedPair(first, second));
  if (pair.size() != 2 || pair[0] != first || pair[1] != second)
    Fail("a delimited pair does not read back", DelimitedPair(first, second));
  if (!first.empty()) {
    const std::vector<std::string> one = ReadDelimitedText(DelimitedItem(first));
    if (one.size() != 1 || one[0] != first)
      Fail("a delimited item does not read back", DelimitedItem(first));
  }
  return 0;
}
