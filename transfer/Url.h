// Which URLs the transfer control takes, how they are written on the wire,
// and where a redirect's Location leads: one rule for every platform, so the
// network libraries under the control only send what they are given.
#pragma once

#include <string>

namespace ovlu {

// The URL as it goes on the wire, "" when it is refused. Taken: "http" or
// "https" (in any case, written in lower case), "://", and a host; blanks
// and tabs around the URL are dropped. On the wire:
// - blanks, control characters, '"', '<', '>' and every byte outside ASCII
//   are percent-encoded (lists write folder names as they stand: "OrVento 7");
// - a '%' that starts two hex digits is kept (the URL was encoded already);
//   any other '%' is written "%25";
// - '#' starts the fragment, which stays with the client: it is not sent;
// - "." and ".." segments of the path are resolved.
// The host may hold only letters, digits, '.', '-', '_', a port after ':',
// and the brackets of an IPv6 address.
std::string WireUrl(const std::string& url);

// Where a Location header leads from the URL now requested (a wire URL):
// absolute, scheme-relative ("//host/..."), absolute-path or relative
// references, resolved with their "." and ".." segments removed; then put
// on the wire as WireUrl does. "" when the result is refused.
std::string ResolveUrl(const std::string& base, const std::string& location);

// Why the transfer refuses a URL, "" when it takes it.
std::string UrlRefusal(const std::string& url);

// The text without the blanks, tabs and line ends around it.
std::string TrimBlanks(const std::string& s);

}  // namespace ovlu
