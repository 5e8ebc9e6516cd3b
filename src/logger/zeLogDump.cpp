#include "logger/zeLogDump.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>

#include "logger/zeRegex.h"
#include "platform/Conversions.h"
#include "platform/DateTime.h"
#include "platform/Text.h"

namespace ormelin {
namespace {

constexpr std::string_view kEventId = "{%EVENTID%}";
constexpr std::string_view kEventTime = "{%EVENTTIME%}";
constexpr std::string_view kEventText = "{%EVENTTEXT%}";

const TzeRegex& BlockPattern() {
  static const TzeRegex pattern("<!--\\{%EVENTLOG%\\}-->(?P<redak>.*)<!--\\{%/EVENTLOG%\\}-->",
                                TzeRegex::roMultiLine | TzeRegex::roDotAll);
  return pattern;
}

// Replaces the first occurrence of `placeholder` (exact case) in `text`.
bool ReplaceFirst(std::string& text, std::string_view placeholder, std::string_view value) {
  const size_t at = text.find(placeholder);
  if (at == std::string::npos) return false;
  text.replace(at, placeholder.size(), value);
  return true;
}

void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
  for (size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + value.size())) {
    text.replace(at, placeholder.size(), value);
  }
}

void AppendRow(std::string& rows, std::string_view rowTemplate, int64_t number,
               const TzeEvent& event) {
  std::string row(rowTemplate);
  ReplaceFirst(row, kEventId, IntToStr(number));
  ReplaceFirst(row, kEventTime, DateTimeToStr(event.Time(), DefaultFormatSettings()));
  // The text goes in last, so nothing inside a message is taken for a placeholder.
  ReplaceFirst(row, kEventText, event.Text());
  rows += row;
}

// Events numbered skip+1 .. skip+pageSize of the whole log: with no filter
// the numbers are positions, so the page is found without a walk.
std::string UnfilteredRows(TzeEventLog& log, std::string_view rowTemplate, int64_t skip,
                           int pageSize) {
  std::string rows;
  TzeEventLogLock lock(log);
  const int64_t count = log.Count();
  const int64_t last = std::min<int64_t>(count, skip + pageSize);
  for (int64_t index = skip; index < last; ++index) {
    AppendRow(rows, rowTemplate, index + 1, *log.Items(static_cast<int>(index)));
  }
  return rows;
}

// Walks the log newest first, numbering the events whose text contains a
// match of the filter, until the page's last event is written.
std::string FilteredRows(TzeEventLog& log, std::string_view rowTemplate, int64_t skip, int pageSize,
                         std::string_view filter) {
  std::string rows;
  std::unique_ptr<TzeEventEnum> walk = log.GetEnumerator();
  std::optional<TzeRegex> pattern;
  std::optional<TzeRegexMatch> match;
  int64_t n = 0;
  while (walk->MoveNext()) {
    if (!pattern) {
      // Compiled at its first use, so a faulty filter fails only when there
      // is something to test it on.
      pattern.emplace(filter, TzeRegex::roCaseless);
      match.emplace(*pattern);
    }
    const TzeEvent& event = *walk->Current();
    if (!pattern->Search(event.Text(), *match)) continue;
    ++n;
    if (n > skip) AppendRow(rows, rowTemplate, n, event);
    if (n >= skip + pageSize) break;
  }
  return rows;
}

}  // namespace

std::string DumpEventLog(TzeEventLog& log, std::string_view page, std::string_view pageNumber,
                         std::string_view filter, int pageSize) {
  const TzeRegex& block = BlockPattern();
  TzeRegexMatch found(block);
  if (!block.Search(page, found)) return std::string(page);
  const int rowGroup = block.GroupNumber("redak");
  const std::string_view rowTemplate = rowGroup > 0 ? found.Group(rowGroup) : std::string_view();

  int32_t parsed = 1;
  if (!TryStrToInt(Trim(pageNumber), parsed)) parsed = 1;
  const int64_t number = parsed;
  const int64_t skip = (number - 1) * static_cast<int64_t>(pageSize);

  std::string rows;
  if (!rowTemplate.empty() && number >= 1 && pageSize > 0) {
    rows = filter.empty() ? UnfilteredRows(log, rowTemplate, skip, pageSize)
                          : FilteredRows(log, rowTemplate, skip, pageSize, filter);
  }

  // The links are filled in the page around the block only: the rows hold
  // event texts, which are shown as they were logged.
  std::string before(page.substr(0, found.Start(0)));
  std::string after(page.substr(found.End(0)));
  const std::string prev = IntToStr(std::max<int64_t>(number - 1, 1));
  const std::string next = IntToStr(number + 1);
  if (!ReplaceFirst(before, kEventPrevPage, prev)) ReplaceFirst(after, kEventPrevPage, prev);
  if (!ReplaceFirst(before, kEventNextPage, next)) ReplaceFirst(after, kEventNextPage, next);
  const std::string encoded = PercentEncode(filter);
  ReplaceAll(before, kEventFilterUrl, encoded);
  ReplaceAll(after, kEventFilterUrl, encoded);

  std::string result;
  result.reserve(before.size() + rows.size() + after.size());
  result += before;
  result += rows;
  result += after;
  return result;
}

std::string PercentEncode(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' ||
                            byte == '.' || byte == '~';
    if (unreserved) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

}  // namespace ormelin
