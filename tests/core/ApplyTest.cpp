// Putting received files in place, over real files: backups, the second
// stage of "R", registration, opening, the product's executable, check marks.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/core/Agent.h"

namespace ovlu::test {
namespace {

using Files = std::map<std::string, std::string>;
const char* const kDest = "C:\\Dest";

std::string Line(const std::string& action, const std::string& name,
                 const std::string& folder = kDest) {
  return "<v-" + action + "><s-http://srv/u/" + name + "><" + folder + "\\" + name + ">";
}

// Starts the agent on a list, with the product's executable in place, and
// gives the rows their percentages.
void Start(Agent& a, const std::vector<std::string>& lines,
           const std::vector<std::string>& percentages) {
  a.WriteList(lines);
  a.fs.Put(a.AppFolder() + "\\OrVento.exe", "product");
  a.fs.MakeFolder(kDest);
  ASSERT_TRUE(a.Start());
  a.form.SystemDirectory = "C:\\Windows\\system32";
  for (std::size_t i = 0; i < percentages.size(); ++i)
    a.window.SetSubItem(static_cast<int>(i + 1), 2, percentages[i]);
}

// Every file of a folder with its content.
Files In(Agent& a, const std::string& folder) {
  Files files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(a.fs.Real(folder), ec)) {
    const std::u8string u = e.path().filename().u8string();
    const std::string name(u.begin(), u.end());
    files[name] = a.fs.Get(folder + "\\" + name);
  }
  return files;
}

void Put(Agent& a, const Files& files) {
  for (const auto& [name, content] : files) a.fs.Put(std::string(kDest) + "\\" + name, content);
}

TEST(ApplyTest, OneRecordAndItsFiles) {
  struct Case {
    const char* name;
    const char* action;
    Files before;  // in C:\Dest
    Files after;
    VbBool cancel;
  } cases[] = {
      {"new file", "", {{"f.dll.remove", "new"}}, {{"f.dll", "new"}}, vbFalse},
      {"replaced file, one generation of backups", "X",
       {{"f.dll.remove", "new"}, {"f.dll", "current"}, {"f.dll.old", "older"}},
       {{"f.dll", "new"}, {"f.dll.old", "current"}}, vbFalse},
      {"second stage of R", "R",
       {{"f.dll.tmp.remove", "new"}, {"f.dll", "current"}, {"f.dll.tmp", "staged"},
        {"f.dll.old", "older"}, {"f.dll.tmp.old", "oldest"}},
       {{"f.dll", "new"}, {"f.dll.old", "current"}, {"f.dll.tmp.old", "staged"}}, vbFalse},
      {"R for a file not there yet", "R", {{"f.dll.tmp.remove", "new"}}, {{"f.dll", "new"}},
       vbFalse},
      {"lower-case r has no second stage", "r", {{"f.dll.remove", "new"}, {"f.dll", "current"}},
       {{"f.dll", "new"}, {"f.dll.old", "current"}}, vbFalse},
      {"names differ in case only", "", {{"F.DLL.REMOVE", "new"}, {"F.dll", "current"}},
       {{"f.dll", "new"}, {"f.dll.old", "current"}}, vbFalse},
      // The moves stop where the error came: the current file is already the backup.
      {"nothing received", "", {{"f.dll", "current"}}, {{"f.dll.old", "current"}}, vbTrue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent a;
    Start(a, {Line(c.action, "f.dll")}, {"100%"});
    Put(a, c.before);
    a.form.StartAzioneSuFile();
    EXPECT_EQ(In(a, kDest), c.after);
    EXPECT_EQ(G().CancelRequested, c.cancel);
    EXPECT_EQ(a.window.RowSmallIcon(1), c.cancel ? 0 : 1);
    EXPECT_TRUE(a.sys.shellCalls.empty());
    EXPECT_TRUE(a.window.Loaded());
  }
}

TEST(ApplyTest, ReadOnlyBackupStopsBeforeTheNewFileMovesIn) {
  Agent a;
  Start(a, {Line("", "f.dll"), Line("", "g.dll")}, {"100%", "100%"});
  Put(a, {{"f.dll.remove", "new"}, {"f.dll", "current"}, {"f.dll.old", "older"},
          {"g.dll.remove", "new g"}});
  a.fs.SetAttributes(std::string(kDest) + "\\f.dll.old", attrReadOnly | attrArchive);
  a.form.StartAzioneSuFile();
  EXPECT_EQ(In(a, kDest), (Files{{"f.dll.remove", "new"}, {"f.dll", "current"},
                                 {"f.dll.old", "older"}, {"g.dll.remove", "new g"}}));
  EXPECT_EQ(G().CancelRequested, vbTrue);
  EXPECT_EQ(a.window.RowSmallIcon(1), 0);
  EXPECT_EQ(a.window.RowSmallIcon(2), 0);
}

TEST(ApplyTest, OnlyRowsAtExactlyHundredPercentAreApplied) {
  struct Case {
    std::vector<std::string> percentages;
    std::vector<int> icons;
    VbBool cancel;
  } cases[] = {
      {{"100%", "100%", "100%"}, {1, 1, 1}, vbFalse},
      {{"100%", "99%", "100%"}, {1, 0, 1}, vbTrue},
      {{"0%", "100%", "100%"}, {0, 1, 1}, vbTrue},
      {{"100%", "100 %", "Server non disponibile."}, {1, 0, 0}, vbTrue},
      {{"", "100%", "100%"}, {0, 1, 1}, vbTrue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.percentages[1] + " / " + c.percentages[0]);
    Agent a;
    Start(a, {Line("", "a.dat"), Line("", "b.dat"), Line("", "c.dat")}, c.percentages);
    Put(a, {{"a.dat.remove", "a"}, {"b.dat.remove", "b"}, {"c.dat.remove", "c"}});
    a.form.StartAzioneSuFile();
    Files expected;
    const char* names[] = {"a.dat", "b.dat", "c.dat"};
    for (int i = 0; i < 3; ++i) {
      const std::string content(1, static_cast<char>('a' + i));
      expected[std::string(names[i]) + (c.icons[static_cast<std::size_t>(i)] ? "" : ".remove")] =
          content;
      EXPECT_EQ(a.window.RowSmallIcon(i + 1), c.icons[static_cast<std::size_t>(i)]);
    }
    EXPECT_EQ(In(a, kDest), expected);
    EXPECT_EQ(G().CancelRequested, c.cancel);
  }
}

TEST(ApplyTest, TheFirstErrorEndsTheStep) {
  struct Case {
    const char* name;
    VbBool cancelBefore;
    bool firstReceived;
  } cases[] = {
      {"a failure flagged before", vbTrue, true},
      {"a complete row without its file", vbFalse, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent a;
    Start(a, {Line("S", "a.dll"), Line("S", "b.dll")}, {"100%", "100%"});
    Put(a, {{"b.dll.remove", "b"}});
    if (c.firstReceived) Put(a, {{"a.dll.remove", "a"}});
    G().CancelRequested = c.cancelBefore;
    a.form.StartAzioneSuFile();
    EXPECT_EQ(G().CancelRequested, vbTrue);
    EXPECT_TRUE(a.fs.Has(std::string(kDest) + "\\b.dll.remove"));
    EXPECT_FALSE(a.fs.Has(std::string(kDest) + "\\b.dll"));
    EXPECT_EQ(a.window.RowSmallIcon(1), 0);
    EXPECT_EQ(a.window.RowSmallIcon(2), 0);
    EXPECT_TRUE(a.sys.shellCalls.empty());
  }
}

TEST(ApplyTest, ProductExecutableComesBackFromItsBackup) {
  struct Case {
    const char* name;
    Files before;  // in the agent's folder
    Files after;
    VbBool cancel;
  } cases[] = {
      {"present", {{"OrVento.exe", "product"}}, {{"OrVento.exe", "product"}}, vbFalse},
      {"present in another case", {{"orvento.EXE", "product"}, {"OrVento.exe.old", "backup"}},
       {{"orvento.EXE", "product"}, {"OrVento.exe.old", "backup"}}, vbFalse},
      {"missing", {{"OrVento.exe.old", "backup"}}, {{"OrVento.exe", "backup"}}, vbFalse},
      {"missing without backup", {}, {}, vbTrue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent a;
    Start(a, {Line("", "a.dat"), Line("", "b.dat")}, {"100%", "100%"});
    a.fs.Delete(a.AppFolder() + "\\OrVento.exe");
    for (const auto& [name, content] : c.before) a.fs.Put(a.AppFolder() + "\\" + name, content);
    Put(a, {{"a.dat.remove", "a"}, {"b.dat.remove", "b"}});
    a.form.StartAzioneSuFile();
    Files after = In(a, a.AppFolder());
    after.erase("OVLiveUpdate.exe.manifest");
    EXPECT_EQ(after, c.after);
    EXPECT_EQ(G().CancelRequested, c.cancel);
    // Without the product the first row's files are in place but it gets no mark.
    EXPECT_EQ(a.fs.Get(std::string(kDest) + "\\a.dat"), "a");
    EXPECT_EQ(a.window.RowSmallIcon(1), c.cancel ? 0 : 1);
    EXPECT_EQ(a.fs.Has(std::string(kDest) + "\\b.dat"), !c.cancel);
  }
}

TEST(ApplyTest, RegistrationAndOpeningGoThroughTheShell) {
  Agent a;
  Start(a,
        {Line("S", "grid.ocx", "C:\\Program Files\\Comp"), Line("S", "m.dll"),
         Line("E", "Setup.exe")},
        {"100%", "100%", "100%"});
  a.fs.Put("C:\\Program Files\\Comp\\grid.ocx.remove", "ocx");
  Put(a, {{"m.dll.remove", "dll"}, {"Setup.exe.remove", "exe"}});
  const Handle form = a.window.WindowHandle(Control::MainForm);
  a.form.StartAzioneSuFile();

  ASSERT_EQ(a.sys.shellCalls.size(), 3u);
  struct Call {
    const char* file;
    const char* parameters;
  } calls[] = {
      // The path goes unquoted, blanks and all.
      {"C:\\Windows\\system32\\regsvr32.exe", "/s C:\\Program Files\\Comp\\grid.ocx"},
      {"C:\\Windows\\system32\\regsvr32.exe", "/s C:\\Dest\\m.dll"},
      // The file alone, without its folder.
      {"Setup.exe", ""},
  };
  for (std::size_t i = 0; i < 3; ++i) {
    const TestSystem::ShellCall& s = a.sys.shellCalls[i];
    EXPECT_EQ(s.owner, form);
    EXPECT_EQ(s.verb, "open");
    EXPECT_EQ(s.file, calls[i].file);
    EXPECT_EQ(s.parameters, calls[i].parameters);
    EXPECT_EQ(s.directory, "C:\\Lavoro");
    EXPECT_EQ(s.show, 0);
  }
  EXPECT_EQ(a.fs.Get("C:\\Program Files\\Comp\\grid.ocx"), "ocx");
  EXPECT_EQ(a.fs.Get("C:\\Dest\\Setup.exe"), "exe");
  // Opening a file closes the window.
  EXPECT_FALSE(a.window.Loaded());
  EXPECT_TRUE(a.form.EndAfterRun());
  EXPECT_EQ(G().CancelRequested, vbFalse);

  // Without a system directory the program is "\regsvr32.exe".
  Agent b;
  Start(b, {Line("S", "m.dll")}, {"100%"});
  b.form.SystemDirectory.clear();
  Put(b, {{"m.dll.remove", "dll"}});
  b.form.StartAzioneSuFile();
  ASSERT_EQ(b.sys.shellCalls.size(), 1u);
  EXPECT_EQ(b.sys.shellCalls[0].file, "\\regsvr32.exe");
}

}  // namespace
}  // namespace ovlu::test
