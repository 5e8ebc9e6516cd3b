#include "platform/Text.h"

#include <array>

namespace ormelin {
namespace {

enum : unsigned char {
  kUpper = 1,
  kLower = 2,
  kDigit = 4,
  kSpace = 8,
  kPunct = 16,
  kPrint = 32,
};

struct TCharTable {
  std::array<unsigned char, 256> upper{};
  std::array<unsigned char, 256> lower{};
  std::array<unsigned char, 256> flags{};
};

// Upper/lower pairs of code page 1250 outside ASCII.
constexpr unsigned char kPairs[][2] = {
    {0x8A, 0x9A},  // Š š
    {0x8C, 0x9C},  // Ś ś
    {0x8D, 0x9D},  // Ť ť
    {0x8E, 0x9E},  // Ž ž
    {0x8F, 0x9F},  // Ź ź
    {0xA3, 0xB3},  // Ł ł
    {0xA5, 0xB9},  // Ą ą
    {0xAA, 0xBA},  // Ş ş
    {0xAF, 0xBF},  // Ż ż
    {0xBC, 0xBE},  // Ľ ľ
};

constexpr TCharTable BuildTable() {
  TCharTable t{};
  for (int i = 0; i < 256; ++i) {
    t.upper[i] = static_cast<unsigned char>(i);
    t.lower[i] = static_cast<unsigned char>(i);
  }
  auto pair = [&t](int up, int low) {
    t.upper[low] = static_cast<unsigned char>(up);
    t.lower[up] = static_cast<unsigned char>(low);
    t.flags[up] |= kUpper;
    t.flags[low] |= kLower;
  };
  for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
  for (const auto& p : kPairs) pair(p[0], p[1]);
  for (int c = 0xC0; c <= 0xDE; ++c) {
    if (c != 0xD7) pair(c, c + 32);
  }
  t.flags[0xB5] |= kLower;  // µ has no capital here
  t.flags[0xDF] |= kLower;  // ß neither
  for (int c = '0'; c <= '9'; ++c) t.flags[c] |= kDigit;
  for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) t.flags[c] |= kSpace;
  for (int c = 0x20; c < 0x7F; ++c) t.flags[c] |= kPrint;
  for (int c = 0x80; c < 0x100; ++c) {
    if (c != 0x81 && c != 0x83 && c != 0x88 && c != 0x90 && c != 0x98) t.flags[c] |= kPrint;
  }
  for (int c = 0x21; c < 0x100; ++c) {
    if ((t.flags[c] & kPrint) && !(t.flags[c] & (kUpper | kLower | kDigit)) && c != 0xA0 &&
        c != 0xAD) {
      t.flags[c] |= kPunct;
    }
  }
  return t;
}

constexpr TCharTable kTable = BuildTable();

inline unsigned char Byte(char c) {
  return static_cast<unsigned char>(c);
}
inline bool Has(char c, unsigned char flag) {
  return (kTable.flags[Byte(c)] & flag) != 0;
}

}  // namespace

char UpperChar(char c) {
  return static_cast<char>(kTable.upper[Byte(c)]);
}
char LowerChar(char c) {
  return static_cast<char>(kTable.lower[Byte(c)]);
}

std::string AnsiUpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = UpperChar(c);
  return result;
}

std::string AnsiLowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = LowerChar(c);
  return result;
}

bool IsLetter(char c) {
  return Has(c, kUpper | kLower);
}
bool IsUpperLetter(char c) {
  return Has(c, kUpper);
}
bool IsLowerLetter(char c) {
  return Has(c, kLower);
}
bool IsDigit(char c) {
  return Has(c, kDigit);
}
bool IsSpace(char c) {
  return Has(c, kSpace);
}
bool IsPunctuation(char c) {
  return Has(c, kPunct);
}
bool IsPrintable(char c) {
  return Has(c, kPrint);
}

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string AsciiLower(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = AsciiLower(c);
  return result;
}

std::string TrimLeft(std::string_view text) {
  size_t first = 0;
  while (first < text.size() && Byte(text[first]) <= 32) ++first;
  return std::string(text.substr(first));
}

std::string TrimRight(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && Byte(text[end - 1]) <= 32) --end;
  return std::string(text.substr(0, end));
}

std::vector<std::string_view> BlankSeparatedWords(std::string_view text) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < text.size()) {
    if (static_cast<unsigned char>(text[at]) <= ' ') {
      ++at;
      continue;
    }
    size_t end = at;
    while (end < text.size() && static_cast<unsigned char>(text[end]) > ' ') ++end;
    words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

std::string Trim(std::string_view text) {
  size_t first = 0;
  while (first < text.size() && Byte(text[first]) <= 32) ++first;
  size_t end = text.size();
  while (end > first && Byte(text[end - 1]) <= 32) --end;
  return std::string(text.substr(first, end - first));
}

std::string CrLfToBlank(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      line.push_back(' ');
      ++i;
    } else {
      line.push_back(text[i]);
    }
  }
  return line;
}

std::string LineBreaksToBlanks(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      line.push_back(' ');
    } else {
      line.push_back(text[i]);
    }
  }
  return line;
}

bool SameTextFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && LowerChar(a[i]) != LowerChar(b[i])) return false;
  }
  return true;
}

int CompareTextFolded(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(LowerChar(a[i]));
    auto cb = static_cast<unsigned char>(LowerChar(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::string ReplaceTextIgnoringCase(std::string_view text, std::string_view pattern,
                                    std::string_view replacement) {
  if (pattern.empty() || pattern.size() > text.size()) return std::string(text);
  // The bytes that may start a match; when only one can (a page's "{%"
  // placeholders, for one), the search jumps from one of them to the next.
  const char lowerFirst = LowerChar(pattern[0]);
  bool starts[256] = {};
  int startCount = 0;
  for (int c = 0; c < 256; ++c) {
    if (LowerChar(static_cast<char>(c)) == lowerFirst) {
      starts[c] = true;
      ++startCount;
    }
  }
  const char onlyStart = pattern[0];
  const bool single = startCount == 1 && starts[Byte(onlyStart)];

  std::string result;
  result.reserve(text.size());
  const size_t last = text.size() - pattern.size();  // the last place a match may begin
  size_t copied = 0;                                 // text before this is in the result
  size_t i = 0;
  while (i <= last) {
    if (single) {
      size_t next = text.find(onlyStart, i);
      if (next == std::string_view::npos || next > last) break;
      i = next;
    } else if (!starts[Byte(text[i])]) {
      ++i;
      continue;
    }
    if (SameTextFolded(text.substr(i, pattern.size()), pattern)) {
      result.append(text.substr(copied, i - copied));
      result.append(replacement);
      i += pattern.size();
      copied = i;
    } else {
      ++i;
    }
  }
  result.append(text.substr(copied));
  return result;
}

namespace {

std::string EscapeMarkup(std::string_view text, bool quotes) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<':
        result += "&lt;";
        break;
      case '>':
        result += "&gt;";
        break;
      case '&':
        result += "&amp;";
        break;
      case '"':
        result += quotes ? "&quot;" : "\"";
        break;
      case '\'':
        result += quotes ? "&#39;" : "'";
        break;
      default:
        result.push_back(c);
    }
  }
  return result;
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
  return EscapeMarkup(text, true);
}

std::string HtmlEscapeMarkup(std::string_view text) {
  return EscapeMarkup(text, false);
}

}  // namespace ormelin
