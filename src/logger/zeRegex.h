// Regular expressions for the console: the event-log page (the row block of
// the template and the user's filter) and the version text. A thin owner of
// the engine's compiled pattern and match data.
//
// Every pattern is compiled for 8-bit text (no UTF-8), with the character
// tables of code page 1250 (so case-ignoring matching folds č/Č, š/Š and the
// rest), and with CR, LF and CR LF each one line end for "^" and "$". Every
// search rejects an empty match and runs under match and depth limits, so a
// pattern whose backtracking runs away fails with the engine's message
// instead of running for hours.
//
// Threading: a compiled TzeRegex is immutable and may be searched from any
// number of threads at once; a TzeRegexMatch belongs to one thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Exceptions.h"

namespace ormelin {

// A pattern that does not compile ("<reason> at offset <n>") or a search
// that fails, for instance when it exceeds the match limit.
class ERegexError : public Exception {
 public:
  using Exception::Exception;
};

// The effort one search may spend at one starting position before it fails:
// backtracking steps and nesting depth. Far above what a sensible filter
// needs on an event text, far below what a runaway one would take.
constexpr uint32_t kRegexMatchLimit = 1000000;
constexpr uint32_t kRegexDepthLimit = 100000;

class TzeRegexMatch;

class TzeRegex {
 public:
  enum TOptions : uint32_t {
    roNone = 0,
    roCaseless = 1,   // letters match in either case
    roMultiLine = 2,  // "^" and "$" also at line ends inside the text
    roDotAll = 4,     // "." also matches line ends
  };

  // Compiles the pattern; a pattern the engine refuses raises ERegexError
  // with its reason and the offset of the fault.
  TzeRegex(std::string_view pattern, uint32_t options);
  ~TzeRegex();
  TzeRegex(const TzeRegex&) = delete;
  TzeRegex& operator=(const TzeRegex&) = delete;

  // Searches the subject from its start for the first non-empty match and
  // fills `match`. False when there is none; ERegexError when the engine
  // gives up (match or depth limit) or fails otherwise.
  bool Search(std::string_view subject, TzeRegexMatch& match) const;

  // The number of the named group, or -1 when the pattern has no such group.
  int GroupNumber(const char* name) const;

 private:
  friend class TzeRegexMatch;
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// The result of one search: the matched groups as views into the subject
// (valid while the subject lives). Reusable for further searches with the
// same pattern.
class TzeRegexMatch {
 public:
  explicit TzeRegexMatch(const TzeRegex& regex);
  ~TzeRegexMatch();
  TzeRegexMatch(const TzeRegexMatch&) = delete;
  TzeRegexMatch& operator=(const TzeRegexMatch&) = delete;

  // Group 0 is the whole match. A group that did not take part, or a number
  // outside the pattern, is reported as not set.
  bool IsSet(int group) const;
  size_t Start(int group) const;
  size_t End(int group) const;
  std::string_view Group(int group) const;  // empty when not set

 private:
  friend class TzeRegex;
  struct TData;
  std::unique_ptr<TData> data_;
  std::string_view subject_;
  int groups_ = 0;  // groups filled by the last successful search
};

// The engine's 1088-byte character tables (lower-case map, case flip,
// class bitmaps, character types), built from per-byte classes.
struct TzeCharClasses {
  bool Upper = false, Lower = false, Letter = false, Digit = false, XDigit = false;
  bool Space = false, Punct = false, Print = false, Graph = false, Cntrl = false;
  unsigned char ToLower = 0, ToUpper = 0;
};
constexpr size_t kRegexTablesSize = 1088;
using TzeRegexTables = std::array<uint8_t, kRegexTablesSize>;
TzeRegexTables BuildRegexTables(TzeCharClasses (*classify)(unsigned char c));

// The tables of code page 1250, from the platform's case table and classes.
// Built once; valid for the whole process.
const uint8_t* Cp1250RegexTables();

}  // namespace ormelin
