#include "tests/contract/FileSystemContract.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <tuple>

#include "shell/Vb.h"
#include "tests/ErrorOf.h"
#include "tests/support/TestSupport.h"

namespace ovlu::contract {

namespace fs = std::filesystem;

void FileSystemPlace::MakeFolder(const std::string& relative) {
  std::string utf8 = AnsiToUtf8(relative);
  std::replace(utf8.begin(), utf8.end(), '\\', '/');
  fs::create_directories(folder / fs::path(std::u8string(utf8.begin(), utf8.end())));
}

Files FileSystemPlace::Contents() const {
  Files files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    const std::u8string rel = fs::relative(e.path(), folder).generic_u8string();
    std::string name = Utf8ToAnsi(std::string(rel.begin(), rel.end()));
    std::replace(name.begin(), name.end(), '/', '\\');
    files[name] = support::Slurp(e.path());
  }
  return files;
}

namespace {

const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// A path under the place's folder, or the path itself when it names a drive.
std::string At(const FileSystemPlace& place, const std::string& rel) {
  return rel.size() >= 2 && rel[1] == ':' ? rel : place.root + "\\" + rel;
}

// Writes through the implementation in pieces of 1024 bytes, as downloads
// do; the file comes back closed.
std::unique_ptr<BinaryFile> Write(FileSystem& fs, const std::string& path, const std::string& bytes,
                                  bool truncate = true) {
  auto file = fs.OpenBinaryWrite(path, truncate);
  for (std::size_t at = 0; at < bytes.size(); at += 1024)
    file->Write(Bytes(bytes) + at, std::min<std::size_t>(1024, bytes.size() - at));
  file->Close();
  return file;
}

// A place holding these files, written through the implementation.
std::unique_ptr<FileSystemPlace> Holding(PlaceMaker make, const Files& files) {
  auto place = make();
  for (const auto& [rel, bytes] : files) {
    const std::size_t slash = rel.rfind('\\');
    if (slash != std::string::npos) place->MakeFolder(rel.substr(0, slash));
    Write(place->Fs(), At(*place, rel), bytes);
  }
  return place;
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
  // A new name keeps its spelling, in the folder that exists.
  Write(fs, At(*place, "DATI\\SUB\\Caff\xE8.Dat"), "n");
  fs.Rename(At(*place, "dati\\tabelle.dat"), At(*place, "DATI\\SUB\\T.dat"));
  fs.Delete(At(*place, "DATI\\CITT\xC0.DAT"));
  EXPECT_EQ(
      place->Contents(),
      (Files{{"Dati\\Sub\\Caff\xE8.Dat", "n"}, {"Dati\\Sub\\T.dat", "t"}, {"Dati\\Sub\\x", "x"}}));
}

// Each call on a fresh folder with the same files; "ro" is read-only.
TEST_P(FileSystemContract, CallsFailWithTheErrorWindowsGivesAndChangeNothingThen) {
  enum Op { Rename, Delete, Read, Write, Create, GetAttr, SetAttr, Append, Length };
  const Files before = {
      {"a", "1"}, {"b.TXT", "2"}, {"Citt\xE0.dat", "3"}, {"ro", "4"}, {"Sub\\x", "5"}};
  // The call, its path (and new name), the error.
  std::vector<std::tuple<Op, std::string, const char*, int>> rows = {
      {Rename, "a", "B.txt", errFileExists},
      {Rename, "a", "CITT\xC0.DAT", errFileExists},
      {Rename, "missing", "c", errFileNotFound},
      {Rename, "nodir\\a", "c", errPathNotFound},
      {Rename, "a", "nodir\\a", errPathNotFound},
      {Rename, "a", "a<b", errPathFileAccess},
      {Delete, "ro", nullptr, errPathFileAccess},
      {Delete, "missing", nullptr, errFileNotFound},
      {Delete, "nodir\\x", nullptr, errPathNotFound},
      {Delete, "Sub", nullptr, errPathFileAccess},
      {Read, "missing", nullptr, errFileNotFound},
      {Read, "nodir\\x", nullptr, errPathNotFound},
      {Read, "Sub", nullptr, errPathFileAccess},
      {Write, "ro", nullptr, errPathFileAccess},
      {Write, "Sub", nullptr, errPathFileAccess},
      {Write, "nodir\\x", nullptr, errPathNotFound},
      {Write, "Q:\\Dati\\x", nullptr, errPathNotFound},
      {Write, "<TMPPATH>y.dat", nullptr, errPathFileAccess},
      {Create, "B.txt", nullptr, errFileExists},
      {Create, "x<y", nullptr, errPathFileAccess},
      {GetAttr, "missing", nullptr, errFileNotFound},
      {SetAttr, "missing", nullptr, errFileNotFound},
      {Append, "ro", nullptr, errPathFileAccess},
      {Append, "Sub", nullptr, errPathFileAccess},
      {Append, "nodir\\x", nullptr, errPathNotFound},
      {Append, "a|b", nullptr, errPathFileAccess},
      {Length, "missing", nullptr, errFileNotFound},
      {Length, "nodir\\x", nullptr, errPathNotFound}};
  // Each character Windows refuses in a name.
  for (const char c : std::string("<>|\"?*\x01"))
    rows.push_back({Write, std::string("a") + c + "b", nullptr, errPathFileAccess});
  for (const auto& [op, path, to, error] : rows) {
    SCOPED_TRACE(path + (to ? std::string(" -> ") + to : ""));
    auto place = Holding(GetParam(), before);
    FileSystem& fs = place->Fs();
    fs.SetAttributes(At(*place, "ro"), attrReadOnly);
    const std::string p = At(*place, path);
    const std::function<void()> calls[] = {[&, to = to] { fs.Rename(p, At(*place, to)); },
                                           [&] { fs.Delete(p); },
                                           [&] { fs.ReadAll(p); },
                                           [&] { fs.OpenBinaryWrite(p, false)->Close(); },
                                           [&] { fs.CreateTextFile(p, "new"); },
                                           [&] { fs.GetAttributes(p); },
                                           [&] { fs.SetAttributes(p, attrArchive); },
                                           [&] { fs.OpenAppend(p)->Close(); },
                                           [&] { fs.FileLength(p); }};
    EXPECT_EQ(ErrorOf(calls[op]), error);
    EXPECT_EQ(place->Contents(), before);
  }
}

TEST_P(FileSystemContract, BinaryWriteStartsAtTheFirstByte) {
  // The file before (none: a new one), whether it is emptied, what is written, the file after.
  const std::tuple<std::optional<std::string>, bool, std::string, std::string> rows[] = {
      {"abcdef", true, "", ""},
      {"0123456789", true, std::string("ab\r\n\0z", 6), std::string("ab\r\n\0z", 6)},
      {std::string(300000, 'o'), false, support::Pattern(200000),
       support::Pattern(200000) + std::string(100000, 'o')},
      {std::nullopt, true, support::Pattern(65536 * 3 + 7), support::Pattern(65536 * 3 + 7)},
      {std::nullopt, false, "", ""},
  };
  for (const auto& [before, truncate, written, after] : rows) {
    SCOPED_TRACE(written.size());
    auto place = Holding(GetParam(), before ? Files{{"Sub\\f.remove", *before}} : Files{});
    place->MakeFolder("Sub");
    FileSystem& fs = place->Fs();
    auto file = Write(fs, At(*place, "SUB\\F.remove"), written, truncate);
    file->Close();
    EXPECT_EQ(ErrorOf([&] { file->Write(Bytes("z"), 1); }), errInvalidCall);
    // A new file keeps the name as written; an existing one its own.
    EXPECT_EQ(place->Contents(), (Files{{before ? "Sub\\f.remove" : "Sub\\F.remove", after}}));
    const std::vector<unsigned char> read = fs.ReadAll(At(*place, "sub\\f.REMOVE"));
    EXPECT_EQ(std::string(read.begin(), read.end()), after);
  }
  // A file dropped unclosed, as a failed download leaves it, holds what was written.
  auto place = GetParam()();
  place->Fs().OpenBinaryWrite(At(*place, "drop"), true)->Write(Bytes("kept"), 4);
  EXPECT_EQ(place->Contents(), (Files{{"drop", "kept"}}));
}

// Scratch files give back what was appended, in order, however the appends
// and reads interleave; each is a file of its own, and none lands in the
// folders the agent works in.
TEST_P(FileSystemContract, ScratchFilesGiveBackWhatWasAppendedInOrder) {
  auto place = GetParam()();
  FileSystem& fs = place->Fs();
  auto a = fs.CreateScratch(), b = fs.CreateScratch();
  const std::string big = support::Pattern(300000);
  // Appended in pieces, read in others, drained to empty and filled again.
  const std::tuple<std::size_t, std::size_t> steps[] = {
      {70000, 1024}, {0, 50000}, {230000, 0}, {0, 400000}, {0, 10}, {1000, 999}, {0, 1}};
  std::string appended, read;
  std::size_t at = 0;
  for (const auto& [append, take] : steps) {
    a->Append(Bytes(big) + at, append);
    b->Append(Bytes("b"), 1);
    appended += big.substr(at, append);
    at = (at + append) % 200000;
    std::string got(take, '\0');
    got.resize(a->Read(reinterpret_cast<unsigned char*>(got.data()), take));
    read += got;
  }
  EXPECT_TRUE(read == appended) << read.size() << " of " << appended.size() << " bytes";
  unsigned char none = 0;
  EXPECT_EQ(a->Read(&none, 1), 0u);
  std::string fromB(10, '\0');
  EXPECT_EQ(b->Read(reinterpret_cast<unsigned char*>(fromB.data()), 10), 7u);
  a.reset();
  b.reset();
  EXPECT_EQ(place->Contents(), Files{});
}

// Appending writes after what is there, in any case of the name, and the
// length counts every byte; a new file is made when there is none.
TEST_P(FileSystemContract, AppendWritesAtTheEndAndLengthCountsIt) {
  auto place = Holding(GetParam(), {{"Log.txt", "riga 1\n"}});
  FileSystem& fs = place->Fs();
  for (const char* piece : {"riga 2\n", "", "riga 3\n"}) {
    auto file = fs.OpenAppend(At(*place, "LOG.TXT"));
    file->Write(Bytes(piece), std::strlen(piece));
    file->Close();
  }
  auto fresh = fs.OpenAppend(At(*place, "nuovo.txt"));
  fresh->Write(Bytes(support::Pattern(70000)), 70000);
  fresh->Close();
  EXPECT_EQ(place->Contents(), (Files{{"Log.txt", "riga 1\nriga 2\nriga 3\n"},
                                      {"nuovo.txt", support::Pattern(70000)}}));
  EXPECT_EQ(fs.FileLength(At(*place, "log.txt")), 21);
  EXPECT_EQ(fs.FileLength(At(*place, "Nuovo.TXT")), 70000);
}

// Read-only is kept by every implementation; a file that reads back as
// hidden or system is no file for FileExists, but is for the other lookup.
TEST_P(FileSystemContract, AttributesAndTextFiles) {
  auto place = Holding(GetParam(), {{"f", "x"}});
  place->MakeFolder("folder");
  FileSystem& fs = place->Fs();
  const std::string f = At(*place, "F");
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
