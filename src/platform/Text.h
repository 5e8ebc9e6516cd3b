// Text helpers for the system's 8-bit text: every std::string holds Windows
// code page 1250 bytes. The case table (č/Č, š/Š, ž/Ž, đ/Đ, ć/Ć and the rest
// of the code page) and the character classes come from one table here and
// are used by every case-ignoring operation and by the regular-expression
// tables. Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ormelin {

// Code page 1250 case mapping of one byte; bytes without a pair map to themselves.
char UpperChar(char c);
char LowerChar(char c);
std::string AnsiUpperCase(std::string_view text);
std::string AnsiLowerCase(std::string_view text);
// A to Z become a to z, every other byte stays: for words that are ASCII
// whatever the code page (entity names, URL schemes and host names).
char AsciiLower(char c);
std::string AsciiLower(std::string_view text);

// Character classes of code page 1250 (letters include the accented ones).
bool IsLetter(char c);
bool IsUpperLetter(char c);
bool IsLowerLetter(char c);
bool IsDigit(char c);
bool IsSpace(char c);  // blank, tab, LF, VT, FF, CR
bool IsPunctuation(char c);
bool IsPrintable(char c);

// Removing leading and/or trailing characters of code 0 to 32.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);
// The words of a list: the runs of characters above code 32, in order.
std::vector<std::string_view> BlankSeparatedWords(std::string_view text);

// The text on one line: every CR LF pair becomes one blank, while a lone CR
// or LF stays.
std::string CrLfToBlank(std::string_view text);
// The text on one line: every line break (CR LF, CR or LF) becomes one blank.
std::string LineBreaksToBlanks(std::string_view text);

// Byte-wise equality ignoring code page 1250 case (no locale rules).
bool SameTextFolded(std::string_view a, std::string_view b);
// Byte-wise order ignoring code page 1250 case (no locale rules): negative,
// zero or positive; what comparison falls back to without a collation.
int CompareTextFolded(std::string_view a, std::string_view b);

// Replaces every occurrence of `pattern`, letter case ignored by the code
// page 1250 table, with `replacement`. An empty pattern changes nothing.
std::string ReplaceTextIgnoringCase(std::string_view text, std::string_view pattern,
                                    std::string_view replacement);

// HTML escaping of the five characters < > & " ' for texts put into pages
// and into log messages that the console shows.
std::string HtmlEscape(std::string_view text);
// Only < > & escaped: text that stands between tags and keeps its quotes.
std::string HtmlEscapeMarkup(std::string_view text);

}  // namespace ormelin
