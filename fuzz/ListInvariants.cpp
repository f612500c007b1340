#include "fuzz/ListInvariants.h"

#include <cctype>
#include <cstdint>

#include "catalogue/UpdateList.h"
#include "tools/ovlu-list/ListCheck.h"

namespace ovlu::listcheck {

namespace {

bool ValidUtf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len = c < 0x80                   ? 1
                      : (c >= 0xC2 && c <= 0xDF) ? 2
                      : (c >= 0xE0 && c <= 0xEF) ? 3
                      : (c >= 0xF0 && c <= 0xF4) ? 4
                                                 : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

class JsonReader {
 public:
  explicit JsonReader(const std::string& s) : s_(s) {}
  bool Document() {
    Blank();
    if (!Value(0)) return false;
    Blank();
    return i_ == s_.size();
  }

 private:
  bool Value(int depth) {
    if (depth > 64 || i_ >= s_.size()) return false;
    switch (s_[i_]) {
      case '{':
        return Object(depth);
      case '[':
        return Array(depth);
      case '"':
        return String();
      case 't':
        return Word("true");
      case 'f':
        return Word("false");
      case 'n':
        return Word("null");
      default:
        return Number();
    }
  }
  bool Object(int depth) {
    ++i_;
    Blank();
    if (Eat('}')) return true;
    do {
      Blank();
      if (i_ >= s_.size() || s_[i_] != '"' || !String()) return false;
      Blank();
      if (!Eat(':')) return false;
      Blank();
      if (!Value(depth + 1)) return false;
      Blank();
    } while (Eat(','));
    return Eat('}');
  }
  bool Array(int depth) {
    ++i_;
    Blank();
    if (Eat(']')) return true;
    do {
      Blank();
      if (!Value(depth + 1)) return false;
      Blank();
    } while (Eat(','));
    return Eat(']');
  }
  bool String() {
    ++i_;
    std::string raw;
    while (i_ < s_.size()) {
      const unsigned char c = static_cast<unsigned char>(s_[i_++]);
      if (c == '"') return ValidUtf8(raw);
      if (c < 0x20) return false;
      if (c != '\\') {
        raw += static_cast<char>(c);
        continue;
      }
      if (i_ >= s_.size()) return false;
      const char e = s_[i_++];
      if (e == 'u') {
        for (int k = 0; k < 4; ++k, ++i_)
          if (i_ >= s_.size() || !std::isxdigit(static_cast<unsigned char>(s_[i_]))) return false;
      } else if (std::string("\"\\/bfnrt").find(e) == std::string::npos) {
        return false;
      }
    }
    return false;
  }
  bool Number() {
    const std::size_t start = i_;
    Eat('-');
    if (!Digits()) return false;
    if (Eat('.') && !Digits()) return false;
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      if (!Eat('+')) Eat('-');
      if (!Digits()) return false;
    }
    return i_ > start;
  }
  bool Digits() {
    const std::size_t start = i_;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
    return i_ > start;
  }
  bool Word(const char* w) {
    const std::string word(w);
    if (s_.compare(i_, word.size(), word) != 0) return false;
    i_ += word.size();
    return true;
  }
  bool Eat(char c) {
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  void Blank() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
      ++i_;
  }

  const std::string& s_;
  std::size_t i_ = 0;
};

bool Has(const std::string& s, char c) { return s.find(c) != std::string::npos; }

std::string ItemFailure(const UpdateItem& r) {
  if (r.SourceIndex != 0) return "SourceIndex is not 0";
  for (const std::string* f : {&r.Action, &r.FileName, &r.DestName})
    if (Has(*f, '\r') || Has(*f, '>')) return "a field holds a CR or a \">\": " + *f;
  std::string lastName;
  for (std::size_t i = 0; i < r.Sources.size(); ++i) {
    const UpdateSource& s = r.Sources[static_cast<std::int32_t>(i)];
    if (Has(s.Url, '\r') || Has(s.Url, '>')) return "a URL holds a CR or a \">\"";
    if (s.Url.compare(0, s.Server.size(), s.Server) != 0)
      return "the server is no prefix of its URL";
    if (!s.Server.empty() && s.Url[s.Server.size()] != '/')
      return "the server does not end before a \"/\"";
    lastName = GetLastPart(s.Url, "/");
  }
  if (r.FileName != lastName) return "FileName is not the last part of the last source";
  const std::string& f = r.DestFolder;
  if (!f.empty() && f.back() != '\\' && !(f.front() == '<' && f.back() == '>' && f.size() <= 9))
    return "DestFolder is neither a folder nor a placeholder key: " + f;
  const std::string received = ReceivedFileName(r);
  const std::string destination = f + r.DestName;
  if (received.compare(0, destination.size(), destination) != 0 || received.size() < 7 ||
      received.compare(received.size() - 7, 7, ".remove") != 0)
    return "the received-file name is not the destination with its suffixes";
  return std::string();
}

// The parser's scan of a line: each tag is the text from the next "<" to the
// next ">", an action when a "<v-" follows at or after it, else a source when
// a "<s-" does, else a placeholder when it holds a "-"; the scan ends at the
// first ">" before the next "<" or at a "<" without a ">".
std::string ScanFailure(const std::string& line, const LineScan& scan, const UpdateItem& r) {
  std::size_t end = 0;  // just after the previous tag
  std::size_t sources = 0;
  for (const ListTag& t : scan.tags) {
    const std::size_t at = static_cast<std::size_t>(t.column) - 1;
    if (line.find('<', end) != at || line.find('>', at) != at + t.text.size() + 1 ||
        line.compare(at + 1, t.text.size(), t.text) != 0)
      return "a tag is not the text between the next \"<\" and the next \">\"";
    const bool action = line.find("<v-", at) != std::string::npos;
    const bool source = !action && line.find("<s-", at) != std::string::npos;
    const TagKind kind = action             ? TagKind::Action
                         : source           ? TagKind::Source
                         : Has(t.text, '-') ? TagKind::Placeholder
                                            : TagKind::Path;
    if (t.kind != kind)
      return "the tag at column " + std::to_string(t.column) + " has the wrong kind";
    sources += source ? 1 : 0;
    end = at + t.text.size() + 2;
  }
  if (sources != r.Sources.size()) return "not one source per source tag";
  const std::size_t lt = line.find('<', end);
  const std::size_t gt = line.find('>', end);
  const int strayGt = lt != std::string::npos && gt < lt ? static_cast<int>(gt) + 1 : 0;
  const int openLt =
      lt != std::string::npos && gt == std::string::npos ? static_cast<int>(lt) + 1 : 0;
  if (scan.strayGt != strayGt || scan.openLt != openLt) return "the scan ends in the wrong place";
  return std::string();
}

}  // namespace

bool IsJson(const std::string& text) { return JsonReader(text).Document(); }

std::string ListInvariantFailure(const std::vector<unsigned char>& bytes) {
  UpdateItemArray items;
  ListReading reading;
  ParseUpdateList(bytes, items, &reading);
  const std::vector<int>& lines = reading.recordLines;
  const ParseStop& stop = reading.stop;
  const std::vector<std::string>& raw = reading.lines;

  if (items.size() != lines.size() || reading.scans.size() != lines.size())
    return "not one line number and one scan per record";
  if (items.Sized() != (items.size() > 0)) return "an array without elements counts as sized";

  // The lines are the bytes cut at each CR or CR LF.
  std::string joined;
  for (std::size_t k = 0; k < raw.size(); ++k) {
    if (Has(raw[k], '\r')) return "a line holds a CR";
    joined += raw[k];
    if (joined.size() < bytes.size()) joined += '\r';
    if (joined.size() < bytes.size() && bytes[joined.size()] == '\n') joined += '\n';
  }
  if (joined != std::string(bytes.begin(), bytes.end())) return "the lines are not the file";

  // The records are the non-empty lines, in order, up to the line where the
  // reading stopped.
  std::vector<int> expected;
  for (std::size_t k = 0; k < raw.size(); ++k) {
    if (raw[k].empty()) continue;
    expected.push_back(static_cast<int>(k) + 1);
    if (!stop.reason.empty() && stop.line == static_cast<int>(k) + 1) break;
  }
  if (lines != expected) return "the records are not the non-empty lines";
  if (bytes.empty() != (!stop.reason.empty() && lines.empty()))
    return "an empty file and a stop without records do not go together";
  if (!stop.reason.empty() && !lines.empty() && stop.line != lines.back())
    return "the reading stopped on a line that made no record";

  for (std::size_t i = 0; i < items.size(); ++i) {
    const UpdateItem& r = items[static_cast<std::int32_t>(i)];
    std::string f = ItemFailure(r);
    if (f.empty())
      f = ScanFailure(raw[static_cast<std::size_t>(lines[i]) - 1], reading.scans[i], r);
    if (!f.empty()) return "record " + std::to_string(i) + ": " + f;
  }

  const CheckedList c = CheckList(bytes);
  if (c.records.size() != items.size()) return "not one JSON object per record";
  for (std::size_t i = 0; i < c.records.size(); ++i) {
    // Text that is no UTF-8 makes the library throw here.
    const std::string text = c.records[i].dump();
    if (!IsJson(text)) return "record " + std::to_string(i) + " is no JSON: " + text;
    if (text.rfind("{\"index\":" + std::to_string(i) + ",", 0) != 0)
      return "record " + std::to_string(i) + " has the wrong index";
  }
  bool stopTold = false;
  int previous = 0;
  for (const Warning& w : c.warnings) {
    if (!ValidUtf8(w.text)) return "a warning is no UTF-8";
    for (char ch : w.text)
      if (static_cast<unsigned char>(ch) < 0x20) return "a warning holds a control character";
    if (w.line < previous || w.line > static_cast<int>(raw.size()))
      return "a warning is out of place";
    previous = w.line;
    if (w.line == stop.line && w.text.find("this \">\" comes before the next \"<\"") == 0)
      stopTold = true;
  }
  if (!lines.empty() && !stop.reason.empty() && !stopTold)
    return "the stop of the reading is not reported where it happened";
  return std::string();
}

}  // namespace ovlu::listcheck
