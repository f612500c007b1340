#include "tools/ovlu-list/ListCheck.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "shell/Globals.h"
#include "shell/Vb.h"

namespace ovlu::listcheck {

namespace {

const char* const kPlaceholders[] = {"APPPATH", "SYSPATH", "S32PATH",
                                     "WINPATH", "WOSPATH", "ARCPATH"};

bool IsPlaceholder(const std::string& name) {
  for (const char* p : kPlaceholders)
    if (name == p) return true;
  return false;
}

std::string AsciiUpper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool IsUtf8(const std::string& s, bool* hasMultiByte) {
  bool multi = false;
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t len;
    char32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    multi = true;
    i += len;
  }
  if (hasMultiByte) *hasMultiByte = multi;
  return true;
}

// Text that comes from this machine (the agent's folder, the environment,
// the data folder) is already in the file system's encoding, UTF-8 here;
// anything else is taken as Windows-1252.
std::string HostToUtf8(const std::string& s) { return IsUtf8(s, nullptr) ? s : AnsiToUtf8(s); }

// List text for a one-line message: UTF-8, control characters written as
// escapes, long texts cut short.
std::string Shown(const std::string& ansi) {
  constexpr std::size_t kMax = 72;
  const bool cut = ansi.size() > kMax;
  const std::string utf8 = AnsiToUtf8(cut ? ansi.substr(0, kMax) : ansi);
  std::string out = "\"";
  for (char ch : utf8) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  return out + (cut ? "...\"" : "\"");
}

std::string Plural(long n, const std::string& what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

std::string ShownTag(const std::string& text) { return Shown("<" + text + ">"); }

enum class TagKind { Action, Source, Placeholder, Path };

struct Tag {
  std::size_t lt = 0;  // position of its "<"
  std::string text;    // between "<" and ">"
  TagKind kind = TagKind::Path;
};

struct LineTags {
  std::vector<Tag> tags;
  std::size_t strayGt = 0;  // a ">" before the next "<": the reading ends there
  std::size_t openLt = 0;   // a "<" with no ">" after it
};

// The tags of a line, found and told apart exactly as the parser's scan does:
// the kind of a tag depends on what follows it in the line.
LineTags FindTags(const std::string& line) {
  LineTags out;
  std::size_t p = 1;
  for (;;) {
    const std::size_t lt = InStr(p, line, "<");
    const std::size_t gt = InStr(p, line, ">");
    if (lt == 0 || gt == 0) {
      out.openLt = gt == 0 ? lt : 0;
      break;
    }
    if (gt < lt) {
      out.strayGt = gt;
      break;
    }
    Tag t;
    t.lt = lt;
    t.text = line.substr(lt, gt - lt - 1);
    if (InStr(p, line, "<v-") != 0)
      t.kind = TagKind::Action;
    else if (InStr(p, line, "<s-") != 0)
      t.kind = TagKind::Source;
    else if (t.text.find('-') != std::string::npos)
      t.kind = TagKind::Placeholder;
    else
      t.kind = TagKind::Path;
    out.tags.push_back(std::move(t));
    p = gt + 1;
  }
  return out;
}

bool IsDestination(TagKind k) { return k == TagKind::Placeholder || k == TagKind::Path; }

// True when the destination folder of the record came from a known
// placeholder, that is from this machine rather than from the list.
bool FolderFromMachine(const LineTags& lt) {
  for (auto it = lt.tags.rbegin(); it != lt.tags.rend(); ++it) {
    if (!IsDestination(it->kind)) continue;
    return it->kind == TagKind::Placeholder && IsPlaceholder(Left(it->text, 7));
  }
  return false;
}

std::string PlaceholderNames() {
  std::string s;
  for (const char* p : kPlaceholders) s += (s.empty() ? "" : ", ") + std::string(p);
  return s;
}

class Checker {
 public:
  explicit Checker(CheckedList& out) : out_(out) {}

  void Warn(int line, std::size_t column, std::string text) {
    out_.warnings.push_back({line, static_cast<int>(column), std::move(text)});
  }

  void CheckTags(int line, const std::string& raw, const LineTags& lt) {
    int actionTags = 0;
    int destinationTags = 0;
    for (const Tag& t : lt.tags) {
      switch (t.kind) {
        case TagKind::Action:
          if (StartsWith(t.text, "v-")) {
            if (++actionTags > 1)
              Warn(line, t.lt,
                   "another action tag " + ShownTag(t.text) +
                       ": it replaces the action given before it");
          } else if (StartsWith(t.text, "s-")) {
            Warn(line, t.lt,
                 "the source tag " + ShownTag(t.text) +
                     " comes before a \"<v-\" tag, so it is read as the action: "
                     "it adds no source; write the action tag first");
          } else {
            Warn(line, t.lt,
                 "the tag " + ShownTag(t.text) +
                     " comes before a \"<v-\" tag, so it is read as the action");
          }
          break;
        case TagKind::Source:
          if (!StartsWith(t.text, "s-"))
            Warn(line, t.lt,
                 "the tag " + ShownTag(t.text) +
                     " comes before a \"<s-\" tag, so it is read as a source");
          break;
        case TagKind::Placeholder:
        case TagKind::Path:
          if (++destinationTags > 1)
            Warn(line, t.lt,
                 "another destination tag " + ShownTag(t.text) +
                     ": it replaces the destination given before it");
          if (t.kind == TagKind::Placeholder) CheckPlaceholder(line, t);
          break;
      }
    }
    if (lt.openLt != 0)
      Warn(line, lt.openLt,
           "the line ends inside the tag " + Shown(raw.substr(lt.openLt - 1)) +
               " (no \">\" follows): the agent ignores it");
  }

  void CheckPlaceholder(int line, const Tag& t) {
    const std::string name = Left(t.text, 7);
    const std::string folder = "<" + name + ">";
    if (IsPlaceholder(name)) {
      if (Mid(t.text, 8, 2) != "-\\")
        Warn(line, t.lt,
             "the agent skips the two characters after " + name + " (here " +
                 Shown(Mid(t.text, 8, 2)) +
                 ", normally \"-\\\") and takes the file name from "
                 "the 10th character: " +
                 Shown(GetDestFileName(t.text)));
    } else if (IsPlaceholder(AsciiUpper(name))) {
      Warn(line, t.lt,
           Shown(name) +
               " is not a placeholder: placeholders are written in capitals, so the "
               "folder is the literal text " +
               Shown(folder));
    } else if (StartsWith(t.text, "S-") || StartsWith(t.text, "V-")) {
      Warn(line, t.lt,
           "the tag " + ShownTag(t.text) + " is not a " + (t.text[0] == 'S' ? "source" : "action") +
               " tag (the marks \"<s-\" and \"<v-\" "
               "are lower case): it is read as a destination, with the folder " +
               Shown(folder));
    } else if (name.find_first_of("\\:") != std::string::npos) {
      Warn(line, t.lt,
           "the path " + Shown(t.text) +
               " contains a \"-\", so it is read as a placeholder: "
               "the folder becomes " +
               Shown(folder) + " and the file name " + Shown(GetDestFileName(t.text)));
    } else {
      Warn(line, t.lt,
           Shown(name) + " is not a known placeholder (" + PlaceholderNames() +
               "): the folder is the literal text " + Shown(folder));
    }
  }

  void CheckRecord(int line, const LineTags& lt, const UpdateItem& item) {
    if (lt.tags.empty() && lt.strayGt == 0) {
      Warn(line, 0,
           "the line holds no tag, yet it makes a record, with every field empty; the download "
           "stops at a record without a source");
      return;
    }
    const bool hasSource = item.Sources.Sized();
    if (!hasSource) {
      Warn(line, 0,
           "the record has no source: the download stops at this record, and neither it nor "
           "any later record is fetched");
    } else {
      for (std::size_t i = 0; i < item.Sources.size(); ++i) {
        const UpdateSource& s = item.Sources[static_cast<std::int32_t>(i)];
        const std::string scheme = LCase(Left(s.Url, 8));
        if (!StartsWith(scheme, "http://") && !StartsWith(scheme, "https://"))
          Warn(line, 0, "the source " + Shown(s.Url) + " is not an http or https URL");
        else if (s.Server.empty())
          Warn(line, 0,
               "the source " + Shown(s.Url) +
                   " has no \"/\" after its host, so its server part "
                   "is empty");
      }
      if (item.Sources.size() > 1 && GetLastPart(item.Sources[0].Url, "/") != item.FileName)
        Warn(line, 0,
             "the file is fetched from the first source, but its name " + Shown(item.FileName) +
                 " (and the kind shown) comes from the last one");
    }

    bool hasDestinationTag = false;
    for (const Tag& t : lt.tags) hasDestinationTag = hasDestinationTag || IsDestination(t.kind);
    if (!hasDestinationTag)
      Warn(line, 0, "the record has no destination tag: its destination is empty");
    else if (item.DestName.empty())
      Warn(line, 0,
           "the destination gives no file name: the destination is the folder " +
               Shown(item.DestFolder) + " itself");

    if (item.Action.empty())
      Warn(line, 0,
           "the record has no action: the file is put in place and nothing more is done "
           "with it");
    else if (item.Action != "R" && item.Action != "E" && item.Action != "S")
      Warn(line, 0,
           "the action " + Shown(item.Action) +
               " is not \"R\", \"E\" or \"S\" (the codes are "
               "case-sensitive): the agent ignores it, puts the file in place and does nothing "
               "more");

    const std::string destination = item.DestFolder + item.DestName;
    if (!item.DestName.empty()) {
      const auto [it, fresh] = destinations_.emplace(LCase(destination), line);
      if (!fresh)
        Warn(line, 0,
             "the destination " + Shown(destination) + " is also the destination of line " +
                 std::to_string(it->second));
    }
  }

 private:
  CheckedList& out_;
  std::map<std::string, int> destinations_;
};

std::string RecordJson(int index, int line, const UpdateItem& item, bool folderFromMachine) {
  const std::string folder =
      folderFromMachine ? HostToUtf8(item.DestFolder) : AnsiToUtf8(item.DestFolder);
  const std::string destination = folder + AnsiToUtf8(item.DestName);
  const std::string received =
      destination + ReceivedFileName(item).substr(item.DestFolder.size() + item.DestName.size());

  std::string j = "{\"index\":" + std::to_string(index) + ",\"line\":" + std::to_string(line);
  j += ",\"action\":" + JsonString(AnsiToUtf8(item.Action));
  j += ",\"sources\":[";
  for (std::size_t i = 0; i < item.Sources.size(); ++i) {
    const UpdateSource& s = item.Sources[static_cast<std::int32_t>(i)];
    j += std::string(i ? "," : "") + "{\"url\":" + JsonString(AnsiToUtf8(s.Url)) +
         ",\"server\":" + JsonString(AnsiToUtf8(s.Server)) + "}";
  }
  j += "],\"sourceIndex\":" + std::to_string(item.SourceIndex);
  j += ",\"fileName\":" + JsonString(AnsiToUtf8(item.FileName));
  j += ",\"destName\":" + JsonString(AnsiToUtf8(item.DestName));
  j += ",\"destFolder\":" + JsonString(folder);
  j += ",\"kind\":" + JsonString(FileKind(item.FileName));
  j += ",\"destination\":" + JsonString(destination);
  j += ",\"received\":" + JsonString(received);
  return j + "}";
}

}  // namespace

std::vector<std::string> SplitAgentLines(const std::vector<unsigned char>& bytes) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\r') ++end;
    lines.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                       bytes.begin() + static_cast<std::ptrdiff_t>(end));
    pos = end;
    if (pos < bytes.size()) {
      ++pos;
      if (pos < bytes.size() && bytes[pos] == '\n') ++pos;
    }
  }
  return lines;
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (char ch : utf8) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string FormatWarning(const std::string& fileName, const Warning& w) {
  std::string s = fileName;
  if (w.line > 0) {
    s += ":" + std::to_string(w.line);
    if (w.column > 0) s += ":" + std::to_string(w.column);
  }
  return s + ": warning: " + w.text;
}

CheckedList CheckList(const std::vector<unsigned char>& bytes) {
  CheckedList out;
  ParseStop stop;
  ParseUpdateList(bytes, out.items, &stop, &out.lines);

  const std::vector<std::string> raw = SplitAgentLines(bytes);
  Checker check(out);

  const std::string all(bytes.begin(), bytes.end());
  bool multiByte = false;
  if (IsUtf8(all, &multiByte) && multiByte) {
    std::size_t n = 0;
    while (n < raw.size() && IsUtf8(raw[n], &multiByte) && !multiByte) ++n;
    check.Warn(static_cast<int>(n + 1), 0,
               "the text looks like UTF-8, but the agent reads the list as Windows-1252: every "
               "letter outside ASCII becomes two or three other characters (\xC3\xA8 is read as "
               "\xC3\x83\xC2\xA8)");
  }

  const std::size_t count = out.items.size();
  for (std::size_t i = 0; i < count; ++i) {
    const int line = out.lines[i];
    const std::string& text = raw[static_cast<std::size_t>(line) - 1];
    const LineTags tags = FindTags(text);
    const UpdateItem& item = out.items[static_cast<std::int32_t>(i)];

    const std::size_t lf = text.find('\n');
    if (lf != std::string::npos)
      check.Warn(line, lf + 1,
                 "the line holds " +
                     Plural(std::count(text.begin(), text.end(), '\n'), "line feed") +
                     " without a carriage return: the agent ends lines only at CR or CR LF, so "
                     "all of this text is one record");
    check.CheckTags(line, text, tags);

    if (!stop.reason.empty() && stop.line == line) {
      int later = 0;
      for (std::size_t k = static_cast<std::size_t>(line); k < raw.size(); ++k)
        later += raw[k].empty() ? 0 : 1;
      const std::string lost = later == 0 ? std::string("no later line holds a record")
                                          : Plural(later, "later non-empty line") +
                                                (later == 1 ? " is" : " are") + " not read";
      if (tags.strayGt != 0)
        check.Warn(line, tags.strayGt,
                   "this \">\" comes before the next \"<\": the agent stops reading the list "
                   "here; this record keeps only the tags before it, and " +
                       lost);
      else
        check.Warn(line, 0, "the agent stops reading the list here (" + stop.reason + "); " + lost);
    }
    check.CheckRecord(line, tags, item);
    out.records.push_back(RecordJson(static_cast<int>(i), line, item, FolderFromMachine(tags)));
  }

  if (count == 0) {
    if (bytes.empty())
      check.Warn(0, 0, "the file is empty: the list has no records");
    else
      check.Warn(0, 0, "every line is empty: the list has no records");
  }

  std::stable_sort(out.warnings.begin(), out.warnings.end(),
                   [](const Warning& a, const Warning& b) { return a.line < b.line; });
  return out;
}

}  // namespace ovlu::listcheck
