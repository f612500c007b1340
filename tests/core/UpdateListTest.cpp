// The rows the update list makes in the window: kind, action and the hidden
// destination of each placeholder, plain path and unknown folder. How lines
// and tags are read is checked through ovlu-list and the corpus replay,
// which model the scan independently.
#include <gtest/gtest.h>

#include "tests/core/Agent.h"

namespace ovlu::test {
namespace {

TEST(UpdateListTest, RowsShowKindActionAndHiddenDestination) {
  Agent agent;
  agent.WriteList({
      "<v-S><s-http://srv/u/Motore.DLL><SYSPATH-\\Motore.dll>",
      "<v-E><s-http://srv/u/Setup.EXE><APPPATH-\\Setup.exe>",
      "<v-S><s-http://srv/u/grid.ocx><C:\\Comp\\grid.ocx>",
      "<v-r><s-http://srv/u/Tabelle.Dat><ARCPATH-\\Tabelle.dat>",
      "<v-><s-http://srv/u/readme><WINPATH-\\readme>",
      "<v-R><TMPPATH-\\y.txt>",
      "<v-R><s-http://srv/u/x.dat>",
      "<v-S><s-http://srv/u/x.ocx><S32PATH-\\x.ocx>",
      "<v-E><s-http://srv/u/w.exe><w.exe>",
      "<v-S><s-http://srv/u/z.dll><WOSPATH-\\z.dll>",
  });
  ASSERT_TRUE(agent.Start());
  struct Row {
    const char* kind;
    const char* action;
    const char* destination;
  } rows[] = {
      {"Componente", "S", "C:\\Windows\\system\\Motore.dll"},
      {"Applicazione", "E", "C:\\Programmi\\OrVento 7\\Setup.exe"},
      {"Componente", "S", "C:\\Comp\\grid.ocx"},
      {"Archivio", "r", "C:\\Users\\Public\\Documents\\Tessaro Software\\OrVento 7\\Tabelle.dat"},
      {"Accessorio", "", "C:\\Windows\\readme"},
      {"Accessorio", "R", "<TMPPATH>y.txt"},
      {"Archivio", "R", ""},
      {"Componente", "S", "C:\\Windows\\system32\\x.ocx"},
      {"Applicazione", "E", "w.exe"},
      {"Componente", "S", "C:\\z.dll"},
  };
  HeadlessWindow& w = agent.window;
  ASSERT_EQ(w.RowCount(), static_cast<int>(std::size(rows)));
  for (int i = 0; i < w.RowCount(); ++i) {
    EXPECT_EQ(w.SubItem(i + 1, 0), rows[i].kind) << "row " << i + 1;
    EXPECT_EQ(w.SubItem(i + 1, 1), rows[i].action) << "row " << i + 1;
    EXPECT_EQ(w.SubItem(i + 1, 3), rows[i].destination) << "row " << i + 1;
  }
}

}  // namespace
}  // namespace ovlu::test
