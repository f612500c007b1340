#include "catalogue/UpdateList.h"

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

std::string ConvertPathTag(const std::string& tag) {
  const std::string key = "<" + Left(tag, 7) + ">";
  if (key == "<APPPATH>") return Sys().AppPath() + "\\";
  if (key == "<SYSPATH>") return G().EnvWindir + "\\" + "system" + "\\";
  if (key == "<S32PATH>") return G().EnvWindir + "\\" + "system32" + "\\";
  if (key == "<WINPATH>") return G().EnvWindir + "\\";
  if (key == "<WOSPATH>") return G().EnvSystemDrive + "\\";
  if (key == "<ARCPATH>") return G().DataFolder + "\\";
  return key;
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

namespace {

// Reads text lines as the list file is read: a line ends at CR or CR LF; a
// LF alone stays in the line. Reading past the end is an error.
class LineReader {
 public:
  explicit LineReader(const std::vector<unsigned char>& bytes) : b_(bytes) {}
  bool Eof() const { return pos_ >= b_.size(); }
  std::string ReadLine() {
    if (Eof()) throw VbError(errInputPastEnd, "Input past end of file");
    std::size_t start = pos_;
    while (pos_ < b_.size() && b_[pos_] != '\r') ++pos_;
    std::string line(b_.begin() + static_cast<std::ptrdiff_t>(start),
                     b_.begin() + static_cast<std::ptrdiff_t>(pos_));
    if (pos_ < b_.size()) {
      ++pos_;  // the CR
      if (pos_ < b_.size() && b_[pos_] == '\n') ++pos_;
    }
    ++number_;
    return line;
  }
  int Number() const { return number_; }

 private:
  const std::vector<unsigned char>& b_;
  std::size_t pos_ = 0;
  int number_ = 0;
};

void ScanLine(const std::string& line, UpdateItem& r) {
  std::int32_t sourceCounter = -1;
  std::size_t p = 1;
  for (;;) {
    std::size_t lt = InStr(p, line, "<");
    std::size_t s = InStr(p, line, "<s-");
    std::size_t v = InStr(p, line, "<v-");
    std::size_t gt = InStr(p, line, ">");
    if (lt == 0 || gt == 0) break;
    const long long len = static_cast<long long>(gt) - static_cast<long long>(lt) - 1;
    const std::string t = MidLen(line, static_cast<long long>(lt) + 1, len);
    if (v != 0) {
      r.Action = Mid(t, 3);
    } else if (s != 0) {
      ++sourceCounter;
      r.Sources.Redim(sourceCounter);
      UpdateSource& src = r.Sources[sourceCounter];
      src.Url = Mid(t, 3);
      src.Server = GetServerPart(src.Url);
      r.FileName = GetLastPart(src.Url, "/");
    } else if (InStr(1, t, "-") != 0) {
      r.DestName = GetDestFileName(t);
      r.DestFolder = ConvertPathTag(t);
    } else {
      r.DestName = GetLastPart(t, "\\");
      r.DestFolder = GetFolderPart(t);
    }
    p = gt + 1;
  }
}

}  // namespace

void ParseUpdateList(const std::vector<unsigned char>& bytes, UpdateItemArray& items,
                     ParseStop* stop, std::vector<int>* recordLines) {
  LineReader in(bytes);
  std::int32_t counter = -1;
  try {
    do {
      std::string line = in.ReadLine();
      if (!line.empty()) {
        ++counter;
        items.Redim(counter);
        if (recordLines) recordLines->push_back(in.Number());
        ScanLine(line, items[counter]);
      }
    } while (!in.Eof());
  } catch (const VbError& e) {
    if (stop) {
      stop->line = in.Number();
      if (e.number == errInputPastEnd)
        stop->reason = "the file is empty";
      else if (e.number == errInvalidCall)
        stop->reason = "a \">\" comes before the next \"<\"";
      else
        stop->reason = e.what();
    }
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
