#include "catalogue/UpdateList.h"

#include <iterator>

#include "shell/Globals.h"
#include "shell/Vb.h"

namespace ovlu {

std::string GetLastPart(const std::string& text, const std::string& separator) {
  std::size_t p = 1;
  for (;;) {
    std::size_t f = InStr(p, text, separator);
    if (f == 0) break;
    p = f + separator.size();
    if (separator.empty()) break;
  }
  return Mid(text, static_cast<long long>(p));
}

std::string GetFolderPart(const std::string& text) {
  std::size_t p = 1;
  for (;;) {
    std::size_t f = InStr(p, text, "\\");
    if (f == 0) break;
    p = f + 1;
  }
  return Left(text, static_cast<long long>(p - 1));
}

std::string GetServerPart(const std::string& url) {
  try {
    std::size_t p1 = InStr(1, url, "//");
    std::size_t p2 = InStr(p1 + 2, url, "/");
    if (p2 == 0) return std::string();
    return Left(url, static_cast<long long>(p2 - 1));
  } catch (const VbError&) {
    return std::string();
  }
}

std::string GetDestFileName(const std::string& tag) {
  if (tag.size() < 10) return std::string();
  return Mid(tag, 10);
}

int PathPlaceholderIndex(const std::string& tag) {
  const std::string name = Left(tag, 7);
  for (std::size_t i = 0; i < std::size(kPathPlaceholders); ++i)
    if (name == kPathPlaceholders[i]) return static_cast<int>(i);
  return -1;
}

std::string ConvertPathTag(const std::string& tag) {
  switch (PathPlaceholderIndex(tag)) {
    case 0:
      return Sys().AppPath() + "\\";
    case 1:
      return G().EnvWindir + "\\system\\";
    case 2:
      return G().EnvWindir + "\\system32\\";
    case 3:
      return G().EnvWindir + "\\";
    case 4:
      return G().EnvSystemDrive + "\\";
    case 5:
      return G().DataFolder + "\\";
    default:
      return "<" + Left(tag, 7) + ">";
  }
}

std::string FileKind(const std::string& fileName) {
  const std::string last = LCase(Right(fileName, 3));
  if (last == "exe") return "Applicazione";
  if (last == "dll") return "Componente";
  if (last == "ocx") return "Componente";
  if (last == "dat") return "Archivio";
  return "Accessorio";
}

std::string ReceivedFileName(const UpdateItem& item) {
  std::string name = item.DestFolder + item.DestName;
  if (item.Action == "R") name += ".tmp";
  return name + ".remove";
}

std::vector<std::string> ListLines(const std::vector<unsigned char>& bytes) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    std::size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\r') ++end;
    lines.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                       bytes.begin() + static_cast<std::ptrdiff_t>(end));
    pos = end;
    if (pos < bytes.size()) {
      ++pos;  // the CR
      if (pos < bytes.size() && bytes[pos] == '\n') ++pos;
    }
  }
  return lines;
}

LineScan ScanListLine(const std::string& line) {
  // A tag is an action when a "<v-" starts at or after its "<", a source
  // when a "<s-" does: both hold exactly for the tags up to the last one.
  const std::size_t lastV = line.rfind("<v-");
  const std::size_t lastS = line.rfind("<s-");
  LineScan out;
  std::size_t p = 1;
  for (;;) {
    const std::size_t lt = InStr(p, line, "<");
    const std::size_t gt = InStr(p, line, ">");
    if (lt == 0 || gt == 0) {
      if (gt == 0) out.openLt = static_cast<int>(lt);
      return out;
    }
    if (gt < lt) {
      out.strayGt = static_cast<int>(gt);
      return out;
    }
    ListTag& t = out.tags.emplace_back();
    t.column = static_cast<int>(lt);
    t.text = line.substr(lt, gt - lt - 1);
    if (lastV != std::string::npos && lt <= lastV + 1)
      t.kind = TagKind::Action;
    else if (lastS != std::string::npos && lt <= lastS + 1)
      t.kind = TagKind::Source;
    else if (t.text.find('-') != std::string::npos)
      t.kind = TagKind::Placeholder;
    else
      t.kind = TagKind::Path;
    p = gt + 1;
  }
}

namespace {

void ApplyTag(const ListTag& t, UpdateItem& r) {
  switch (t.kind) {
    case TagKind::Action:
      r.Action = Mid(t.text, 3);
      break;
    case TagKind::Source: {
      const auto last = static_cast<std::int32_t>(r.Sources.size());
      r.Sources.Redim(last);
      UpdateSource& src = r.Sources[last];
      src.Url = Mid(t.text, 3);
      src.Server = GetServerPart(src.Url);
      r.FileName = GetLastPart(src.Url, "/");
      break;
    }
    case TagKind::Placeholder:
      r.DestName = GetDestFileName(t.text);
      r.DestFolder = ConvertPathTag(t.text);
      break;
    case TagKind::Path:
      r.DestName = GetLastPart(t.text, "\\");
      r.DestFolder = GetFolderPart(t.text);
      break;
  }
}

}  // namespace

void ParseUpdateList(const std::vector<unsigned char>& bytes, UpdateItemArray& items,
                     ListReading* reading) {
  if (reading) *reading = ListReading();
  std::vector<std::string> lines = ListLines(bytes);
  ParseStop stop;
  if (lines.empty()) stop = {"the file is empty", 0};
  std::int32_t counter = -1;
  for (std::size_t n = 0; n < lines.size() && stop.reason.empty(); ++n) {
    if (lines[n].empty()) continue;
    const int lineNumber = static_cast<int>(n) + 1;
    ++counter;
    items.Redim(counter);
    LineScan scan = ScanListLine(lines[n]);
    try {
      for (const ListTag& t : scan.tags) ApplyTag(t, items[counter]);
    } catch (const VbError& e) {
      stop = {e.what(), lineNumber};  // the host could not give a folder
    }
    if (scan.strayGt != 0 && stop.reason.empty())
      stop = {"a \">\" comes before the next \"<\"", lineNumber};
    if (reading) {
      reading->recordLines.push_back(lineNumber);
      reading->scans.push_back(std::move(scan));
    }
  }
  if (reading) {
    reading->lines = std::move(lines);
    reading->stop = std::move(stop);
  }
}

void ReadUpdateList() {
  std::vector<unsigned char> bytes;
  try {
    bytes = Fs().ReadAll(G().UpdateListPath);
  } catch (const VbError&) {
    return;  // the list cannot be opened: no records
  }
  ParseUpdateList(bytes, G().UpdateItems);
}

}  // namespace ovlu
