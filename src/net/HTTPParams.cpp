#include "net/HTTPParams.h"

#include "platform/Collation.h"

namespace ormelin {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string TParameterList::Value(std::string_view name) const {
  for (const std::string& entry : entries_) {
    const size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    if (AnsiSameText(std::string_view(entry).substr(0, equals), name))
      return entry.substr(equals + 1);
  }
  return std::string();
}

std::string PercentDecode(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      result += text[i++];
      continue;
    }
    const std::string_view digits = text.substr(i + 1, 2);
    i += 1 + digits.size();
    int value = 0;
    bool valid = !digits.empty();
    for (char c : digits) {
      const int digit = HexValue(c);
      if (digit < 0) valid = false;
      value = value * 16 + (digit < 0 ? 0 : digit);
    }
    if (valid) result += static_cast<char>(value);
  }
  return result;
}

void DecodeParameters(std::string_view text, TParameterList& parameters) {
  parameters.Clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t stop = text.find('&', start);
    if (stop == std::string_view::npos) stop = text.size();
    std::string run(text.substr(start, stop - start));
    for (char& c : run) {
      if (c == '+') c = ' ';
    }
    parameters.Add(PercentDecode(run));
    start = stop + 1;
  }
}

std::string RequestPathOf(std::string_view target, std::string& host) {
  if (target == "*") return "*";
  std::string rest(target);
  for (char& c : rest) {
    if (c == '\\') c = '/';
  }
  const size_t scheme = rest.find("://");
  const bool absolute = scheme != std::string::npos;
  std::string pathPrefix;
  if (absolute) {
    std::string afterScheme = rest.substr(scheme + 3);
    const size_t slash = afterScheme.find('/');
    std::string authority = afterScheme.substr(0, slash);
    rest = slash == std::string::npos ? std::string() : afterScheme.substr(slash + 1);
    pathPrefix = "/";
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    std::string named;
    if (!authority.empty() && authority[0] == '[') {
      const size_t close = authority.find(']');
      named = authority.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    } else {
      named = authority.substr(0, authority.find(':'));
    }
    if (!named.empty()) host = named;
  }
  const size_t equals = rest.find('=');
  const size_t split = equals == std::string::npos ? rest.rfind('/')
                       : equals == 0               ? std::string::npos
                                                   : rest.rfind('/', equals - 1);
  const size_t documentStart = split == std::string::npos ? 0 : split + 1;
  std::string path = rest.substr(0, documentStart);
  std::string document = rest.substr(
      documentStart, equals == std::string::npos ? std::string::npos : equals - documentStart);
  std::string parameters = equals == std::string::npos ? std::string() : rest.substr(equals);
  if (absolute) document = document.substr(0, document.find('#'));
  parameters = parameters.substr(0, parameters.find('#'));
  return PercentDecode(pathPrefix + path) + PercentDecode(document) + parameters;
}

std::string Base64Decode(std::string_view text) {
  std::string result;
  unsigned int bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    int value;
    if (c >= 'A' && c <= 'Z')
      value = c - 'A';
    else if (c >= 'a' && c <= 'z')
      value = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      value = c - '0' + 52;
    else if (c == '+')
      value = 62;
    else if (c == '/')
      value = 63;
    else
      continue;
    bits = (bits << 6) | static_cast<unsigned int>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      result += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return result;
}

}  // namespace ormelin
