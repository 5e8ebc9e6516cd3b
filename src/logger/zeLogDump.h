// The event-log page renderer: fills the event-log block of a page template
// with one page of the log, newest first, optionally narrowed by a regular
// expression the user typed, and fills in the paging links.
//
// Threading: safe from any thread; several pages may be rendered at once.
// The log stays locked while one page walks it, so a walk stops as soon as
// its page is complete and the filter runs under the engine's limits.
#pragma once

#include <string>
#include <string_view>

#include "logger/zeLogger.h"

namespace ormelin {

// Placeholders of the page outside the row block. Each of the first two is
// filled at its first occurrence; the filter, percent-encoded for the query
// of the paging links, at every occurrence.
inline constexpr std::string_view kEventPrevPage = "{%EVENTPREVPAGE%}";
inline constexpr std::string_view kEventNextPage = "{%EVENTNEXTPAGE%}";
inline constexpr std::string_view kEventFilterUrl = "{%EVENTFILTERURL%}";

// Renders one page. `page` is the template as filled so far; the block runs
// from the first "<!--{%EVENTLOG%}-->" to the last "<!--{%/EVENTLOG%}-->"
// and holds the row, repeated once per listed event with "{%EVENTID%}",
// "{%EVENTTIME%}" and "{%EVENTTEXT%}" filled. `pageNumber` is the page's
// number as text (empty or unreadable is page 1; a page below 1 lists
// nothing); `filter`, when not empty, is a case-ignoring regular expression
// that an event's text must contain a match of. A page without the block is
// returned unchanged, and the filter is then never compiled.
// Raises ERegexError with the engine's message when the filter does not
// compile (only once there is an event to test) or a match runs away; the
// log is unlocked on every path.
std::string DumpEventLog(TzeEventLog& log, std::string_view page, std::string_view pageNumber,
                         std::string_view filter, int pageSize);

// The text with every byte but the unreserved ones (letters, digits and
// "-_.~") written as %XX, for a value inside a URL's query.
std::string PercentEncode(std::string_view text);

}  // namespace ormelin
