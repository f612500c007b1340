#include "tools/ovlu-list/ListCheck.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "platform/Host.h"
#include "shell/Globals.h"
#include "shell/Vb.h"

namespace ovlu::listcheck {

namespace {

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

bool IsDestination(TagKind k) { return k == TagKind::Placeholder || k == TagKind::Path; }

// True when the destination folder of the record came from a known
// placeholder, that is from this machine rather than from the list.
bool FolderFromMachine(const LineScan& scan) {
  for (auto it = scan.tags.rbegin(); it != scan.tags.rend(); ++it)
    if (IsDestination(it->kind))
      return it->kind == TagKind::Placeholder && PathPlaceholderIndex(it->text) >= 0;
  return false;
}

std::string PlaceholderNames() {
  std::string s;
  for (const char* p : kPathPlaceholders) s += (s.empty() ? "" : ", ") + std::string(p);
  return s;
}

class Checker {
 public:
  Checker(CheckedList& out, const UrlRefusal& refusal) : out_(out), refusal_(refusal) {}

  void Warn(int line, int column, std::string text) {
    out_.warnings.push_back({line, column, std::move(text)});
  }

  void CheckTags(int line, const std::string& raw, const LineScan& scan) {
    int actionTags = 0;
    int destinationTags = 0;
    for (const ListTag& t : scan.tags) {
      switch (t.kind) {
        case TagKind::Action:
          if (StartsWith(t.text, "v-")) {
            if (++actionTags > 1)
              Warn(line, t.column,
                   "another action tag " + ShownTag(t.text) +
                       ": it replaces the action given before it");
          } else if (StartsWith(t.text, "s-")) {
            Warn(line, t.column,
                 "the source tag " + ShownTag(t.text) +
                     " comes before a \"<v-\" tag, so it is read as the action: "
                     "it adds no source; write the action tag first");
          } else {
            Warn(line, t.column,
                 "the tag " + ShownTag(t.text) +
                     " comes before a \"<v-\" tag, so it is read as the action");
          }
          break;
        case TagKind::Source:
          if (!StartsWith(t.text, "s-"))
            Warn(line, t.column,
                 "the tag " + ShownTag(t.text) +
                     " comes before a \"<s-\" tag, so it is read as a source");
          break;
        case TagKind::Placeholder:
        case TagKind::Path:
          if (++destinationTags > 1)
            Warn(line, t.column,
                 "another destination tag " + ShownTag(t.text) +
                     ": it replaces the destination given before it");
          if (t.kind == TagKind::Placeholder) CheckPlaceholder(line, t);
          break;
      }
    }
    if (scan.openLt != 0)
      Warn(line, scan.openLt,
           "the line ends inside the tag " + Shown(raw.substr(scan.openLt - 1)) +
               " (no \">\" follows): the agent ignores it");
  }

  void CheckPlaceholder(int line, const ListTag& t) {
    const std::string name = Left(t.text, 7);
    const std::string folder = "<" + name + ">";
    if (PathPlaceholderIndex(name) >= 0) {
      if (Mid(t.text, 8, 2) != "-\\")
        Warn(line, t.column,
             "the agent skips the two characters after " + name + " (here " +
                 Shown(Mid(t.text, 8, 2)) +
                 ", normally \"-\\\") and takes the file name from "
                 "the 10th character: " +
                 Shown(GetDestFileName(t.text)));
    } else if (PathPlaceholderIndex(AsciiUpper(name)) >= 0) {
      Warn(line, t.column,
           Shown(name) +
               " is not a placeholder: placeholders are written in capitals, so the "
               "folder is the literal text " +
               Shown(folder));
    } else if (StartsWith(t.text, "S-") || StartsWith(t.text, "V-")) {
      Warn(line, t.column,
           "the tag " + ShownTag(t.text) + " is not a " + (t.text[0] == 'S' ? "source" : "action") +
               " tag (the marks \"<s-\" and \"<v-\" "
               "are lower case): it is read as a destination, with the folder " +
               Shown(folder));
    } else if (name.find_first_of("\\:") != std::string::npos) {
      Warn(line, t.column,
           "the path " + Shown(t.text) +
               " contains a \"-\", so it is read as a placeholder: "
               "the folder becomes " +
               Shown(folder) + " and the file name " + Shown(GetDestFileName(t.text)));
    } else {
      Warn(line, t.column,
           Shown(name) + " is not a known placeholder (" + PlaceholderNames() +
               "): the folder is the literal text " + Shown(folder));
    }
  }

  void CheckRecord(int line, const LineScan& scan, const UpdateItem& item) {
    if (scan.tags.empty() && scan.strayGt == 0) {
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
        if (s.Url.empty())
          Warn(line, 0,
               i == 0 ? "the source URL is empty: the download stops at this record, and "
                        "neither it nor any later record is fetched"
                      : "source " + std::to_string(i + 1) + " has an empty URL");
        else if (!StartsWith(scheme, "http://") && !StartsWith(scheme, "https://"))
          Warn(line, 0, "the source " + Shown(s.Url) + " is not an http or https URL");
        else if (s.Server.empty())
          Warn(line, 0,
               "the source " + Shown(s.Url) +
                   " has no \"/\" after its host, so its server part "
                   "is empty");
        else if (i == 0 && refusal_)
          CheckAccepted(line, s);
      }
      if (item.Sources.size() > 1 && GetLastPart(item.Sources[0].Url, "/") != item.FileName)
        Warn(line, 0,
             "the file is fetched from the first source, but its name " + Shown(item.FileName) +
                 " (and the kind shown) comes from the last one");
    }

    bool hasDestinationTag = false;
    for (const ListTag& t : scan.tags)
      hasDestinationTag = hasDestinationTag || IsDestination(t.kind);
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
      // Windows finds a file name whatever its case.
      const auto [it, fresh] = destinations_.emplace(LCase(destination), line);
      if (!fresh)
        Warn(line, 0,
             "the destination " + Shown(destination) + " is also the destination of line " +
                 std::to_string(it->second));
      CheckAgentFolder(line, item);
    }
  }

  // The agent's requests stop the whole sequence when the transfer refuses
  // to start them: first the probe of the server part, then the GET.
  void CheckAccepted(int line, const UpdateSource& s) {
    std::string why = refusal_(s.Server);
    if (!why.empty()) {
      Warn(line, 0,
           "the transfer refuses the server part " + Shown(s.Server) + " (it says " + Shown(why) +
               "): the download stops at this record, and neither it nor any later record is "
               "fetched");
      return;
    }
    why = refusal_(s.Url);
    if (!why.empty())
      Warn(line, 0,
           "the transfer refuses the URL " + Shown(s.Url) + " (it says " + Shown(why) +
               "): the download stops at this record, and neither it nor any later record is "
               "fetched");
  }

  // Files of the agent's own folder that belong to the agent, not to the
  // product it updates.
  void CheckAgentFolder(int line, const UpdateItem& item) {
    std::string folder = LCase(item.DestFolder);
    std::string app = LCase(Sys().AppPath());
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    while (!app.empty() && app.back() == '\\') app.pop_back();
    if (folder != app) return;
    const std::string name = LCase(item.DestName);
    const char* what = nullptr;
    if (name == "ovliveupdate.exe")
      what = "the agent's own program: the list replaces the agent that runs it";
    else if (name == "ovliveupdate.exe.manifest")
      what = "the agent's own manifest, which the agent writes itself at start-up";
    else if (name == "publisherkey.pem")
      what = "the key the agent checks signed files with: a list must not replace it";
    if (what)
      Warn(line, 0,
           "the destination " + Shown(item.DestName) +
               " in the agent's own folder is not a "
               "file of the product but " +
               what);
  }

 private:
  CheckedList& out_;
  const UrlRefusal& refusal_;
  std::map<std::string, int> destinations_;
};

Json RecordJson(int index, int line, const UpdateItem& item, bool folderFromMachine) {
  const std::string folder =
      folderFromMachine ? HostToUtf8(item.DestFolder) : AnsiToUtf8(item.DestFolder);
  const std::string destination = folder + AnsiToUtf8(item.DestName);
  const std::string received =
      destination + ReceivedFileName(item).substr(item.DestFolder.size() + item.DestName.size());

  Json sources = Json::array();
  for (std::size_t i = 0; i < item.Sources.size(); ++i) {
    const UpdateSource& s = item.Sources[static_cast<std::int32_t>(i)];
    sources.push_back({{"url", AnsiToUtf8(s.Url)}, {"server", AnsiToUtf8(s.Server)}});
  }
  return {{"index", index},
          {"line", line},
          {"action", AnsiToUtf8(item.Action)},
          {"sources", sources},
          {"sourceIndex", item.SourceIndex},
          {"fileName", AnsiToUtf8(item.FileName)},
          {"destName", AnsiToUtf8(item.DestName)},
          {"destFolder", folder},
          {"kind", FileKind(item.FileName)},
          {"destination", destination},
          {"received", received}};
}

}  // namespace

std::string FormatWarning(const std::string& fileName, const Warning& w) {
  std::string s = fileName;
  if (w.line > 0) {
    s += ":" + std::to_string(w.line);
    if (w.column > 0) s += ":" + std::to_string(w.column);
  }
  return s + ": warning: " + w.text;
}

CheckedList CheckList(const std::vector<unsigned char>& bytes, const UrlRefusal& refusal) {
  CheckedList out;
  UpdateItemArray items;
  ListReading reading;
  ParseUpdateList(bytes, items, &reading);
  const std::vector<std::string>& raw = reading.lines;
  const ParseStop& stop = reading.stop;
  Checker check(out, refusal);

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

  const std::size_t count = items.size();
  for (std::size_t i = 0; i < count; ++i) {
    const int line = reading.recordLines[i];
    const std::string& text = raw[static_cast<std::size_t>(line) - 1];
    const LineScan& scan = reading.scans[i];
    const UpdateItem& item = items[static_cast<std::int32_t>(i)];

    const std::size_t lf = text.find('\n');
    if (lf != std::string::npos)
      check.Warn(line, static_cast<int>(lf) + 1,
                 "the line holds " +
                     Plural(std::count(text.begin(), text.end(), '\n'), "line feed") +
                     " without a carriage return: the agent ends lines only at CR or CR LF, so "
                     "all of this text is one record");
    check.CheckTags(line, text, scan);

    if (!stop.reason.empty() && stop.line == line) {
      int later = 0;
      for (std::size_t k = static_cast<std::size_t>(line); k < raw.size(); ++k)
        later += raw[k].empty() ? 0 : 1;
      const std::string lost = later == 0 ? std::string("no later line holds a record")
                                          : Plural(later, "later non-empty line") +
                                                (later == 1 ? " is" : " are") + " not read";
      if (scan.strayGt != 0)
        check.Warn(line, scan.strayGt,
                   "this \">\" comes before the next \"<\": the agent stops reading the list "
                   "here; this record keeps only the tags before it, and " +
                       lost);
      else
        check.Warn(line, 0, "the agent stops reading the list here (" + stop.reason + "); " + lost);
    }
    check.CheckRecord(line, scan, item);
    out.records.push_back(RecordJson(static_cast<int>(i), line, item, FolderFromMachine(scan)));
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
