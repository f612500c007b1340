// Putting received files in place, over real files: backups, the second
// stage of "R", registration, opening, the product's executable, check marks.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "shell/RunLog.h"
#include "tests/core/Agent.h"

namespace ovlu::test {
namespace {

using Files = std::map<std::string, std::string>;

// Files written as "name=content" words.
Files F(const std::string& words) {
  Files files;
  std::istringstream in(words);
  for (std::string w; in >> w;) files[w.substr(0, w.find('='))] = w.substr(w.find('=') + 1);
  return files;
}

// Starts the agent on a list (no run has read the system directory yet), gives the rows their
// percentages and puts the received files in C:\Dest.
void Start(Agent& a, const std::vector<std::string>& lines,
           const std::vector<std::string>& percentages, const Files& received) {
  ASSERT_TRUE(a.Start(lines));
  for (std::size_t i = 0; i < percentages.size(); ++i)
    a.window.SetSubItem(static_cast<int>(i + 1), 2, percentages[i]);
  for (const auto& [name, content] : received) a.fs.Put(kDest + "\\" + name, content);
}

// Every file of a folder with its content.
Files In(Agent& a, const std::string& folder) {
  Files files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(a.fs.Real(folder), ec))
    files[e.path().filename().string()] = support::Slurp(e.path());
  return files;
}

// What the run log holds after f: the lines gathered before are dropped.
template <class F>
std::string LogOf(Agent& a, F&& f) {
  const std::string path = "C:\\Log\\OVLiveUpdate.log";
  a.fs.MakeFolder("C:\\Log");
  Log().Open("");
  Log().Flush();
  Log().Open(path);
  f();
  Log().Flush();
  Log().Open("");
  return a.fs.Has(path) ? a.fs.Get(path) : "";
}

// One record, and after it a complete "S" row g.dll as a witness of whether
// the step went on.
TEST(ApplyTest, OneRecordAndItsFiles) {
  struct Case {
    const char* name;
    const char* action;
    const char* percent;
    const char* before;  // in C:\Dest, besides the witness's
    const char* after;   // "": as before
    const char* marks;   // also whether the witness moved in and was registered
    const char* app = "OrVento.exe=product";  // the agent's folder, besides the manifest
    const char* appAfter = "";                // "": as before
    VbBool cancelBefore = vbFalse;
    const char* readOnly = nullptr;  // a file of C:\Dest made read-only
    const char* logged = "";         // a line of the run log says this
  } cases[] = {
      {"new file", "", "100%", "f.dll.remove=new", "f.dll=new", "11"},
      {"replaced file, one generation of backups", "X", "100%",
       "f.dll.remove=new f.dll=current f.dll.old=older", "f.dll=new f.dll.old=current", "11"},
      {"second stage of R", "R", "100%",
       "f.dll.tmp.remove=new f.dll=current f.dll.tmp=staged f.dll.old=older f.dll.tmp.old=oldest",
       "f.dll=new f.dll.old=current f.dll.tmp.old=staged", "11"},
      {"R for a file not there yet", "R", "100%", "f.dll.tmp.remove=new", "f.dll=new", "11"},
      {"lower-case r has no second stage", "r", "100%", "f.dll.remove=new f.dll=current",
       "f.dll=new f.dll.old=current", "11"},
      {"names differ in case only", "", "100%", "F.DLL.REMOVE=new F.dll=current",
       "f.dll=new f.dll.old=current", "11"},
      // Only a row at exactly "100%" is applied; the step goes on after it.
      {"99%", "", "99%", "f.dll.remove=new", "", "01", "OrVento.exe=product", "", vbFalse, nullptr,
       "apply row 1 (f.dll) not applied: its percentage reads \"99%\""},
      {"100 %", "", "100 %", "f.dll.remove=new", "", "01"},
      {"server unreachable", "", "Server non disponibile.", "f.dll.remove=new", "", "01"},
      // The first error ends the step where it came: the current file is
      // already the backup.
      {"nothing received", "", "100%", "f.dll=current", "f.dll.old=current", "00",
       "OrVento.exe=product", "", vbFalse, nullptr,
       "move rename C:\\Dest\\f.dll.remove -> C:\\Dest\\f.dll: error 53"},
      {"a failure flagged before", "", "100%", "f.dll.remove=new", "", "00", "OrVento.exe=product",
       "", vbTrue, nullptr, "apply nothing applied: a download failed"},
      {"read-only backup", "", "100%", "f.dll.remove=new f.dll=current f.dll.old=older", "", "00",
       "OrVento.exe=product", "", vbFalse, "f.dll.old",
       "move delete C:\\Dest\\f.dll.old: error 75"},
      // The product's executable comes back from its backup; without either
      // the row's files are in place but it gets no mark.
      {"product in another case", "", "100%", "f.dll.remove=new", "f.dll=new", "11",
       "orvento.EXE=product OrVento.exe.old=backup"},
      {"product missing", "", "100%", "f.dll.remove=new", "f.dll=new", "11",
       "OrVento.exe.old=backup", "OrVento.exe=backup"},
      {"product and backup missing", "", "100%", "f.dll.remove=new", "f.dll=new", "00", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent a;
    Files before = F(c.before), after = F(*c.after ? c.after : c.before);
    before["g.dll.remove"] = "g";
    after[c.marks[1] == '1' ? "g.dll" : "g.dll.remove"] = "g";
    Start(a, {Line(c.action, "f.dll"), Line("S", "g.dll")}, {c.percent, "100%"}, before);
    if (c.readOnly) a.fs.SetAttributes(kDest + "\\" + c.readOnly, attrReadOnly);
    a.fs.Delete(a.AppFolder() + "\\OrVento.exe");
    for (const auto& [name, content] : F(c.app)) a.fs.Put(a.AppFolder() + "\\" + name, content);
    G().CancelRequested = c.cancelBefore;
    const std::string log = LogOf(a, [&] { a.form.StartAzioneSuFile(); });
    EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    EXPECT_EQ(In(a, kDest), after);
    Files app = In(a, a.AppFolder());
    app.erase("OVLiveUpdate.exe.manifest");
    EXPECT_EQ(app, F(*c.appAfter ? c.appAfter : c.app));
    EXPECT_EQ(a.Marks(), c.marks);
    EXPECT_EQ(G().CancelRequested, std::string(c.marks) == "11" ? vbFalse : vbTrue);
    EXPECT_EQ(a.sys.shellCalls.size(), c.marks[1] == '1' ? 1u : 0u);
  }
}

// A destination folder that is not there: the move names it and the error.
TEST(ApplyTest, AMissingFolderIsLogged) {
  Agent a;
  Start(a, {Line("", "f.dll", "C:\\Manca")}, {"100%"}, {});
  const std::string log = LogOf(a, [&] { a.form.StartAzioneSuFile(); });
  EXPECT_NE(log.find("rename C:\\Manca\\f.dll.remove -> C:\\Manca\\f.dll: error 76"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("stopped at row 1"), std::string::npos) << log;
  EXPECT_EQ(G().CancelRequested, vbTrue);
}

TEST(ApplyTest, RegistrationAndOpeningGoThroughTheShell) {
  Agent a;
  Start(a,
        {Line("S", "grid.ocx", "C:\\Program Files\\Comp"), Line("S", "m.dll"),
         Line("E", "Setup.exe")},
        {"100%", "100%", "100%"}, {{"m.dll.remove", "dll"}, {"Setup.exe.remove", "exe"}});
  a.fs.Put("C:\\Program Files\\Comp\\grid.ocx.remove", "ocx");
  const Handle form = a.window.WindowHandle(Control::MainForm);
  const std::string log = LogOf(a, [&] { a.form.StartAzioneSuFile(); });
  for (const char* launched : {"launch \\regsvr32.exe /s C:\\Program Files\\Comp\\grid.ocx",
                               "launch open Setup.exe in C:\\Lavoro"})
    EXPECT_NE(log.find(launched), std::string::npos) << log;

  std::vector<std::string> calls;
  for (const TestSystem::ShellCall& s : a.sys.shellCalls) {
    EXPECT_EQ(s.owner, form);
    EXPECT_EQ(s.verb + " " + s.directory + " " + std::to_string(s.show), "open C:\\Lavoro 0");
    calls.push_back(s.file + "|" + s.parameters);
  }
  // Without a system directory the program is "\regsvr32.exe". The path goes
  // unquoted, blanks and all; a file is opened by its name alone.
  EXPECT_EQ(calls, (std::vector<std::string>{"\\regsvr32.exe|/s C:\\Program Files\\Comp\\grid.ocx",
                                             "\\regsvr32.exe|/s C:\\Dest\\m.dll", "Setup.exe|"}));
  EXPECT_EQ(a.fs.Get("C:\\Program Files\\Comp\\grid.ocx"), "ocx");
  EXPECT_EQ(a.Dest("Setup.exe"), "exe");
  // Opening a file closes the window.
  EXPECT_FALSE(a.window.Loaded());
  EXPECT_TRUE(a.form.EndAfterRun());
  EXPECT_EQ(G().CancelRequested, vbFalse);
}

}  // namespace
}  // namespace ovlu::test
