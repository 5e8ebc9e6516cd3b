// Fuzz target for the date-time text of the tree XML and the task
// parameters. The first byte picks the locale conventions (the process
// locale's, the Croatian 24-hour ones, a 24-hour layout without leading
// zeros, a 12-hour one with the designator after or before the time); the
// rest is the text. Any text is read or raises EConvertError, and the text
// DateTimeToText writes for a value that was read is read back into a value
// written the same way.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "comparer/StructStreamer.h"
#include "platform/DateTime.h"
#include "platform/Exceptions.h"

namespace {

using namespace ormelin;

const TFormatSettings& Settings(uint8_t choice) {
  static const TFormatSettings kSettings[] = {
      DefaultFormatSettings(),
      CroatianFormatSettings(),
      FormatSettingsFromLayouts("%d.%m.%Y", "%k:%M:%S", "", "", ','),
      FormatSettingsFromLayouts("%m/%d/%Y", "%I:%M:%S %p", "AM", "PM", '.'),
      FormatSettingsFromLayouts("%Y/%m/%d", "%p %I:%M:%S", "dop.", "pop.", ','),
  };
  return kSettings[choice % (sizeof kSettings / sizeof kSettings[0])];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const TFormatSettings& settings = Settings(data[0]);
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  TDateTime value;
  try {
    value = TLoader::TextToDateTime(text, settings);
  } catch (const EConvertError&) {
    return 0;
  }
  const std::string written = TLoader::DateTimeToText(value, settings);
  TDateTime again;
  try {
    again = TLoader::TextToDateTime(written, settings);
  } catch (const EConvertError& e) {
    std::fprintf(stderr, "DateTimeToText output is not readable: %s\n", e.what());
    std::abort();
  }
  const std::string rewritten = TLoader::DateTimeToText(again, settings);
  if (rewritten != written) {
    std::fprintf(stderr, "'%s' reads back as '%s'\n", written.c_str(), rewritten.c_str());
    std::abort();
  }
  return 0;
}
