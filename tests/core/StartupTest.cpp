// Start-up up to the idle window, the manifest beside the executable and
// the window icon.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "tests/core/Agent.h"

namespace ovlu::test {
namespace {

const char* const kRecord = "<v-S><s-http://srv/u/a.dll><APPPATH-\\a.dll>";
constexpr std::intptr_t kPaleBlue = 240 + 256 * 240 + 65536 * 255;
constexpr std::intptr_t kDarkBlue = 32 + 256 * 43 + 65536 * 136;

// The icon handles the headless window gives.
constexpr std::intptr_t kBigIcon = 0x7000 + 32, kSmallIcon = 0x7000 + 16;

// The window messages sent: window, message, wParam and lParam each.
using Sent = std::vector<std::tuple<Handle, unsigned, std::uintptr_t, std::intptr_t>>;
Sent Messages(const HeadlessWindow& w) {
  Sent sent;
  for (const auto& m : w.messages) sent.emplace_back(m.window, m.msg, m.wParam, m.lParam);
  return sent;
}
// The icons: large then small, each to the top of the owner chain first.
Sent Icons(Handle top, Handle self) {
  return {{top, WM_SETICON_, ICON_BIG_, kBigIcon},
          {self, WM_SETICON_, ICON_BIG_, kBigIcon},
          {top, WM_SETICON_, ICON_SMALL_, kSmallIcon},
          {self, WM_SETICON_, ICON_SMALL_, kSmallIcon}};
}

TEST(StartupTest, IdleWindowAfterStartUp) {
  const std::string rec = std::string(kRecord) + "\r\n";
  struct Case {
    const char* name;
    const char* file;  // in the data folder; nullptr for none
    std::string text;
    unsigned attributes;  // attrDirectory: a folder of that name
    const char* commandLine;
    const char* title;
    int rows;  // cmdGET is enabled when there are any
    bool listFound;
    bool shellFolder = true;  // the shell gives the common documents folder
  } cases[] = {
      {"no list", nullptr, "", 0, "", "Aggionamento OrVento", 0, false},
      {"empty file", "Updates.upd", "", 0, "", "OV Live Update", 0, true},
      {"records", "Updates.upd", rec + "\r\n" + rec, 0, "", "OV Live Update", 2, true},
      {"hidden list", "Updates.upd", rec, attrHidden | attrArchive, "", "Aggionamento OrVento", 0,
       false},
      {"a folder, not a file", "Updates.upd", "", attrDirectory, "", "Aggionamento OrVento", 0,
       false},
      {"command line and records", "Updates.upd", rec, 0, "/auto", "Autoupdate", 1, true},
      {"command line without list", nullptr, "", 0, " ", "Autoupdate", 0, false},
      // The data folder is then relative to the current directory.
      {"no folder from the shell", "Updates.upd", rec, 0, "", "OV Live Update", 1, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent a;
    a.sys.commandLine = c.commandLine;
    if (!c.shellFolder) a.sys.commonDocuments.clear();
    if (c.file) {
      const std::string path = a.DataFolder() + "\\" + c.file;
      if (c.attributes == attrDirectory) {
        a.fs.MakeFolder(path);
      } else {
        a.fs.Put(path, c.text);
        if (c.attributes) a.fs.SetAttributes(path, c.attributes);
      }
    }
    ASSERT_TRUE(a.Start());
    HeadlessWindow& w = a.window;
    EXPECT_EQ(w.Caption(Control::LabelTitle), c.title);
    EXPECT_EQ(w.Enabled(Control::cmdGET), c.rows > 0);
    EXPECT_EQ(w.RowCount(), c.rows);
    // The environment is read and the bar coloured only when there is a list.
    EXPECT_EQ(G().EnvWindir, c.listFound ? "C:\\Windows" : "");
    EXPECT_EQ(w.showCount, 1);
    EXPECT_EQ(a.sys.commonControlsInitialised, 1);
    // Full-row selection (mask 0: the whole value applies), the bar's colours
    // only with a list, then the icons.
    const Handle list = w.WindowHandle(Control::FileList),
                 bar = w.WindowHandle(Control::ProgressBar1),
                 form = w.WindowHandle(Control::MainForm);
    Sent expected = {{list, LVM_GETEXTENDEDLISTVIEWSTYLE_, 0, 0},
                     {list, LVM_SETEXTENDEDLISTVIEWSTYLE_, 0, LVS_EX_FULLROWSELECT_}};
    if (c.listFound)
      expected.insert(expected.end(), {{bar, PBM_SETBKCOLOR_, 0, kPaleBlue},
                                       {bar, PBM_SETBARCOLOR_, 0, kDarkBlue}});
    const Sent icons = Icons(form, form);  // the window is the top of its own chain
    expected.insert(expected.end(), icons.begin(), icons.end());
    EXPECT_EQ(Messages(w), expected);
    // Showing it again and letting events run sets nothing again.
    w.Show();
    for (int i = 0; i < 10; ++i) w.DoEvents();
    EXPECT_EQ(w.messages.size(), expected.size());
  }
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
      {"capitals", {"WINDIR=C:\\Win", "systemdrive=D:"}, "", ""},
      {"empty names and values", {"=C:=C:\\", "windir=", "SystemDrive==x"}, "", "=x"},
      {"the last one wins", {"windir=A", "windir=B"}, "B", ""},
      {"an empty entry ends the scan", {"X=1", "", "windir=C:\\After"}, "", ""},
      // Only the first 256 entries are looked at.
      {"entry 257", {}, "", "E:"},
  };
  cases[4].entries.assign(255, "X=1");
  cases[4].entries.push_back("SystemDrive=E:");
  cases[4].entries.push_back("windir=C:\\Late");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent a;
    a.sys.environment = c.entries;
    CaptureEnvironment();
    EXPECT_EQ(G().EnvWindir, c.windir);
    EXPECT_EQ(G().EnvSystemDrive, c.systemDrive);
  }
}

TEST(ManifestTest, WrittenOnceBesideTheExecutable) {
  struct Case {
    std::string appPath, exeName, manifest;
  } cases[] = {
      {"C:\\Programmi\\OrVento 7", "OVLiveUpdate",
       "C:\\Programmi\\OrVento 7\\OVLiveUpdate.exe.manifest"},
      {"C:\\Programmi\\OrVento 7", "X.EXE", "C:\\Programmi\\OrVento 7\\X.EXE.manifest"},
      {"C:\\Nowhere", "OVLiveUpdate", ""},  // no such folder: quietly nothing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.appPath + "\\" + c.exeName);
    Agent a;
    a.sys.appPath = c.appPath;
    a.sys.exeName = c.exeName;
    CreateManifest();
    EXPECT_EQ(a.sys.commonControlsInitialised, 1);
    if (c.manifest.empty()) continue;
    // 18 lines joined by CR LF, none after the last; themed controls, elevated.
    const std::string text = a.fs.Get(c.manifest);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n", 0),
              0u);
    EXPECT_EQ(text.substr(text.size() > 13 ? text.size() - 13 : 0), "\r\n</assembly>");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 17);
    EXPECT_NE(text.find("\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    EXPECT_NE(text.find("level=\"requireAdministrator\" uiAccess=\"false\"/>"), std::string::npos);
    EXPECT_EQ(a.fs.GetAttributes(c.manifest), 39u);  // hidden and system

    // The next start finds it, hidden as it is, and leaves it alone.
    a.fs.Put(c.manifest, "changed");
    CreateManifest();
    EXPECT_EQ(a.fs.Get(c.manifest), "changed");
    EXPECT_EQ(a.sys.commonControlsInitialised, 2);
  }
}

// A window with an owner chain.
class OwnedWindow : public HeadlessWindow {
 public:
  std::map<Handle, Handle> owners;
  Handle GetWindow(Handle window, unsigned relation) override {
    EXPECT_EQ(relation, GW_OWNER_);
    auto it = owners.find(window);
    return it == owners.end() ? 0 : it->second;
  }
};

// The icons go to the top of the owner chain first, then to the window.
TEST(IconTest, LargeThenSmallTopWindowFirst) {
  const Handle self = 0x1000, top = 0x3000;
  OwnedWindow w;
  w.Load(nullptr);
  w.owners = {{self, 0x2000}, {0x2000, top}};
  SetFormIcon(w, self, "AAA", vbTrue);
  EXPECT_EQ(Messages(w), Icons(top, self));
  // Without the owner flag only the window gets them.
  w.messages.clear();
  SetFormIcon(w, self, "AAA", vbFalse);
  EXPECT_EQ(Messages(w), (Sent{{self, WM_SETICON_, ICON_BIG_, kBigIcon},
                               {self, WM_SETICON_, ICON_SMALL_, kSmallIcon}}));
}

}  // namespace
}  // namespace ovlu::test
