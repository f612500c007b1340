// The POSIX file layer on real folders under /tmp: Windows paths, names
// without regard to case, the no-replace rename, read-only files that stay
// even for root, and the error numbers the agent's traps see.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>

#include "PosixTestSupport.h"
#include "ports/linux/posix/Posix.h"

namespace ovlu {
namespace {

using posixtest::Get;
using posixtest::ModeOf;
using posixtest::Put;
using posixtest::TempDir;
using Files = std::map<std::string, std::string>;

// The run-time error a call raises, or 0.
int ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const VbError& e) {
    return e.number;
  }
  return 0;
}

// Bytes that differ from one position to the next, so that a piece written
// at the wrong offset shows.
std::string PatternText(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

std::string Win(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
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
  PutAll(t, {{"Data/Sub/File.TXT", "f"},
             {"Data/exact", "1"},
             {"Data/EXACT", "2"},
             {"Amb/aB", "3"},
             {"Amb/Ab", "4"}});
  std::filesystem::create_symlink(t / "Data/Sub/File.TXT", t / "link");
  std::filesystem::create_directory_symlink(t / "Data", t / "dirlink");
  struct Row {
    std::string in;
    std::string expected;
    bool file;
  } rows[] = {
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
  for (const Row& r : rows) {
    const std::string in = Win(t.Path()) + "\\" + r.in;
    EXPECT_EQ(ToPosixPath(in), t.Path() + "/" + r.expected) << r.in;
    EXPECT_EQ(fs.FileExists(in), r.file) << r.in;
    EXPECT_EQ(fs.FileExistsAnyAttributes(in), r.file) << r.in;
  }
  EXPECT_FALSE(fs.FileExists(""));

  const auto old = std::filesystem::current_path();
  std::filesystem::current_path(t.Path());
  EXPECT_EQ(ToPosixPath(".\\DATA\\Exact"), "./Data/EXACT");
  std::filesystem::current_path(old);
}

TEST(PosixFileSystem, RenameNeverReplaces) {
  struct Row {
    Files before;
    std::string from, to;  // relative, Windows style
    int error;
    Files after;  // empty: as before
  } rows[] = {
      {{{"a.txt", "A"}}, "a.txt", "b.txt", 0, {{"b.txt", "A"}}},
      {{{"a", "1"}, {"b", "2"}}, "a", "b", errFileExists, {}},
      {{{"a", "1"}, {"B.TXT", "2"}}, "a", "b.txt", errFileExists, {}},
      {{{"b", "2"}}, "a", "c", errFileNotFound, {}},
      {{{"b", "2"}}, "nodir\\a", "c", errPathNotFound, {}},
      {{{"a", "1"}}, "a", "nodir\\a", errPathNotFound, {}},
      {{{"Sub/x", "s"}, {"a", "1"}}, "a", "SUB\\a", 0, {{"Sub/a", "1"}, {"Sub/x", "s"}}},
      {{{"File.Remove", "n"}}, "file.remove", "File", 0, {{"File", "n"}}},
      {{{"name.txt", "n"}}, "name.txt", "NAME.TXT", 0, {{"NAME.TXT", "n"}}},  // same file
  };
  PosixFileSystem fs;
  for (const Row& r : rows) {
    TempDir t;
    PutAll(t, r.before);
    const std::string base = Win(t.Path()) + "\\";
    EXPECT_EQ(ErrorOf([&] { fs.Rename(base + r.from, base + r.to); }), r.error)
        << r.from << " -> " << r.to;
    EXPECT_EQ(Contents(t), r.after.empty() ? r.before : r.after) << r.from << " -> " << r.to;
  }

  // The fallback for file systems without a no-replace rename.
  for (bool taken : {false, true}) {
    TempDir t;
    PutAll(t, taken ? Files{{"a", "1"}, {"b", "2"}} : Files{{"a", "1"}});
    EXPECT_EQ(RenameByLink(t / "a", t / "b"), taken ? EEXIST : 0);
    EXPECT_EQ(Contents(t), taken ? (Files{{"a", "1"}, {"b", "2"}}) : (Files{{"b", "1"}}));
  }
}

TEST(PosixFileSystem, ReadOnlyIsTheOnlyAttributeKept) {
  TempDir t;
  Put(t / "App.manifest", "m");
  ::chmod((t / "App.manifest").c_str(), 0664);
  PosixFileSystem fs;
  const std::string file = Win(t / "app.MANIFEST");

  EXPECT_EQ(fs.GetAttributes(file), unsigned{attrArchive});
  fs.SetAttributes(file, attrReadOnly | attrHidden | attrSystem | attrArchive);
  EXPECT_EQ(ModeOf(t / "App.manifest"), 0444u);
  EXPECT_EQ(fs.GetAttributes(file), unsigned{attrReadOnly | attrArchive});
  fs.SetAttributes(file, attrArchive);
  EXPECT_EQ(ModeOf(t / "App.manifest"), 0644u);
  EXPECT_EQ(ErrorOf([&] { fs.Delete(file); }), 0);
  EXPECT_FALSE(Get(t / "App.manifest"));
  EXPECT_EQ(ErrorOf([&] { fs.SetAttributes(t / "missing", 0); }), errFileNotFound);
}

TEST(PosixFileSystem, BinaryWriteStartsAtTheFirstByte) {
  struct Row {
    std::optional<std::string> before;
    bool truncate;
    std::string written;
    std::string after;
  } rows[] = {
      {std::nullopt, false, "abc", "abc"},
      {"abcdef", false, "XY", "XYcdef"},
      {"abcdef", true, "XY", "XY"},
      {"abcdef", true, "", ""},
      // Past the write buffer, handed over in pieces of 1024 as downloads are.
      {std::string(300000, 'o'), false, PatternText(200000),
       PatternText(200000) + std::string(100000, 'o')},
      {std::nullopt, true, PatternText(65536 * 3 + 7), PatternText(65536 * 3 + 7)},
  };
  PosixFileSystem fs;
  for (const Row& r : rows) {
    TempDir t;
    if (r.before)
      Put(t / "Sub/f.remove", *r.before);
    else
      std::filesystem::create_directory(t / "Sub");
    auto file = fs.OpenBinaryWrite(Win(t / "SUB/F.remove"), r.truncate);
    for (std::size_t at = 0; at < r.written.size(); at += 1024)
      file->Write(reinterpret_cast<const unsigned char*>(r.written.data()) + at,
                  std::min<std::size_t>(1024, r.written.size() - at));
    file->Close();
    file->Close();
    EXPECT_NE(ErrorOf([&] { file->Write(reinterpret_cast<const unsigned char*>("z"), 1); }), 0);
    // A new file keeps the name as written, in the folder that exists.
    const std::string name = r.before ? "Sub/f.remove" : "Sub/F.remove";
    EXPECT_EQ(Contents(t), (Files{{name, r.after}}));
    const auto back = fs.ReadAll(Win(t / "sub/f.REMOVE"));
    EXPECT_EQ(std::string(back.begin(), back.end()), r.after);
  }

  // A full disk shows when the buffer goes out; the file is closed all the same.
  auto full = fs.OpenBinaryWrite("\\dev\\full", false);
  full->Write(reinterpret_cast<const unsigned char*>("x"), 1);
  EXPECT_EQ(ErrorOf([&] { full->Close(); }), 61);
  EXPECT_EQ(ErrorOf([&] { full->Close(); }), 0);
}

// Even root, whom unlink() and open() let through, is refused a read-only file.
TEST(PosixFileSystem, ErrorsTheTrapsSee) {
  TempDir t;
  std::filesystem::create_directory(t / "folder");
  Put(t / "ro", "keep");
  ::chmod((t / "ro").c_str(), 0444);
  Put(t / "Group", "keep");
  ::chmod((t / "Group").c_str(), 0464);  // only the owner's write bit cleared
  Put(t / "Old.Manifest", "old");
  PosixFileSystem fs;
  struct Row {
    const char* name;
    std::function<void()> call;
    int error;
  } rows[] = {
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
      {"delete in missing folder", [&] { fs.Delete(Win(t / "nodir/x")); }, errPathNotFound},
      {"create over a file in another case",
       [&] { fs.CreateTextFile(Win(t / "old.manifest"), "new"); }, errFileExists},
      {"create in missing folder", [&] { fs.CreateTextFile(t / "nodir/y", "y"); }, errPathNotFound},
  };
  for (const Row& r : rows) EXPECT_EQ(ErrorOf(r.call), r.error) << r.name;
  EXPECT_EQ(Contents(t), (Files{{"ro", "keep"}, {"Group", "keep"}, {"Old.Manifest", "old"}}));
  EXPECT_TRUE(std::filesystem::is_directory(t / "folder"));
  EXPECT_FALSE(std::filesystem::exists(t / "nodir"));

  const std::string text = "<a>\r\n  \xE8\r\n</a>";  // written as given, no conversion
  fs.CreateTextFile(Win(t / "x.exe.manifest"), text);
  EXPECT_EQ(Get(t / "x.exe.manifest"), text);
}

}  // namespace
}  // namespace ovlu
