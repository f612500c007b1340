// The rows the update list makes in the window: kind, action and the hidden
// destination each placeholder gives, with an empty windir and the agent at
// a drive's root. How lines and tags are read, plain paths and unknown
// placeholders are checked through ovlu-list and the corpus replay, which
// models the scan independently.
#include <gtest/gtest.h>

#include "tests/core/Agent.h"

namespace ovlu::test {
namespace {

TEST(UpdateListTest, RowsShowKindActionAndHiddenDestination) {
  Agent agent;
  // No windir in the environment, and the agent at the root of a drive.
  agent.sys.environment = {"SystemDrive=C:"};
  agent.sys.appPath = "C:\\";
  agent.WriteList({
      "<v-S><s-http://srv/u/Motore.DLL><SYSPATH-\\Motore.dll>",
      "<v-E><s-http://srv/u/Setup.EXE><WOSPATH-\\Setup.exe>",
      "<v-S><s-http://srv/u/grid.ocx><S32PATH-\\grid.ocx>",
      "<v-r><s-http://srv/u/Tabelle.Dat><ARCPATH-\\Tabelle.dat>",
      "<v-><s-http://srv/u/readme><WINPATH-\\readme>",
      "<v-S><s-http://srv/u/a.dll><APPPATH-\\a.dll>",
  });
  ASSERT_TRUE(agent.Start());
  struct Row {
    const char* kind;
    const char* action;
    const char* destination;
  } rows[] = {
      {"Componente", "S", "\\system\\Motore.dll"},
      {"Applicazione", "E", "C:\\Setup.exe"},
      {"Componente", "S", "\\system32\\grid.ocx"},
      {"Archivio", "r", "C:\\Users\\Public\\Documents\\Tessaro Software\\OrVento 7\\Tabelle.dat"},
      {"Accessorio", "", "\\readme"},
      {"Componente", "S", "C:\\\\a.dll"},
  };
  ASSERT_EQ(agent.window.RowCount(), static_cast<int>(std::size(rows)));
  for (int i = 0; i < agent.window.RowCount(); ++i) {
    EXPECT_EQ(agent.window.SubItem(i + 1, 0), rows[i].kind) << "row " << i + 1;
    EXPECT_EQ(agent.window.SubItem(i + 1, 1), rows[i].action) << "row " << i + 1;
    EXPECT_EQ(agent.window.SubItem(i + 1, 3), rows[i].destination) << "row " << i + 1;
  }
}

}  // namespace
}  // namespace ovlu::test
