#include "net/HostHeader.h"

#include <algorithm>

#include "platform/IPAddress.h"
#include "platform/Text.h"

namespace ormelin {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string HostNameKey(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  std::string key(name);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

std::vector<std::string> HostNameKeys(std::string_view text) {
  std::vector<std::string> keys;
  for (const std::string_view name : BlankSeparatedWords(text)) keys.push_back(HostNameKey(name));
  return keys;
}

bool HostHeaderNames(std::string_view host, const std::vector<std::string>& names) {
  while (!host.empty() && IsBlank(host.front())) host.remove_prefix(1);
  while (!host.empty() && IsBlank(host.back())) host.remove_suffix(1);
  TIPAddress address;
  if (!host.empty() && host.front() == '[') {
    const size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    const std::string_view rest = host.substr(close + 1);
    if (!rest.empty() && (rest.front() != ':' || !AllDigits(rest.substr(1)))) return false;
    return ParseIPAddress(host.substr(1, close - 1), address);
  }
  const size_t colon = host.find(':');
  if (colon != std::string_view::npos) {
    if (!AllDigits(host.substr(colon + 1))) return false;  // a second colon among them
    host = host.substr(0, colon);
  }
  if (host.empty()) return false;
  if (ParseIPAddress(host, address)) return true;
  return std::find(names.begin(), names.end(), HostNameKey(host)) != names.end();
}

}  // namespace ormelin
