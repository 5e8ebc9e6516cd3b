// The decoding of what an HTTP request carries in its target and its form
// body: percent-decoding, the "name=value" parameter list, the decoded
// request path and the Basic credentials. Pure functions, safe from any
// thread; a parameter list belongs to its request.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ormelin {

// Decoded "name=value" entries in the order they came.
class TParameterList {
 public:
  void Add(std::string entry) { entries_.push_back(std::move(entry)); }
  void Clear() { entries_.clear(); }
  size_t Count() const { return entries_.size(); }
  const std::string& operator[](size_t index) const { return entries_[index]; }
  const std::vector<std::string>& Entries() const { return entries_; }

  // The text after the first "=" of the first entry whose text before it
  // equals `name` (letter case ignored under the user's locale); entries
  // without "=" never match; the empty text when none does.
  std::string Value(std::string_view name) const;

 private:
  std::vector<std::string> entries_;
};

// Every "%" with the two characters after it (fewer at the end of the text)
// becomes the byte they give in hexadecimal, or nothing when they are no
// hexadecimal number. Other characters, "+" included, stay.
std::string PercentDecode(std::string_view text);

// Splits the text at every "&" into entries, each with "+" turned into a
// blank and then percent-decoded as a whole (so "%3D" gives a real "=").
// Empty runs give empty entries; an empty text and a final "&" give none.
void DecodeParameters(std::string_view text, TParameterList& parameters);

// The decoded path of a request target whose query is already cut off: "\"
// becomes "/", an absolute target ("http://host:port/...") loses its scheme
// and authority, the path and the document are percent-decoded and a
// parameter part that begins at the first "=" is kept as it is. `host`
// receives the host an absolute target names (else it is left alone).
std::string RequestPathOf(std::string_view target, std::string& host);

// Base64 in the standard alphabet; characters outside it are skipped and
// the first "=" ends the data.
std::string Base64Decode(std::string_view text);

}  // namespace ormelin
