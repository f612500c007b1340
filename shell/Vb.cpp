#include "shell/Vb.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/Host.h"

namespace ovlu {

std::size_t InStr(std::size_t start, const std::string& text, const std::string& what) {
  if (start < 1) throw VbError(errInvalidCall, "Invalid procedure call");
  if (start > text.size() + 1) return 0;
  std::size_t p = text.find(what, start - 1);
  return p == std::string::npos ? 0 : p + 1;
}

std::string Mid(const std::string& text, long long start, long long length) {
  if (start < 1) throw VbError(errInvalidCall, "Invalid procedure call");
  if (length < -1) throw VbError(errInvalidCall, "Invalid procedure call");
  if (static_cast<unsigned long long>(start) > text.size()) return std::string();
  std::size_t from = static_cast<std::size_t>(start - 1);
  if (length == -1) return text.substr(from);
  return text.substr(from, static_cast<std::size_t>(length));
}

std::string MidLen(const std::string& text, long long start, long long length) {
  if (length < 0) throw VbError(errInvalidCall, "Invalid procedure call");
  return Mid(text, start, length);
}

std::string Left(const std::string& text, long long length) {
  if (length < 0) throw VbError(errInvalidCall, "Invalid procedure call");
  return text.substr(0, static_cast<std::size_t>(length));
}

std::string Right(const std::string& text, long long length) {
  if (length < 0) throw VbError(errInvalidCall, "Invalid procedure call");
  std::size_t n = static_cast<std::size_t>(length);
  return n >= text.size() ? text : text.substr(text.size() - n);
}

std::string LCase(const std::string& text) {
  std::string out = text;
  for (char& ch : out) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
    // Windows-1252 capitals with a small letter 32 places further on.
    else if ((c >= 0xC0 && c <= 0xDE && c != 0xD7))
      c = static_cast<unsigned char>(c + 32);
    else if (c == 0x8A || c == 0x8C || c == 0x8E)
      c = static_cast<unsigned char>(c + 16);
    else if (c == 0x9F)
      c = 0xFF;
    ch = static_cast<char>(c);
  }
  return out;
}

namespace {
// Code points of bytes 0x80..0x9F in Windows-1252; 0 where the byte is unused.
const char32_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                            0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void PutUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}
}  // namespace

std::string AnsiToUtf8(const std::string& ansi) {
  std::string out;
  out.reserve(ansi.size());
  for (char ch : ansi) {
    unsigned char c = static_cast<unsigned char>(ch);
    char32_t cp = c;
    // Unused bytes map to the C1 control of the same value, as Windows does.
    if (c >= 0x80 && c <= 0x9F && kHigh[c - 0x80] != 0) cp = kHigh[c - 0x80];
    PutUtf8(out, cp);
  }
  return out;
}

std::string Utf8ToAnsi(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t cp;
    std::size_t len;
    if (c < 0x80) {
      cp = c;
      len = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      len = 4;
    } else {
      out += '?';
      ++i;
      continue;
    }
    bool ok = i + len <= utf8.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(utf8[i + k]);
      if ((cc & 0xC0) != 0x80)
        ok = false;
      else
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) {
      out += '?';
      ++i;
      continue;
    }
    i += len;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF) ||
        (cp >= 0x80 && cp <= 0x9F && kHigh[cp - 0x80] == 0)) {
      out += static_cast<char>(cp);
      continue;
    }
    char found = '?';
    for (int k = 0; k < 32; ++k)
      if (kHigh[k] == cp) found = static_cast<char>(0x80 + k);
    out += found;
  }
  return out;
}

namespace {
double RoundHalfEven(double v) {
  // Ties go to the even neighbour, whatever the floating-point rounding mode.
  // Built on round() rather than on setting the mode for nearbyint(): the
  // text of every chunk passes here, and setting the mode costs a CPUID in
  // the Windows C runtime, which a virtual machine traps.
  const double r = std::round(v);
  if (std::fabs(r - v) != 0.5) return r;
  return 2.0 * std::round(v / 2.0);
}

std::string WholeText(double v) {
  char buf[64];
  if (std::fabs(v) < 1e15) {
    std::snprintf(buf, sizeof buf, "%.0f", v);
  } else {
    std::snprintf(buf, sizeof buf, "%.15g", v);
  }
  std::string s = buf;
  if (s == "-0") s = "0";
  return s;
}
}  // namespace

std::string Round2Text(double value, const std::string& decimalSeparator) {
  // Sizes are bytes over a million, so a value such as 1.225 is a decimal
  // half that binary doubles hold a hair above or below it. Such a value
  // counts as the half it stands for and goes to the even neighbour.
  const double scaled = value * 100.0;
  const double below = std::floor(scaled);
  const double tolerance = 1e-12 * std::max(1.0, std::fabs(scaled));
  double hundredths = RoundHalfEven(scaled);
  if (std::fabs(scaled - below - 0.5) <= tolerance)
    hundredths = std::fmod(below, 2.0) == 0 ? below : below + 1;
  double r = hundredths / 100.0;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", r);
  std::string s = buf;
  std::size_t dot = s.find('.');
  if (dot != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    dot = s.find('.');
    if (dot != std::string::npos) s.replace(dot, 1, decimalSeparator);
  }
  if (s == "-0") s = "0";
  return s;
}

std::string RoundEvenText(double value) { return WholeText(RoundHalfEven(value)); }

std::string FormatHash(float value) {
  double v = static_cast<double>(value);
  double r = v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5);
  if (r == 0) return std::string();
  return WholeText(r);
}

std::int32_t CLng(double value) {
  if (std::isnan(value)) throw VbError(errOverflow, "Overflow");
  double r = RoundHalfEven(value);
  if (r < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      r > static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    throw VbError(errOverflow, "Overflow");
  return static_cast<std::int32_t>(r);
}

std::int32_t TextToLong(const std::string& text) {
  std::size_t i = 0, n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::size_t j = n;
  while (j > i && (text[j - 1] == ' ' || text[j - 1] == '\t')) --j;
  if (i == j) throw VbError(errTypeMismatch, "Type mismatch");
  bool neg = false;
  if (text[i] == '+' || text[i] == '-') {
    neg = text[i] == '-';
    ++i;
  }
  if (i == j) throw VbError(errTypeMismatch, "Type mismatch");
  long long v = 0;
  for (std::size_t k = i; k < j; ++k) {
    char c = text[k];
    if (c < '0' || c > '9') throw VbError(errTypeMismatch, "Type mismatch");
    v = v * 10 + (c - '0');
    if (v > 2147483648LL) throw VbError(errOverflow, "Overflow");
  }
  if (neg) v = -v;
  if (v > std::numeric_limits<std::int32_t>::max() || v < std::numeric_limits<std::int32_t>::min())
    throw VbError(errOverflow, "Overflow");
  return static_cast<std::int32_t>(v);
}

}  // namespace ovlu
