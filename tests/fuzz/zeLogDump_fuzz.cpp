// Fuzz target for the event-log page's filter and page number: the first
// byte gives the length (0 to 7) of the page-number text that follows, the
// rest is the filter, as a user types them into the page's address or form.
// The page is rendered over a small log of 45 events. A filter either
// renders or raises ERegexError; a rendered page lists at most one page of
// rows, numbered consecutively from the first number of its page.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "logger/zeLogDump.h"
#include "logger/zeLogger.h"
#include "logger/zeRegex.h"

namespace {

using namespace ormelin;

constexpr int kPageSize = 20;
constexpr std::string_view kTemplate =
    "<p>{%EVENTPREVPAGE%} {%EVENTNEXTPAGE%} {%EVENTFILTERURL%}</p>\r\n"
    "<!--{%EVENTLOG%}-->\x02{%EVENTID%}|{%EVENTTIME%}|{%EVENTTEXT%}\r\n<!--{%/EVENTLOG%}-->"
    "<p>{%EVENTNEXTPAGE%}</p>";

TzeEventLog& Log() {
  static TzeEventLog* log = [] {
    auto* created = new TzeEventLog;
    const char* texts[] = {
        "Inicijalizacija podataka",
        "Server pokrenut",
        "Klijent <A HREF=\"http://host:1976/\">host [127.0.0.1]</A> sinkronizira projekt Demo",
        "Gre\x9A"
        "ka: Tag r zavr\x9A"
        "ava na tag /R",
        "\x8Aifra \x9E\xE8\xE6\xF0 \x8E\xC8\xC6\xD0",
        "line one\r\nline two\nline three\r",
        "{%EVENTID%} $1 \\1 {%EVENTTEXT%}",
        "Server zaustavljen",
        "",
        "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
        "Hello od <A HREF=\"http://localhost:1976/\">localhost [127.0.0.1]</A>",
    };
    for (int i = 0; i < 45; ++i) created->Add(texts[i % (sizeof texts / sizeof texts[0])]);
    return created;
  }();
  return *log;
}

[[noreturn]] void Fail(const char* what, const std::string& page) {
  std::fprintf(stderr, "%s\n%s\n", what, page.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t pageLength = std::min<size_t>(data[0] % 8, size - 1);
  const std::string_view pageNumber(reinterpret_cast<const char*>(data + 1), pageLength);
  const std::string_view filter(reinterpret_cast<const char*>(data + 1 + pageLength),
                                size - 1 - pageLength);
  std::string page;
  try {
    page = DumpEventLog(Log(), kTemplate, pageNumber, filter, kPageSize);
  } catch (const ERegexError&) {
    return 0;
  }
  if (page.find("<!--{%EVENTLOG%}-->") != std::string::npos) Fail("block left in the page", page);

  // Rows: byte 2, then "id|time|text" (no event text holds byte 2).
  int rows = 0;
  long long previous = 0;
  for (size_t at = page.find('\x02'); at != std::string::npos; at = page.find('\x02', at + 1)) {
    const long long id = std::strtoll(page.c_str() + at + 1, nullptr, 10);
    if (rows == 0 && (id - 1) % kPageSize != 0) Fail("page starts at an odd number", page);
    if (rows > 0 && id != previous + 1) Fail("row numbers not consecutive", page);
    previous = id;
    ++rows;
  }
  if (rows > kPageSize) Fail("more rows than a page holds", page);
  if (filter.empty() && rows > 0 && previous > 45) Fail("more rows than events", page);
  return 0;
}
