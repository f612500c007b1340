// The POSIX file layer on real folders under /tmp: Windows paths, names
// without regard to case, the no-replace rename, read-only files that stay
// even for root, and the error numbers the agent's traps see.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string Win(const std::string& posix) {
  std::string w = posix;
  for (char& c : w)
    if (c == '/') c = '\\';
  return w;
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

class CurrentDirectoryGuard {
 public:
  CurrentDirectoryGuard() : old_(std::filesystem::current_path()) {}
  ~CurrentDirectoryGuard() { std::filesystem::current_path(old_); }

 private:
  std::filesystem::path old_;
};

TEST(PosixPath, NamesResolveWithoutRegardToCase) {
  TempDir t;
  PutAll(t, {{"Data/Sub/File.TXT", "f"},
             {"Data/exact", "1"},
             {"Data/EXACT", "2"},
             {"Amb/aB", "3"},
             {"Amb/Ab", "4"}});
  struct Row {
    std::string in;
    std::string expected;
  } rows[] = {
      {"Data\\Sub\\File.TXT", "Data/Sub/File.TXT"},
      {"data\\SUB\\file.txt", "Data/Sub/File.TXT"},
      {"Data\\exact", "Data/exact"},  // an exact name wins over other spellings
      {"Data\\EXACT", "Data/EXACT"},
      {"data\\Exact", "Data/EXACT"},  // several others: the first in byte order
      {"Amb\\ab", "Amb/Ab"},
      {"DATA\\nope\\FILE.txt", "Data/nope/FILE.txt"},  // the rest stays as written
      {"DATA\\sub\\New.File", "Data/Sub/New.File"},
      {"data\\\\sub\\", "Data/Sub/"},
      {"data/sub\\..\\SUB\\file.txt", "Data/Sub/../Sub/File.TXT"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(ToPosixPath(Win(t.Path()) + "\\" + r.in), t.Path() + "/" + r.expected) << r.in;

  CurrentDirectoryGuard guard;
  std::filesystem::current_path(t.Path());
  EXPECT_EQ(ToPosixPath("data\\sub\\FILE.txt"), "Data/Sub/File.TXT");
  EXPECT_EQ(ToPosixPath(".\\DATA\\Exact"), "./Data/EXACT");
  EXPECT_EQ(ToPosixPath(""), "");
}

TEST(PosixFileSystem, ExistenceFindsFilesOnly) {
  TempDir t;
  PutAll(t, {{"Data/Updates.upd", "x"}});
  std::filesystem::create_symlink(t / "Data/Updates.upd", t / "link");
  std::filesystem::create_directory_symlink(t / "Data", t / "dirlink");
  PosixFileSystem fs;
  struct Row {
    std::string path;
    bool exists;
  } rows[] = {
      {t / "Data/Updates.upd", true},
      {Win(t / "data/updates.upd"), true},
      {Win(t / "DATA/UPDATES.UPD"), true},
      {t / "Data", false},
      {t / "Data/Other.upd", false},
      {Win(t / "Missing/Updates.upd"), false},
      {t / "link", true},
      {t / "dirlink", false},
      {"", false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(fs.FileExists(r.path), r.exists) << r.path;
    EXPECT_EQ(fs.FileExistsAnyAttributes(r.path), r.exists) << r.path;
  }
}

TEST(PosixFileSystem, RenameNeverReplaces) {
  struct Row {
    const char* name;
    Files before;
    std::string from, to;  // relative, Windows style
    int error;
    Files after;  // empty: as before
  } rows[] = {
      {"new name", {{"a.txt", "A"}}, "a.txt", "b.txt", 0, {{"b.txt", "A"}}},
      {"destination taken", {{"a", "1"}, {"b", "2"}}, "a", "b", errFileExists, {}},
      {"taken in another case", {{"a", "1"}, {"B.TXT", "2"}}, "a", "b.txt", errFileExists, {}},
      {"source missing", {{"b", "2"}}, "a", "c", errFileNotFound, {}},
      {"source folder missing", {{"b", "2"}}, "nodir\\a", "c", errPathNotFound, {}},
      {"destination folder missing", {{"a", "1"}}, "a", "nodir\\a", errPathNotFound, {}},
      {"into a folder in another case",
       {{"Sub/x", "s"}, {"a", "1"}},
       "a",
       "SUB\\a",
       0,
       {{"Sub/a", "1"}, {"Sub/x", "s"}}},
      {"source in another case", {{"File.Remove", "n"}}, "file.remove", "File", 0, {{"File", "n"}}},
      {"same file, new spelling",
       {{"name.txt", "n"}},
       "name.txt",
       "NAME.TXT",
       0,
       {{"NAME.TXT", "n"}}},
  };
  PosixFileSystem fs;
  for (const Row& r : rows) {
    TempDir t;
    PutAll(t, r.before);
    EXPECT_EQ(
        ErrorOf([&] { fs.Rename(Win(t.Path()) + "\\" + r.from, Win(t.Path()) + "\\" + r.to); }),
        r.error)
        << r.name;
    EXPECT_EQ(Contents(t), r.after.empty() ? r.before : r.after) << r.name;
  }
}

TEST(PosixFileSystem, LinkRenameRefusesATakenName) {
  struct Row {
    Files before;
    int result;
    Files after;
  } rows[] = {
      {{{"a", "1"}}, 0, {{"b", "1"}}},
      {{{"a", "1"}, {"b", "2"}}, EEXIST, {{"a", "1"}, {"b", "2"}}},
      {{{"c", "3"}}, ENOENT, {{"c", "3"}}},
  };
  for (const Row& r : rows) {
    TempDir t;
    PutAll(t, r.before);
    EXPECT_EQ(RenameByLink(t / "a", t / "b"), r.result);
    EXPECT_EQ(Contents(t), r.after);
  }
}

TEST(PosixFileSystem, DeleteRefusesReadOnlyFilesEvenForRoot) {
  struct Row {
    const char* name;
    mode_t mode;  // 0: no file made
    std::string path;
    int error;
    bool remains;
  } rows[] = {
      {"plain file", 0644, "f.old", 0, false},
      {"other case", 0644, "F.OLD", 0, false},
      {"read-only", 0444, "f.old", errPathFileAccess, true},
      {"owner write cleared only", 0464, "f.old", errPathFileAccess, true},
      {"missing", 0, "f.old", errFileNotFound, false},
      {"folder missing", 0, "nodir\\f.old", errPathNotFound, false},
  };
  PosixFileSystem fs;
  for (const Row& r : rows) {
    TempDir t;
    if (r.mode != 0) {
      Put(t / "f.old", "old");
      ::chmod((t / "f.old").c_str(), r.mode);
    }
    EXPECT_EQ(ErrorOf([&] { fs.Delete(Win(t.Path()) + "\\" + r.path); }), r.error) << r.name;
    EXPECT_EQ(Get(t / "f.old").has_value(), r.remains) << r.name;
  }

  TempDir t;
  std::filesystem::create_directory(t / "folder");
  EXPECT_EQ(ErrorOf([&] { fs.Delete(t / "folder"); }), errPathFileAccess);
  EXPECT_TRUE(std::filesystem::is_directory(t / "folder"));
}

TEST(PosixFileSystem, AttributesRoundTrip) {
  TempDir t;
  Put(t / "OVLiveUpdate.exe.manifest", "m");
  ::chmod((t / "OVLiveUpdate.exe.manifest").c_str(), 0664);
  std::filesystem::create_directory(t / "Folder");
  PosixFileSystem fs;
  const std::string file = Win(t / "ovliveupdate.EXE.manifest");

  EXPECT_EQ(fs.GetAttributes(file), unsigned{attrArchive});
  fs.SetAttributes(file, attrReadOnly | attrHidden | attrSystem | attrArchive);
  EXPECT_EQ(ModeOf(t / "OVLiveUpdate.exe.manifest"), 0444u);
  EXPECT_EQ(fs.GetAttributes(file), unsigned{attrReadOnly | attrArchive});
  // Hidden and system do not exist here: the file is still seen.
  EXPECT_TRUE(fs.FileExists(file));
  EXPECT_EQ(ErrorOf([&] { fs.Delete(file); }), errPathFileAccess);
  EXPECT_EQ(ErrorOf([&] { fs.OpenBinaryWrite(file, true); }), errPathFileAccess);
  EXPECT_EQ(Get(t / "OVLiveUpdate.exe.manifest"), "m");

  fs.SetAttributes(file, attrArchive);
  EXPECT_EQ(ModeOf(t / "OVLiveUpdate.exe.manifest"), 0644u);
  EXPECT_EQ(fs.GetAttributes(file), unsigned{attrArchive});
  EXPECT_EQ(ErrorOf([&] { fs.Delete(file); }), 0);

  EXPECT_EQ(fs.GetAttributes(t / "folder"), unsigned{attrDirectory});
  EXPECT_EQ(ErrorOf([&] { fs.GetAttributes(t / "missing"); }), errFileNotFound);
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
      {std::nullopt, true, "abc", "abc"},
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
}

TEST(PosixFileSystem, ReadAndWriteErrors) {
  TempDir t;
  std::filesystem::create_directory(t / "folder");
  Put(t / "ro", "keep");
  ::chmod((t / "ro").c_str(), 0444);
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
      {"disk full",
       [&] {
         auto f = fs.OpenBinaryWrite("\\dev\\full", false);
         f->Write(reinterpret_cast<const unsigned char*>("x"), 1);
         f->Close();
       },
       61},
  };
  for (const Row& r : rows) EXPECT_EQ(ErrorOf(r.call), r.error) << r.name;
  EXPECT_EQ(Get(t / "ro"), "keep");
  EXPECT_FALSE(std::filesystem::exists(t / "nodir"));
}

TEST(PosixFileSystem, CreateTextFileMakesOnlyNewFiles) {
  TempDir t;
  PosixFileSystem fs;
  const std::string text = "<a>\r\n  \xE8\r\n</a>";
  fs.CreateTextFile(Win(t / "x.exe.manifest"), text);
  EXPECT_EQ(Get(t / "x.exe.manifest"), text);

  Put(t / "Old.Manifest", "old");
  EXPECT_EQ(ErrorOf([&] { fs.CreateTextFile(Win(t / "old.manifest"), "new"); }), errFileExists);
  EXPECT_EQ(Contents(t), (Files{{"x.exe.manifest", text}, {"Old.Manifest", "old"}}));
  EXPECT_EQ(ErrorOf([&] { fs.CreateTextFile(t / "nodir/y", "y"); }), errPathNotFound);
}

}  // namespace
}  // namespace ovlu
