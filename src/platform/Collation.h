// Locale-aware, case-ignoring comparison of code page 1250 texts: the
// system's one way to compare and order names (command words, project names,
// XML element names, folder-tree entries, task names, console documents).
// Case is ignored, accents are kept ("b" < "C", "c" < "č" < "d"), under the
// collation of the process locale (LC_ALL / LC_COLLATE / LANG; the root
// collation for C and POSIX). Safe from any thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace ormelin {

// Negative, zero or positive as a orders before, equal to or after b.
int AnsiCompareText(std::string_view a, std::string_view b);
bool AnsiSameText(std::string_view a, std::string_view b);

// A byte string whose plain byte order (std::string comparison) is the
// order of AnsiCompareText. Compute once per entry when sorting many names.
std::string CollationKey(std::string_view text);

// The collation of one named locale ("hr", "en_US"; "" for the root
// collation), with the same rules as above. The functions above use the one
// of the process locale. Compare and Key are safe from any thread.
class TCollator {
 public:
  explicit TCollator(std::string_view localeName);
  ~TCollator();
  TCollator(const TCollator&) = delete;
  TCollator& operator=(const TCollator&) = delete;

  int Compare(std::string_view a, std::string_view b) const;
  std::string Key(std::string_view text) const;
  // The locale actually used ("" when it fell back to the root collation).
  const std::string& LocaleName() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

// The collation locale named by an environment value such as
// "hr_HR.UTF-8" or "sr_RS@latin": "hr_HR", "sr_RS"; "" for C, POSIX and empty.
std::string CollationLocaleOf(std::string_view environmentValue);

}  // namespace ormelin
