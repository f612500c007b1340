#include "tests/contract/FileSystemContract.h"

#include <algorithm>
#include <optional>
#include <tuple>

#include "tests/ErrorOf.h"

namespace ovlu::contract {
namespace {

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// A path under the place's folder, or the path itself when it names a drive.
std::string At(const FileSystemPlace& place, const std::string& rel) {
  return rel.size() >= 2 && rel[1] == ':' ? rel : place.Root() + "\\" + rel;
}

// Writes through the implementation in pieces of 1024 bytes, as downloads do.
void Write(FileSystem& fs, const std::string& path, const std::string& bytes, bool truncate) {
  auto file = fs.OpenBinaryWrite(path, truncate);
  for (std::size_t at = 0; at < bytes.size(); at += 1024)
    file->Write(Bytes(bytes) + at, std::min<std::size_t>(1024, bytes.size() - at));
  file->Close();
}

std::string Read(FileSystem& fs, const std::string& path) {
  const std::vector<unsigned char> bytes = fs.ReadAll(path);
  return std::string(bytes.begin(), bytes.end());
}

// A place holding these files, written through the implementation.
std::unique_ptr<FileSystemPlace> Holding(const FileSystemMaker& maker, const Files& files) {
  auto place = maker.make();
  for (const auto& [rel, bytes] : files) {
    const std::size_t slash = rel.rfind('\\');
    if (slash != std::string::npos) place->MakeFolder(rel.substr(0, slash));
    Write(place->Fs(), At(*place, rel), bytes, true);
  }
  return place;
}

// Bytes that differ from one position to the next, so that a piece written
// at the wrong offset shows.
std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

TEST_P(FileSystemContract, NamesAreFoundWithoutRegardToCaseAndFoldersAreNoFiles) {
  const Files before = {
      {"Dati\\Citt\xE0.dat", "c"}, {"Dati\\Tabelle.DAT", "t"}, {"Dati\\Sub\\x", "x"}};
  auto place = Holding(GetParam(), before);
  FileSystem& fs = place->Fs();
  const std::pair<const char*, bool> rows[] = {
      {"dati\\CITT\xC0.DAT", true}, {"DATI\\tabelle.dat", true}, {"Dati\\SUB\\X", true},
      {"Dati\\Sub", false},         {"Dati\\nope.dat", false},   {"Dati\\nodir\\x", false},
      {"Dati\\Citt?.dat", false},   {"Dati\\*.dat", false},      {"Q:\\Dati\\Tabelle.dat", false},
  };
  for (const auto& [rel, file] : rows) {
    EXPECT_EQ(fs.FileExists(At(*place, rel)), file) << rel;
    EXPECT_EQ(fs.FileExistsAnyAttributes(At(*place, rel)), file) << rel;
  }
  EXPECT_FALSE(fs.FileExists(""));
  EXPECT_EQ(Read(fs, At(*place, "DATI\\citt\xC0.dat")), "c");
  // A new name keeps its spelling, in the folder that exists.
  Write(fs, At(*place, "DATI\\SUB\\Caff\xE8.Dat"), "n", true);
  Files after = before;
  after["Dati\\Sub\\Caff\xE8.Dat"] = "n";
  EXPECT_EQ(place->Contents(), after);
}

// Each call on a fresh folder with the same files; "ro" is read-only.
TEST_P(FileSystemContract, CallsFailWithTheErrorWindowsGivesAndChangeNothingThen) {
  enum Op { Rename, Delete, Read, Write, Create, GetAttr, SetAttr };
  const Files before = {
      {"a", "1"}, {"b.TXT", "2"}, {"Citt\xE0.dat", "3"}, {"ro", "4"}, {"Sub\\x", "5"}};
  // The call, its path (and new name), the error, the file gone and the file new after it.
  const std::tuple<Op, const char*, const char*, int, const char*, Files> rows[] = {
      {Rename, "a", "B.txt", errFileExists, nullptr, {}},
      {Rename, "a", "CITT\xC0.DAT", errFileExists, nullptr, {}},
      {Rename, "missing", "c", errFileNotFound, nullptr, {}},
      {Rename, "nodir\\a", "c", errPathNotFound, nullptr, {}},
      {Rename, "a", "nodir\\a", errPathNotFound, nullptr, {}},
      {Rename, "a", "a<b", errPathFileAccess, nullptr, {}},
      {Rename, "a", "SUB\\A", 0, "a", {{"Sub\\A", "1"}}},
      {Delete, "ro", nullptr, errPathFileAccess, nullptr, {}},
      {Delete, "missing", nullptr, errFileNotFound, nullptr, {}},
      {Delete, "nodir\\x", nullptr, errPathNotFound, nullptr, {}},
      {Delete, "Sub", nullptr, errPathFileAccess, nullptr, {}},
      {Delete, "CITT\xC0.DAT", nullptr, 0, "Citt\xE0.dat", {}},
      {Read, "missing", nullptr, errFileNotFound, nullptr, {}},
      {Read, "nodir\\x", nullptr, errPathNotFound, nullptr, {}},
      {Read, "Sub", nullptr, errPathFileAccess, nullptr, {}},
      {Write, "ro", nullptr, errPathFileAccess, nullptr, {}},
      {Write, "Sub", nullptr, errPathFileAccess, nullptr, {}},
      {Write, "nodir\\x", nullptr, errPathNotFound, nullptr, {}},
      {Write, "Q:\\Dati\\x", nullptr, errPathNotFound, nullptr, {}},
      {Write, "<TMPPATH>y.dat", nullptr, errPathFileAccess, nullptr, {}},
      {Write, "a>b", nullptr, errPathFileAccess, nullptr, {}},
      {Write, "a|b", nullptr, errPathFileAccess, nullptr, {}},
      {Write, "a\"b", nullptr, errPathFileAccess, nullptr, {}},
      {Write, "a?", nullptr, errPathFileAccess, nullptr, {}},
      {Write, "a*", nullptr, errPathFileAccess, nullptr, {}},
      {Write, "a\x01", nullptr, errPathFileAccess, nullptr, {}},
      {Create, "B.txt", nullptr, errFileExists, nullptr, {}},
      {Create, "x<y", nullptr, errPathFileAccess, nullptr, {}},
      {GetAttr, "missing", nullptr, errFileNotFound, nullptr, {}},
      {SetAttr, "missing", nullptr, errFileNotFound, nullptr, {}},
  };
  for (const auto& [op, path, to, error, gone, added] : rows) {
    SCOPED_TRACE(std::string(path) + (to ? std::string(" -> ") + to : ""));
    auto place = Holding(GetParam(), before);
    FileSystem& fs = place->Fs();
    fs.SetAttributes(At(*place, "ro"), attrReadOnly);
    const std::string p = At(*place, path);
    EXPECT_EQ(ErrorOf([&, op = op, to = to] {
                switch (op) {
                  case Rename:
                    return fs.Rename(p, At(*place, to));
                  case Delete:
                    return fs.Delete(p);
                  case Read:
                    return static_cast<void>(fs.ReadAll(p));
                  case Write:
                    return fs.OpenBinaryWrite(p, false)->Close();
                  case Create:
                    return fs.CreateTextFile(p, "new");
                  case GetAttr:
                    return static_cast<void>(fs.GetAttributes(p));
                  case SetAttr:
                    return fs.SetAttributes(p, attrArchive);
                }
              }),
              error);
    Files after = before;
    if (gone) after.erase(gone);
    after.insert(added.begin(), added.end());
    EXPECT_EQ(place->Contents(), after);
    fs.SetAttributes(At(*place, "ro"), attrArchive);
  }
}

TEST_P(FileSystemContract, BinaryWriteStartsAtTheFirstByte) {
  // The file before (none: a new one), whether it is emptied, what is written, the file after.
  const std::tuple<std::optional<std::string>, bool, std::string, std::string> rows[] = {
      {"abcdef", false, "XY", "XYcdef"},
      {"abcdef", true, "", ""},
      {"0123456789", true, std::string("ab\r\n\0z", 6), std::string("ab\r\n\0z", 6)},
      {std::string(300000, 'o'), false, Pattern(200000),
       Pattern(200000) + std::string(100000, 'o')},
      {std::nullopt, true, Pattern(65536 * 3 + 7), Pattern(65536 * 3 + 7)},
      {std::nullopt, false, "", ""},
  };
  for (const auto& [before, truncate, written, after] : rows) {
    SCOPED_TRACE(written.size());
    auto place = Holding(GetParam(), before ? Files{{"Sub\\f.remove", *before}} : Files{});
    place->MakeFolder("Sub");
    FileSystem& fs = place->Fs();
    auto file = fs.OpenBinaryWrite(At(*place, "SUB\\F.remove"), truncate);
    for (std::size_t at = 0; at < written.size(); at += 1024)
      file->Write(Bytes(written) + at, std::min<std::size_t>(1024, written.size() - at));
    file->Close();
    file->Close();
    EXPECT_EQ(ErrorOf([&] { file->Write(Bytes("z"), 1); }), errInvalidCall);
    // A new file keeps the name as written; an existing one its own.
    EXPECT_EQ(place->Contents(), (Files{{before ? "Sub\\f.remove" : "Sub\\F.remove", after}}));
    EXPECT_EQ(Read(fs, At(*place, "sub\\f.REMOVE")), after);
  }
  // A file dropped unclosed, as a failed download leaves it, holds what was written.
  auto place = GetParam().make();
  place->Fs().OpenBinaryWrite(At(*place, "drop"), true)->Write(Bytes("kept"), 4);
  EXPECT_EQ(place->Contents(), (Files{{"drop", "kept"}}));
}

// Read-only is kept by every implementation; a file that reads back as
// hidden or system is no file for FileExists, but is for the other lookup.
TEST_P(FileSystemContract, AttributesAndTextFiles) {
  auto place = Holding(GetParam(), {{"f", "x"}});
  place->MakeFolder("folder");
  FileSystem& fs = place->Fs();
  const std::string f = At(*place, "F");
  EXPECT_EQ(fs.GetAttributes(f) & attrReadOnly, 0u);
  EXPECT_NE(fs.GetAttributes(At(*place, "FOLDER")) & attrDirectory, 0u);
  for (unsigned attributes : {attrReadOnly | attrHidden | attrSystem | attrArchive,
                              unsigned{attrReadOnly}, attrHidden | attrArchive}) {
    SCOPED_TRACE(attributes);
    fs.SetAttributes(f, attributes);
    const unsigned got = fs.GetAttributes(f);
    EXPECT_EQ(got & (attrReadOnly | attrDirectory), attributes & attrReadOnly);
    EXPECT_EQ(fs.FileExists(f), (got & (attrHidden | attrSystem)) == 0);
    EXPECT_TRUE(fs.FileExistsAnyAttributes(f));
  }
  fs.SetAttributes(f, attrArchive);
  EXPECT_EQ(ErrorOf([&] { fs.Delete(f); }), 0);

  const std::string text = "<a>\r\n  \xE8\r\n</a>";  // written as given, no conversion
  fs.CreateTextFile(At(*place, "x.exe.manifest"), text);
  EXPECT_EQ(place->Contents(), (Files{{"x.exe.manifest", text}}));
}

}  // namespace
}  // namespace ovlu::contract
