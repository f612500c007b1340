#include "transfer/Url.h"

#include <cctype>

namespace ovlu {

namespace {

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

std::string DropFragment(const std::string& s) { return s.substr(0, s.find('#')); }

// The scheme of an absolute reference, lower case; "" when it has none.
std::string SchemeOf(const std::string& ref) {
  const std::size_t colon = ref.find(':');
  if (colon == 0 || colon == std::string::npos || colon > ref.find_first_of("/?#")) return {};
  if (!std::isalpha(static_cast<unsigned char>(ref[0]))) return {};
  std::string scheme;
  for (std::size_t i = 0; i < colon; ++i) {
    const unsigned char c = static_cast<unsigned char>(ref[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return {};
    scheme += static_cast<char>(std::tolower(c));
  }
  return scheme;
}

// A host name or address, with an optional port.
bool HostOk(const std::string& authority) {
  std::string host = authority;
  std::size_t portAt = std::string::npos;
  if (!host.empty() && host[0] == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string::npos || close == 1) return false;
    for (std::size_t i = 1; i < close; ++i)
      if (!IsHex(host[i]) && host[i] != ':' && host[i] != '.') return false;
    if (close + 1 < host.size() && host[close + 1] != ':') return false;
    portAt = close + 1 < host.size() ? close + 1 : std::string::npos;
    host = host.substr(0, close + 1);
  } else {
    portAt = host.find(':');
    host = host.substr(0, portAt);
    if (host.empty()) return false;
    for (char c : host)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
        return false;
  }
  if (portAt == std::string::npos) return true;
  const std::string port = authority.substr(portAt + 1);
  if (port.empty() || port.size() > 5) return false;
  for (char c : port)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  // A port is a 16-bit number; 0 names none.
  const long number = std::stol(port);
  return number >= 1 && number <= 65535;
}

// The path and query written for the wire.
std::string Encode(const std::string& s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const bool encoded = c == '%' && i + 2 < s.size() && IsHex(s[i + 1]) && IsHex(s[i + 2]);
    if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || (c == '%' && !encoded)) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Drops the last segment of out, with its "/".
void PopSegment(std::string& out) {
  const std::size_t slash = out.rfind('/');
  out.erase(slash == std::string::npos ? 0 : slash);
}

// The path without its "." and ".." segments.
std::string RemoveDots(std::string in) {
  std::string out;
  while (!in.empty()) {
    if (in.compare(0, 3, "../") == 0) {
      in.erase(0, 3);
    } else if (in.compare(0, 2, "./") == 0) {
      in.erase(0, 2);
    } else if (in.compare(0, 3, "/./") == 0) {
      in.replace(0, 3, "/");
    } else if (in == "/.") {
      in = "/";
    } else if (in.compare(0, 4, "/../") == 0) {
      in.replace(0, 4, "/");
      PopSegment(out);
    } else if (in == "/..") {
      in = "/";
      PopSegment(out);
    } else if (in == "." || in == "..") {
      in.clear();
    } else {
      const std::size_t end = in.find('/', 1);
      out += in.substr(0, end);
      in.erase(0, end == std::string::npos ? in.size() : end);
    }
  }
  return out;
}

struct Parts {
  std::string scheme, authority, path, query;  // query with its "?"
};

// An http(s) URL in its parts, the fragment left out; false when refused.
bool Split(const std::string& url, Parts* p) {
  p->scheme = SchemeOf(url);
  if (p->scheme != "http" && p->scheme != "https") return false;
  const std::size_t at = p->scheme.size() + 1;
  if (url.compare(at, 2, "//") != 0) return false;
  const std::string rest = DropFragment(url.substr(at + 2));
  const std::size_t pathAt = rest.find_first_of("/?");
  p->authority = rest.substr(0, pathAt);
  if (!HostOk(p->authority)) return false;
  const std::string tail = pathAt == std::string::npos ? std::string() : rest.substr(pathAt);
  const std::size_t q = tail.find('?');
  p->path = tail.substr(0, q);
  p->query = q == std::string::npos ? std::string() : tail.substr(q);
  return true;
}

}  // namespace

std::string WireUrl(const std::string& url) {
  Parts p;
  if (!Split(TrimBlanks(url), &p)) return {};
  const std::string path = RemoveDots(p.path);
  return p.scheme + "://" + p.authority + Encode(path) + Encode(p.query);
}

std::string ResolveUrl(const std::string& base, const std::string& location) {
  const std::string ref = DropFragment(TrimBlanks(location));
  if (!SchemeOf(ref).empty()) return WireUrl(ref);
  Parts b;
  if (!Split(base, &b)) return {};
  if (ref.compare(0, 2, "//") == 0) return WireUrl(b.scheme + ":" + ref);
  const std::string root = b.scheme + "://" + b.authority;
  if (ref.empty()) return WireUrl(root + b.path + b.query);
  if (ref[0] == '/') return WireUrl(root + ref);
  if (ref[0] == '?') return WireUrl(root + b.path + ref);
  // Relative to the folder of the current path.
  const std::size_t slash = b.path.rfind('/');
  const std::string folder = slash == std::string::npos ? "/" : b.path.substr(0, slash + 1);
  return WireUrl(root + folder + ref);
}

std::string UrlRefusal(const std::string& url) {
  return WireUrl(url).empty() ? "URL is malformed: " + url : std::string();
}

std::string TrimBlanks(const std::string& s) {
  const char* blanks = " \t\r\n";
  const std::size_t b = s.find_first_not_of(blanks);
  if (b == std::string::npos) return std::string();
  return s.substr(b, s.find_last_not_of(blanks) - b + 1);
}

}  // namespace ovlu
