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

// Starts the agent on a list, with the product's executable in place, gives
// the rows their percentages and puts the received files in C:\Dest.
void Start(Agent& a, const std::vector<std::string>& lines,
           const std::vector<std::string>& percentages, const Files& received) {
  a.WriteList(lines);
  a.fs.Put(a.AppFolder() + "\\OrVento.exe", "product");
  ASSERT_TRUE(a.Start());
  a.form.SystemDirectory = "C:\\Windows\\system32";
  for (std::size_t i = 0; i < percentages.size(); ++i)
    a.window.SetSubItem(static_cast<int>(i + 1), 2, percentages[i]);
  for (const auto& [name, content] : received) a.fs.Put(std::string(kDest) + "\\" + name, content);
  a.fs.MakeFolder(kDest);
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

// The rows' check marks, "1" or "0" each.
std::string Marks(Agent& a) {
  std::string marks;
  for (int row = 1; row <= a.window.RowCount(); ++row)
    marks += std::to_string(a.window.RowSmallIcon(row));
  return marks;
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
      {"replaced file, one generation of backups",
       "X",
       {{"f.dll.remove", "new"}, {"f.dll", "current"}, {"f.dll.old", "older"}},
       {{"f.dll", "new"}, {"f.dll.old", "current"}},
       vbFalse},
      {"second stage of R",
       "R",
       {{"f.dll.tmp.remove", "new"},
        {"f.dll", "current"},
        {"f.dll.tmp", "staged"},
        {"f.dll.old", "older"},
        {"f.dll.tmp.old", "oldest"}},
       {{"f.dll", "new"}, {"f.dll.old", "current"}, {"f.dll.tmp.old", "staged"}},
       vbFalse},
      {"R for a file not there yet",
       "R",
       {{"f.dll.tmp.remove", "new"}},
       {{"f.dll", "new"}},
       vbFalse},
      {"lower-case r has no second stage",
       "r",
       {{"f.dll.remove", "new"}, {"f.dll", "current"}},
       {{"f.dll", "new"}, {"f.dll.old", "current"}},
       vbFalse},
      {"names differ in case only",
       "",
       {{"F.DLL.REMOVE", "new"}, {"F.dll", "current"}},
       {{"f.dll", "new"}, {"f.dll.old", "current"}},
       vbFalse},
      // The moves stop where the error came: the current file is already the backup.
      {"nothing received", "", {{"f.dll", "current"}}, {{"f.dll.old", "current"}}, vbTrue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent a;
    Start(a, {Line(c.action, "f.dll")}, {"100%"}, c.before);
    a.form.StartAzioneSuFile();
    EXPECT_EQ(In(a, kDest), c.after);
    EXPECT_EQ(G().CancelRequested, c.cancel);
    EXPECT_EQ(Marks(a), c.cancel ? "0" : "1");
    EXPECT_TRUE(a.sys.shellCalls.empty());
  }
}

TEST(ApplyTest, OnlyRowsAtExactlyHundredPercentAreApplied) {
  struct Case {
    std::vector<std::string> percentages;
    const char* marks;  // also which files moved in
  } cases[] = {
      {{"100%", "100%", "100%"}, "111"},
      {{"100%", "99%", "100%"}, "101"},
      {{"", "100 %", "100%"}, "001"},
      {{"Server non disponibile.", "100%", "0%"}, "010"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.marks);
    Agent a;
    Start(a, {Line("", "a.dat"), Line("", "b.dat"), Line("", "c.dat")}, c.percentages,
          {{"a.dat.remove", "a"}, {"b.dat.remove", "b"}, {"c.dat.remove", "c"}});
    a.form.StartAzioneSuFile();
    Files expected;
    for (int i = 0; i < 3; ++i) {
      const std::string name(1, static_cast<char>('a' + i));
      expected[name + (c.marks[i] == '1' ? ".dat" : ".dat.remove")] = name;
    }
    EXPECT_EQ(In(a, kDest), expected);
    EXPECT_EQ(Marks(a), c.marks);
    EXPECT_EQ(G().CancelRequested, std::string(c.marks) == "111" ? vbFalse : vbTrue);
  }
}

// Nothing moves, nothing is registered: the files stay as they were.
TEST(ApplyTest, TheFirstErrorEndsTheStep) {
  struct Case {
    const char* name;
    VbBool cancelBefore;
    Files received;
    bool readOnlyBackup;  // a.dll.old cannot be deleted
  } cases[] = {
      {"a failure flagged before", vbTrue, {{"a.dll.remove", "a"}, {"b.dll.remove", "b"}}, false},
      {"a complete row without its file", vbFalse, {{"b.dll.remove", "b"}}, false},
      // It stops before the new file moves in.
      {"a read-only backup",
       vbFalse,
       {{"a.dll.remove", "new"},
        {"a.dll", "current"},
        {"a.dll.old", "older"},
        {"b.dll.remove", "b"}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent a;
    Start(a, {Line("S", "a.dll"), Line("S", "b.dll")}, {"100%", "100%"}, c.received);
    if (c.readOnlyBackup)
      a.fs.SetAttributes(std::string(kDest) + "\\a.dll.old", attrReadOnly | attrArchive);
    G().CancelRequested = c.cancelBefore;
    a.form.StartAzioneSuFile();
    EXPECT_EQ(G().CancelRequested, vbTrue);
    EXPECT_EQ(In(a, kDest), c.received);
    EXPECT_EQ(Marks(a), "00");
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
      {"present in another case",
       {{"orvento.EXE", "product"}, {"OrVento.exe.old", "backup"}},
       {{"orvento.EXE", "product"}, {"OrVento.exe.old", "backup"}},
       vbFalse},
      {"missing", {{"OrVento.exe.old", "backup"}}, {{"OrVento.exe", "backup"}}, vbFalse},
      {"missing without backup", {}, {}, vbTrue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent a;
    Start(a, {Line("", "a.dat"), Line("", "b.dat")}, {"100%", "100%"},
          {{"a.dat.remove", "a"}, {"b.dat.remove", "b"}});
    a.fs.Delete(a.AppFolder() + "\\OrVento.exe");
    for (const auto& [name, content] : c.before) a.fs.Put(a.AppFolder() + "\\" + name, content);
    a.form.StartAzioneSuFile();
    Files after = In(a, a.AppFolder());
    after.erase("OVLiveUpdate.exe.manifest");
    EXPECT_EQ(after, c.after);
    EXPECT_EQ(G().CancelRequested, c.cancel);
    // Without the product the first row's files are in place but it gets no mark.
    EXPECT_EQ(a.fs.Get(std::string(kDest) + "\\a.dat"), "a");
    EXPECT_EQ(Marks(a), c.cancel ? "00" : "11");
    EXPECT_EQ(a.fs.Has(std::string(kDest) + "\\b.dat"), !c.cancel);
  }
}

TEST(ApplyTest, RegistrationAndOpeningGoThroughTheShell) {
  Agent a;
  Start(a,
        {Line("S", "grid.ocx", "C:\\Program Files\\Comp"), Line("S", "m.dll"),
         Line("E", "Setup.exe")},
        {"100%", "100%", "100%"}, {{"m.dll.remove", "dll"}, {"Setup.exe.remove", "exe"}});
  a.fs.Put("C:\\Program Files\\Comp\\grid.ocx.remove", "ocx");
  const Handle form = a.window.WindowHandle(Control::MainForm);
  a.form.StartAzioneSuFile();

  std::vector<std::string> calls;
  for (const TestSystem::ShellCall& s : a.sys.shellCalls) {
    EXPECT_EQ(s.owner, form);
    EXPECT_EQ(s.verb + " " + s.directory + " " + std::to_string(s.show), "open C:\\Lavoro 0");
    calls.push_back(s.file + "|" + s.parameters);
  }
  // The path goes unquoted, blanks and all; a file is opened by its name alone.
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "C:\\Windows\\system32\\regsvr32.exe|/s C:\\Program Files\\Comp\\grid.ocx",
                       "C:\\Windows\\system32\\regsvr32.exe|/s C:\\Dest\\m.dll", "Setup.exe|"}));
  EXPECT_EQ(a.fs.Get("C:\\Program Files\\Comp\\grid.ocx"), "ocx");
  EXPECT_EQ(a.fs.Get("C:\\Dest\\Setup.exe"), "exe");
  // Opening a file closes the window.
  EXPECT_FALSE(a.window.Loaded());
  EXPECT_TRUE(a.form.EndAfterRun());
  EXPECT_EQ(G().CancelRequested, vbFalse);

  // Without a system directory the program is "\regsvr32.exe".
  Agent b;
  Start(b, {Line("S", "m.dll")}, {"100%"}, {{"m.dll.remove", "dll"}});
  b.form.SystemDirectory.clear();
  b.form.StartAzioneSuFile();
  ASSERT_EQ(b.sys.shellCalls.size(), 1u);
  EXPECT_EQ(b.sys.shellCalls[0].file, "\\regsvr32.exe");
}

}  // namespace
}  // namespace ovlu::test
