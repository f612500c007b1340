// The rows the update list makes in the window: kind, action and the hidden
// destination the placeholders give. How lines and tags are read, and the
// agent's folder, plain paths and unknown placeholders, are checked through
// ovlu-list and the corpus replay, which models the scan independently.
#include <gtest/gtest.h>

#include "tests/core/Agent.h"

namespace ovlu::test {
namespace {

TEST(UpdateListTest, RowsShowKindActionAndHiddenDestination) {
  Agent agent;
  agent.WriteList({
      "<v-S><s-http://srv/u/Motore.DLL><SYSPATH-\\Motore.dll>",
      "<v-E><s-http://srv/u/Setup.EXE><WOSPATH-\\Setup.exe>",
      "<v-S><s-http://srv/u/grid.ocx><S32PATH-\\grid.ocx>",
      "<v-r><s-http://srv/u/Tabelle.Dat><ARCPATH-\\Tabelle.dat>",
      "<v-><s-http://srv/u/readme><WINPATH-\\readme>",
  });
  ASSERT_TRUE(agent.Start());
  struct Row {
    const char* kind;
    const char* action;
    const char* destination;
  } rows[] = {
      {"Componente", "S", "C:\\Windows\\system\\Motore.dll"},
      {"Applicazione", "E", "C:\\Setup.exe"},
      {"Componente", "S", "C:\\Windows\\system32\\grid.ocx"},
      {"Archivio", "r", "C:\\Users\\Public\\Documents\\Tessaro Software\\OrVento 7\\Tabelle.dat"},
      {"Accessorio", "", "C:\\Windows\\readme"},
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
