// The POSIX file layer on real folders under /tmp: Windows paths, names
// without regard to case, the no-replace rename, read-only files that stay
// even for root, and the error numbers the agent's traps see.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <tuple>

#include "PosixTestSupport.h"
#include "ports/linux/posix/Posix.h"
#include "tests/ErrorOf.h"

namespace ovlu::posixtest {
namespace {

using Files = std::map<std::string, std::string>;

// Bytes that differ from one position to the next, so that a piece written
// at the wrong offset shows.
std::string PatternText(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

std::string Win(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Every file under a folder, by relative path, with its content.
Files Contents(const TempDir& dir) {
  Files out;
  for (auto& e : std::filesystem::recursive_directory_iterator(dir.Path()))
    if (e.is_regular_file())
      out[std::filesystem::relative(e.path(), dir.Path()).string()] = *Get(e.path().string());
  return out;
}

void PutAll(const TempDir& dir, const Files& files) {
  for (const auto& [rel, bytes] : files) Put(dir / rel, bytes);
}

// Each component is matched without regard to case; existence sees files only.
TEST(PosixPath, NamesResolveWithoutRegardToCase) {
  TempDir t;
  for (const char* f : {"Data/Sub/File.TXT", "Data/exact", "Data/EXACT", "Amb/aB", "Amb/Ab"})
    Put(t / f, f);
  std::filesystem::create_symlink(t / "Data/Sub/File.TXT", t / "link");
  std::filesystem::create_directory_symlink(t / "Data", t / "dirlink");
  const std::tuple<std::string, std::string, bool> rows[] = {
      {"data\\SUB\\file.txt", "Data/Sub/File.TXT", true},
      {"Data\\exact", "Data/exact", true},  // an exact name wins over other spellings
      {"data\\Exact", "Data/EXACT", true},  // several others: the first in byte order
      {"Amb\\ab", "Amb/Ab", true},
      {"DATA\\nope\\FILE.txt", "Data/nope/FILE.txt", false},  // the rest stays as written
      {"DATA\\sub\\New.File", "Data/Sub/New.File", false},
      {"data\\\\sub\\", "Data/Sub/", false},
      {"data/sub\\..\\SUB\\file.txt", "Data/Sub/../Sub/File.TXT", true},
      {"LINK", "link", true},
      {"DirLink", "dirlink", false},
  };
  PosixFileSystem fs;
  for (const auto& [rel, expected, file] : rows) {
    const std::string in = Win(t.Path()) + "\\" + rel;
    EXPECT_EQ(ToPosixPath(in), t.Path() + "/" + expected) << rel;
    EXPECT_EQ(fs.FileExists(in), file) << rel;
    EXPECT_EQ(fs.FileExistsAnyAttributes(in), file) << rel;
  }
  EXPECT_FALSE(fs.FileExists(""));

  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(t.Path());
  EXPECT_EQ(ToPosixPath(".\\DATA\\Exact"), "./Data/EXACT");
  std::filesystem::current_path(old);
}

TEST(PosixFileSystem, RenameNeverReplaces) {
  // Files before, from, to (relative, Windows style), error, files after (empty: as before).
  const std::tuple<Files, std::string, std::string, int, Files> rows[] = {
      {{{"a", "1"}, {"B.TXT", "2"}}, "a", "b.txt", errFileExists, {}},
      {{{"b", "2"}}, "a", "c", errFileNotFound, {}},
      {{{"b", "2"}}, "nodir\\a", "c", errPathNotFound, {}},
      {{{"a", "1"}}, "a", "nodir\\a", errPathNotFound, {}},
      {{{"Sub/x", "s"}, {"a", "1"}}, "a", "SUB\\a", 0, {{"Sub/a", "1"}, {"Sub/x", "s"}}},
      {{{"File.Remove", "n"}}, "file.remove", "File", 0, {{"File", "n"}}},
      {{{"name.txt", "n"}}, "name.txt", "NAME.TXT", 0, {{"NAME.TXT", "n"}}},  // same file
  };
  PosixFileSystem fs;
  for (const auto& [before, from, to, error, after] : rows) {
    TempDir t;
    PutAll(t, before);
    const std::string base = Win(t.Path()) + "\\";
    EXPECT_EQ(ErrorOf([&] { fs.Rename(base + from, base + to); }), error) << from;
    EXPECT_EQ(Contents(t), after.empty() ? before : after) << from << " -> " << to;
  }

  // The fallback for file systems without a no-replace rename.
  TempDir t;
  PutAll(t, {{"a", "1"}, {"b", "2"}});
  EXPECT_EQ(RenameByLink(t / "a", t / "b"), EEXIST);
  EXPECT_EQ(RenameByLink(t / "a", t / "c"), 0);
  EXPECT_EQ(Contents(t), (Files{{"b", "2"}, {"c", "1"}}));
}

TEST(PosixFileSystem, BinaryWriteStartsAtTheFirstByte) {
  // The file before (none: a new one), whether it is emptied, what is written, the file after.
  const std::tuple<std::optional<std::string>, bool, std::string, std::string> rows[] = {
      {"abcdef", false, "XY", "XYcdef"},
      {"abcdef", true, "", ""},
      // Past the write buffer, handed over in pieces of 1024 as downloads are.
      {std::string(300000, 'o'), false, PatternText(200000),
       PatternText(200000) + std::string(100000, 'o')},
      {std::nullopt, true, PatternText(65536 * 3 + 7), PatternText(65536 * 3 + 7)},
  };
  PosixFileSystem fs;
  for (const auto& [before, truncate, written, after] : rows) {
    TempDir t;
    std::filesystem::create_directory(t / "Sub");
    if (before) Put(t / "Sub/f.remove", *before);
    auto file = fs.OpenBinaryWrite(Win(t / "SUB/F.remove"), truncate);
    for (std::size_t at = 0; at < written.size(); at += 1024)
      file->Write(reinterpret_cast<const unsigned char*>(written.data()) + at,
                  std::min<std::size_t>(1024, written.size() - at));
    file->Close();
    file->Close();
    EXPECT_NE(ErrorOf([&] { file->Write(reinterpret_cast<const unsigned char*>("z"), 1); }), 0);
    // A new file keeps the name as written, in the folder that exists.
    EXPECT_EQ(Contents(t), (Files{{before ? "Sub/f.remove" : "Sub/F.remove", after}}));
    const auto back = fs.ReadAll(Win(t / "sub/f.REMOVE"));
    EXPECT_EQ(std::string(back.begin(), back.end()), after);
  }

  // A full disk shows when the buffer goes out; the file is closed all the same.
  auto full = fs.OpenBinaryWrite("\\dev\\full", false);
  full->Write(reinterpret_cast<const unsigned char*>("x"), 1);
  EXPECT_EQ(ErrorOf([&] { full->Close(); }), 61);
  EXPECT_EQ(ErrorOf([&] { full->Close(); }), 0);
}

// Read-only is the one attribute kept, and even root, whom unlink() and
// open() let through, is refused a read-only file.
TEST(PosixFileSystem, ReadOnlyFilesAndTheErrorsTheTrapsSee) {
  TempDir t;
  PosixFileSystem fs;
  std::filesystem::create_directory(t / "folder");
  PutAll(t, {{"ro", "keep"}, {"Group", "keep"}, {"Old.Manifest", "old"}});
  std::filesystem::permissions(t / "Group", std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::remove);  // only the owner's bit
  EXPECT_EQ(fs.GetAttributes(t / "ro"), unsigned{attrArchive});
  fs.SetAttributes(Win(t / "RO"), attrReadOnly | attrHidden | attrSystem | attrArchive);
  EXPECT_EQ(fs.GetAttributes(t / "ro"), unsigned{attrReadOnly | attrArchive});
  EXPECT_EQ(std::filesystem::status(t / "ro").permissions(), std::filesystem::perms(0444));
  const std::tuple<const char*, std::function<void()>, int> rows[] = {
      {"read missing", [&] { fs.ReadAll(t / "missing"); }, errFileNotFound},
      {"read in missing folder", [&] { fs.ReadAll(t / "nodir/x"); }, errPathNotFound},
      {"read a folder", [&] { fs.ReadAll(t / "folder"); }, errPathFileAccess},
      {"write in missing folder", [&] { fs.OpenBinaryWrite(t / "nodir/x", true); },
       errPathNotFound},
      {"write a folder", [&] { fs.OpenBinaryWrite(t / "folder", true); }, errPathFileAccess},
      {"write read-only", [&] { fs.OpenBinaryWrite(t / "RO", false); }, errPathFileAccess},
      {"delete read-only", [&] { fs.Delete(Win(t / "RO")); }, errPathFileAccess},
      {"delete owner read-only", [&] { fs.Delete(t / "group"); }, errPathFileAccess},
      {"delete a folder", [&] { fs.Delete(t / "folder"); }, errPathFileAccess},
      {"delete missing", [&] { fs.Delete(t / "missing"); }, errFileNotFound},
      {"attributes of missing", [&] { fs.SetAttributes(t / "missing", 0); }, errFileNotFound},
      {"create over a file in another case",
       [&] { fs.CreateTextFile(Win(t / "old.manifest"), "new"); }, errFileExists},
  };
  for (const auto& [name, call, error] : rows) EXPECT_EQ(ErrorOf(call), error) << name;
  EXPECT_EQ(Contents(t), (Files{{"ro", "keep"}, {"Group", "keep"}, {"Old.Manifest", "old"}}));
  EXPECT_TRUE(std::filesystem::is_directory(t / "folder"));
  EXPECT_FALSE(std::filesystem::exists(t / "nodir"));

  fs.SetAttributes(t / "RO", attrArchive);
  EXPECT_EQ(ErrorOf([&] { fs.Delete(t / "Ro"); }), 0);
  EXPECT_FALSE(std::filesystem::exists(t / "ro"));
  const std::string text = "<a>\r\n  \xE8\r\n</a>";  // written as given, no conversion
  fs.CreateTextFile(Win(t / "x.exe.manifest"), text);
  EXPECT_EQ(Get(t / "x.exe.manifest"), text);
}

}  // namespace
}  // namespace ovlu::posixtest
