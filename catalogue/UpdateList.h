// The update list "Updates.upd" and its records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ovlu {

struct UpdateSource {
  std::string Url;
  std::string Server;
};

// A growable array indexed from 0 that knows whether it was ever sized.
// Asking an unsized array for its upper bound is a run-time error, as it is
// for every reader of the update list.
template <class T>
class GrowArray {
 public:
  bool Sized() const { return sized_; }
  // Upper bound; throws VbError(9) when never sized.
  std::int32_t UBound() const;
  // Grows (keeping the elements) so that the last index is n.
  void Redim(std::int32_t last) {
    items_.resize(static_cast<std::size_t>(last) + 1);
    sized_ = true;
  }
  T& operator[](std::int32_t i);
  const T& operator[](std::int32_t i) const;
  std::size_t size() const { return items_.size(); }
  void Clear() {
    items_.clear();
    sized_ = false;
  }

 private:
  std::vector<T> items_;
  bool sized_ = false;
};

struct UpdateItem {
  GrowArray<UpdateSource> Sources;
  std::int32_t SourceIndex = 0;
  std::string FileName;
  std::string DestName;
  std::string DestFolder;
  std::string Action;
};
using UpdateItemArray = GrowArray<UpdateItem>;

// Reads the file named by UpdateListPath into UpdateItems.
void ReadUpdateList();

// The lines of a list as the agent reads them: a line ends at CR or CR LF; a
// LF alone stays in the line. No lines for an empty file.
std::vector<std::string> ListLines(const std::vector<unsigned char>& bytes);

// A tag's kind is given by what follows it in its line: every tag up to the
// last "<v-" is an action, every later one up to the last "<s-" a source, and
// of the rest a tag with a "-" names a placeholder, one without a plain path.
enum class TagKind { Action, Source, Placeholder, Path };
struct ListTag {
  int column = 0;  // 1-based position of its "<" in the line
  TagKind kind = TagKind::Path;
  std::string text;  // between "<" and ">"
};
// The tags of one line in order, and where the scan ended before the line did.
struct LineScan {
  std::vector<ListTag> tags;
  int strayGt = 0;  // column of a ">" that comes before the next "<": the list ends there
  int openLt = 0;   // column of a "<" with no ">" after it: ignored
};
LineScan ScanListLine(const std::string& line);

// Why and where the parse stopped early: empty reason when it reached the end.
struct ParseStop {
  std::string reason;
  int line = 0;  // 1-based physical line
};
// What the parser read, for tools that explain a list.
struct ListReading {
  std::vector<std::string> lines;  // every line of the file, also those after a stop
  std::vector<int> recordLines;    // the line of each record
  std::vector<LineScan> scans;     // the scan of each record's line
  ParseStop stop;
};
// Parses list bytes into items, as ReadUpdateList does with the file's
// content. Stops quietly at the first error, keeping what was read.
void ParseUpdateList(const std::vector<unsigned char>& bytes, UpdateItemArray& items,
                     ListReading* reading = nullptr);

std::string GetLastPart(const std::string& text, const std::string& separator);
std::string GetFolderPart(const std::string& text);
std::string GetServerPart(const std::string& url);
std::string GetDestFileName(const std::string& tag);
std::string ConvertPathTag(const std::string& tag);
// The placeholders in the order ConvertPathTag compares them, and the index
// of the one the first seven characters of a tag name (-1 for none).
inline constexpr const char* kPathPlaceholders[] = {"APPPATH", "SYSPATH", "S32PATH",
                                                    "WINPATH", "WOSPATH", "ARCPATH"};
int PathPlaceholderIndex(const std::string& tag);

// Row text of the file list for a published file name.
std::string FileKind(const std::string& fileName);
// Name under which a record's file is received: the destination, ".tmp"
// for an exact "R" action, then ".remove".
std::string ReceivedFileName(const UpdateItem& item);

}  // namespace ovlu

#include "catalogue/UpdateList.inl"
