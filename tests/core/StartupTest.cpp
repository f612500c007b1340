// Start-up up to the idle window, the manifest beside the executable and
// the window icon.
#include <gtest/gtest.h>

#include <functional>
#include <utility>

#include "tests/core/Agent.h"

namespace ovlu::test {
namespace {

const char* const kRecord = "<v-S><s-http://srv/u/a.dll><APPPATH-\\a.dll>";
constexpr std::intptr_t kPaleBlue = 240 + 256 * 240 + 65536 * 255;
constexpr std::intptr_t kDarkBlue = 32 + 256 * 43 + 65536 * 136;

TEST(StartupTest, IdleWindowAfterStartUp) {
  struct Case {
    const char* name;
    std::function<void(Agent&)> prepare;
    const char* title;
    bool ready;  // cmdGET enabled
    int rows;
    bool listFound;
  } cases[] = {
      {"no list", [](Agent&) {}, "Aggionamento OrVento", false, 0, false},
      {"empty file", [](Agent& a) { a.fs.Put(a.ListPath(), ""); }, "OV Live Update", false, 0, true},
      {"empty lines", [](Agent& a) { a.WriteList({"", "", ""}); }, "OV Live Update", false, 0, true},
      {"records", [](Agent& a) { a.WriteList({kRecord, "", kRecord}); }, "OV Live Update", true, 2,
       true},
      {"name in capitals",
       [](Agent& a) { a.fs.Put(a.DataFolder() + "\\UPDATES.UPD", std::string(kRecord) + "\r\n"); },
       "OV Live Update", true, 1, true},
      {"hidden list",
       [](Agent& a) {
         a.WriteList({kRecord});
         a.fs.SetAttributes(a.ListPath(), attrHidden | attrArchive);
       },
       "Aggionamento OrVento", false, 0, false},
      {"a list folder, not a file", [](Agent& a) { a.fs.MakeFolder(a.ListPath()); },
       "Aggionamento OrVento", false, 0, false},
      {"stray > in the first line",
       [](Agent& a) { a.WriteList({"<v-R> > <s-http://srv/b.exe><APPPATH-\\b.exe>", kRecord}); },
       "OV Live Update", true, 1, true},
      {"command line and records",
       [](Agent& a) {
         a.WriteList({kRecord});
         a.sys.commandLine = "/auto";
       },
       "Autoupdate", true, 1, true},
      {"command line without list", [](Agent& a) { a.sys.commandLine = " "; }, "Autoupdate", false,
       0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent a;
    c.prepare(a);
    ASSERT_TRUE(a.Start());
    HeadlessWindow& w = a.window;
    EXPECT_EQ(a.sys.commonControlsInitialised, 1);
    EXPECT_EQ(a.sys.foldersAsked, std::vector<int>{46});
    EXPECT_EQ(G().DataFolder, a.DataFolder());
    EXPECT_EQ(G().CancelRequested, vbFalse);
    EXPECT_EQ(w.Caption(Control::LabelTitle), c.title);
    EXPECT_EQ(w.Enabled(Control::cmdGET), c.ready);
    EXPECT_EQ(w.Caption(Control::CmdChiudi), "&Chiudi");
    EXPECT_EQ(w.RowCount(), c.rows);
    EXPECT_EQ(G().UpdateItems.Sized(), c.rows > 0);
    EXPECT_EQ(G().UpdateListPath, c.listFound ? a.ListPath() : "");
    EXPECT_EQ(G().EnvWindir, c.listFound ? "C:\\Windows" : "");
    EXPECT_EQ(G().EnvSystemDrive, c.listFound ? "C:" : "");
    // The list view is set up in every case; the bar's colours only with a list.
    EXPECT_EQ(w.ColumnWidth(1), 2440);
    EXPECT_EQ(w.ColumnWidth(2), 0);
    EXPECT_EQ(w.ColumnWidth(3), 2600);
    EXPECT_EQ(w.ColumnWidth(4), 0);
    EXPECT_EQ(w.extendedStyle(), LVS_EX_FULLROWSELECT_);
    EXPECT_EQ(w.backColor, c.listFound ? kPaleBlue : -1);
    EXPECT_EQ(w.barColor, c.listFound ? kDarkBlue : -1);
    EXPECT_TRUE(w.iconsBound());
    EXPECT_EQ(w.showCount, 1);
    EXPECT_FALSE(w.Enabled(Control::Timer1));
    EXPECT_FALSE(w.Enabled(Control::TimerTimeOut));
    // The design texts that start-up leaves alone.
    EXPECT_EQ(w.Caption(Control::MainForm), " OV Live Update");
    EXPECT_EQ(w.Caption(Control::LblMesg), "OrVento Live Update");
    EXPECT_EQ(w.Caption(Control::LabelST), "0 Kb di 0Kb");
    EXPECT_EQ(w.Caption(Control::Label3), "Tempo rimanente: ");
  }
}

TEST(StartupTest, WindowMessagesInTheirOrder) {
  Agent a;
  a.WriteList({kRecord});
  ASSERT_TRUE(a.Start());
  const HeadlessWindow& w = a.window;
  const Handle list = w.WindowHandle(Control::FileList);
  const Handle bar = w.WindowHandle(Control::ProgressBar1);
  const Handle form = w.WindowHandle(Control::MainForm);
  std::vector<std::pair<Handle, unsigned>> sent;
  for (const auto& m : w.messages) sent.emplace_back(m.window, m.msg);
  const std::vector<std::pair<Handle, unsigned>> expected = {
      {list, LVM_GETEXTENDEDLISTVIEWSTYLE_}, {list, LVM_SETEXTENDEDLISTVIEWSTYLE_},
      {bar, PBM_SETBKCOLOR_},                {bar, PBM_SETBARCOLOR_},
      {form, WM_SETICON_},                   {form, WM_SETICON_},
      {form, WM_SETICON_},                   {form, WM_SETICON_},
  };
  EXPECT_EQ(sent, expected);
  EXPECT_EQ(w.messages[1].wParam, 0u);  // mask 0: the whole value applies
  EXPECT_EQ(w.bigIcon, 0x7000 + 32);
  EXPECT_EQ(w.smallIcon, 0x7000 + 16);
  // A later activation sets nothing again.
  a.form.Form_Activate();
  EXPECT_EQ(w.messages.size(), expected.size());
}

TEST(StartupTest, RelativeDataFolderWhenTheShellGivesNone) {
  Agent a;
  a.sys.commonDocuments.clear();
  a.fs.Put(a.fs.currentDirectory + "\\Tessaro Software\\OrVento 7\\Updates.upd",
           std::string(kRecord) + "\r\n");
  ASSERT_TRUE(a.Start());
  EXPECT_EQ(G().DataFolder, "Tessaro Software\\OrVento 7");
  EXPECT_EQ(a.window.RowCount(), 1);
  EXPECT_TRUE(a.window.Enabled(Control::cmdGET));
}

TEST(StartupTest, SecondInstanceEndsUnseenAfterReadingTheList) {
  Agent a;
  a.WriteList({kRecord});
  a.sys.previousInstance = true;
  EXPECT_FALSE(a.Start());
  EXPECT_EQ(a.window.showCount, 0);
  EXPECT_EQ(a.window.unloadCount, 1);
  EXPECT_FALSE(a.window.Loaded());
  EXPECT_EQ(G().UpdateItems.size(), 1u);
  EXPECT_TRUE(a.fs.Has(a.AppFolder() + "\\OVLiveUpdate.exe.manifest"));
}

TEST(StartupTest, EnvironmentValues) {
  struct Case {
    const char* name;
    std::vector<std::string> entries;
    const char* windir;
    const char* systemDrive;
  } cases[] = {
      {"both", {"PATH=x", "windir=C:\\Win", "SystemDrive=D:"}, "C:\\Win", "D:"},
      {"capitals", {"WINDIR=C:\\Win", "systemdrive=D:"}, "", ""},
      {"empty names and values", {"=C:=C:\\", "windir=", "SystemDrive==x"}, "", "=x"},
      {"the last one wins", {"windir=A", "windir=B"}, "B", ""},
      {"no equal sign", {"windir"}, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent a;
    a.sys.environment = c.entries;
    CaptureEnvironment();
    EXPECT_EQ(G().EnvWindir, c.windir);
    EXPECT_EQ(G().EnvSystemDrive, c.systemDrive);
  }

  // Only the first 256 entries are looked at, and an empty one ends the scan.
  Agent a;
  a.sys.environment.assign(255, "X=1");
  a.sys.environment.push_back("SystemDrive=E:");
  a.sys.environment.push_back("windir=C:\\Late");
  CaptureEnvironment();
  EXPECT_EQ(G().EnvSystemDrive, "E:");
  EXPECT_EQ(G().EnvWindir, "");
  a.sys.environment = {"X=1", "", "windir=C:\\After"};
  CaptureEnvironment();
  EXPECT_EQ(G().EnvWindir, "");
}

std::string ExpectedManifest() {
  const std::pair<int, const char*> lines[] = {
      {0, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"},
      {0, "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"},
      {5, "<assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"X86\" "
          "name=\"Brackwell.WindowsXP.Example\" type=\"win32\" />"},
      {5, "<description>Windows XP Theme.</description>"},
      {5, "<dependency>"},
      {10, "<dependentAssembly>"},
      {15, "<assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
           "version=\"6.0.0.0\" processorArchitecture=\"X86\" "
           "publicKeyToken=\"6595b64144ccf1df\" language=\"*\" />"},
      {10, "</dependentAssembly>"},
      {5, "</dependency>"},
      {5, "<description>elevate execution level</description>"},
      {5, "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v2\">"},
      {9, "<security>"},
      {13, "<requestedPrivileges>"},
      {17, "<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"},
      {14, "</requestedPrivileges>"},
      {9, "</security>"},
      {5, "</trustInfo>"},
      {0, "</assembly>"},
  };
  std::string text;
  for (const auto& [blanks, line] : lines) {
    if (!text.empty()) text += "\r\n";
    text += std::string(static_cast<std::size_t>(blanks), ' ') + line;
  }
  return text;
}

TEST(ManifestTest, WrittenOnceBesideTheExecutable) {
  struct Case {
    const char* name;
    std::string appPath;
    std::string exeName;
    std::string manifest;
  } cases[] = {
      {"usual name", "C:\\Programmi\\OrVento 7", "OVLiveUpdate",
       "C:\\Programmi\\OrVento 7\\OVLiveUpdate.exe.manifest"},
      {"drive root", "C:\\", "OVLiveUpdate", "C:\\OVLiveUpdate.exe.manifest"},
      {"base name ending in .exe", "C:\\Programmi\\OrVento 7", "x.exe",
       "C:\\Programmi\\OrVento 7\\x.exe.manifest"},
      {"base name ending in .EXE", "C:\\Programmi\\OrVento 7", "X.EXE",
       "C:\\Programmi\\OrVento 7\\X.EXE.manifest"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent a;
    a.sys.appPath = c.appPath;
    a.sys.exeName = c.exeName;
    CreateManifest();
    EXPECT_EQ(a.fs.Get(c.manifest), ExpectedManifest());
    EXPECT_EQ(a.fs.GetAttributes(c.manifest), 39u);
    EXPECT_EQ(a.sys.commonControlsInitialised, 1);
    EXPECT_FALSE(a.fs.FileExists(c.manifest));  // hidden and system

    // The next start finds it, hidden as it is, and leaves it alone.
    a.fs.SetAttributes(c.manifest, attrArchive);
    a.fs.Put(c.manifest, "changed");
    a.fs.SetAttributes(c.manifest, 39);
    CreateManifest();
    EXPECT_EQ(a.fs.Get(c.manifest), "changed");
    EXPECT_EQ(a.sys.commonControlsInitialised, 2);
  }
}

TEST(ManifestTest, FolderThatCannotBeWritten) {
  Agent a;
  a.fs.noWriteFolders.insert(a.AppFolder());
  CreateManifest();
  EXPECT_FALSE(a.fs.Has(a.AppFolder() + "\\OVLiveUpdate.exe.manifest"));
  EXPECT_EQ(a.sys.commonControlsInitialised, 1);
}

// A window with an owner chain, recording what the icon code asks of it.
class OwnedWindow : public HeadlessWindow {
 public:
  std::map<Handle, Handle> owners;
  std::vector<int> metrics;
  std::vector<std::string> loads;
  Handle GetWindow(Handle window, unsigned relation) override {
    EXPECT_EQ(relation, GW_OWNER_);
    auto it = owners.find(window);
    return it == owners.end() ? 0 : it->second;
  }
  int GetSystemMetrics(int index) override {
    metrics.push_back(index);
    return HeadlessWindow::GetSystemMetrics(index);
  }
  Handle LoadImageA(const std::string& name, unsigned type, int cx, int cy,
                    unsigned flags) override {
    loads.push_back(name + " " + std::to_string(type) + " " + std::to_string(cx) + "x" +
                    std::to_string(cy) + " " + std::to_string(flags));
    return HeadlessWindow::LoadImageA(name, type, cx, cy, flags);
  }
};

TEST(IconTest, LargeThenSmallTopWindowFirst) {
  const Handle self = 0x1000, owner = 0x2000, top = 0x3000;
  struct Case {
    const char* name;
    bool owned;
    std::int16_t flag;
    std::vector<Handle> targets;  // of the four or two messages, in order
  } cases[] = {
      {"owner chain", true, vbTrue, {top, self, top, self}},
      {"no owner", false, vbTrue, {self, self, self, self}},
      {"flag off", true, vbFalse, {self, self}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OwnedWindow w;
    w.Load(nullptr);
    if (c.owned) w.owners = {{self, owner}, {owner, top}};
    for (int call = 0; call < 2; ++call) {
      w.messages.clear();
      SetFormIcon(w, self, "AAA", c.flag);
      ASSERT_EQ(w.messages.size(), c.targets.size());
      for (std::size_t i = 0; i < c.targets.size(); ++i) {
        const bool big = i < c.targets.size() / 2;
        EXPECT_EQ(w.messages[i].window, c.targets[i]);
        EXPECT_EQ(w.messages[i].msg, WM_SETICON_);
        EXPECT_EQ(w.messages[i].wParam, big ? ICON_BIG_ : ICON_SMALL_);
        EXPECT_EQ(w.messages[i].lParam, big ? 0x7000 + 32 : 0x7000 + 16);  // same handles again
      }
    }
    EXPECT_EQ(w.metrics, (std::vector<int>{SM_CXICON_, SM_CYICON_, SM_CXSMICON_, SM_CYSMICON_,
                                           SM_CXICON_, SM_CYICON_, SM_CXSMICON_, SM_CYSMICON_}));
    EXPECT_EQ(w.loads[0], "AAA 1 32x32 32768");
    EXPECT_EQ(w.loads[1], "AAA 1 16x16 32768");
  }
}

}  // namespace
}  // namespace ovlu::test
