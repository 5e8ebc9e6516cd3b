// The Host header of an HTTP request checked against the names a server
// answers to, so that a page whose site name has been pointed at this
// machine (DNS rebinding) cannot talk to it from a browser here. Pure
// functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ormelin {

// A host name as names are compared: ASCII letters lower-cased, one
// trailing dot (the root's) removed.
std::string HostNameKey(std::string_view name);

// The blank-separated words of a text, as HostNameKey gives them.
std::vector<std::string> HostNameKeys(std::string_view text);

// Whether a Host header's value ("name", "name:port", "10.0.0.1:1975",
// "[::1]:1975") names an IP address literal (IPv4, or IPv6 in brackets) or
// one of `names` (keys of HostNameKey). A value of any other form, a port
// that is not digits or a bare IPv6 address among them, names nothing.
bool HostHeaderNames(std::string_view host, const std::vector<std::string>& names);

}  // namespace ormelin
