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
  ASSERT_TRUE(agent.Start({
      "<v-S><s-http://srv/u/Motore.DLL><SYSPATH-\\Motore.dll>",
      "<v-E><s-http://srv/u/Setup.EXE><WOSPATH-\\Setup.exe>",
      "<v-S><s-http://srv/u/grid.ocx><S32PATH-\\grid.ocx>",
      "<v-r><s-http://srv/u/Tabelle.Dat><ARCPATH-\\Tabelle.dat>",
      "<v-><s-http://srv/u/readme><WINPATH-\\readme>",
      "<v-S><s-http://srv/u/a.dll><APPPATH-\\a.dll>",
  }));
  // Kind, action and hidden destination of each row.
  std::vector<std::string> rows;
  for (int row = 1; row <= agent.window.RowCount(); ++row)
    rows.push_back(agent.window.SubItem(row, 0) + "|" + agent.window.SubItem(row, 1) + "|" +
                   agent.window.SubItem(row, 3));
  EXPECT_EQ(rows,
            (std::vector<std::string>{
                "Componente|S|\\system\\Motore.dll",
                "Applicazione|E|C:\\Setup.exe",
                "Componente|S|\\system32\\grid.ocx",
                "Archivio|r|C:\\Users\\Public\\Documents\\Tessaro Software\\OrVento 7\\Tabelle.dat",
                "Accessorio||\\readme",
                "Componente|S|C:\\\\a.dll",
            }));
}

}  // namespace
}  // namespace ovlu::test
