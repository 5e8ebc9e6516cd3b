// Locale-aware, case-ignoring comparison of code page 1250 texts: the
// system's one way to compare and order names (command words, project names,
// XML element names, folder-tree entries, task names, console documents).
// Case is ignored, accents are kept ("b" < "C", "c" < "č" < "d"), under the
// collation of the process locale (LC_ALL / LC_COLLATE / LANG; the root
// collation for C and POSIX). Safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace ormelin {

// Negative, zero or positive as a orders before, equal to or after b.
int AnsiCompareText(std::string_view a, std::string_view b);
bool AnsiSameText(std::string_view a, std::string_view b);

// A byte string whose plain byte order (std::string comparison) is the
// order of AnsiCompareText. Compute once per entry when sorting many names.
std::string CollationKey(std::string_view text);

}  // namespace ormelin
