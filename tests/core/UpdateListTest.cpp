// The update list: line ends, tags, destinations and the rows they make.
#include <gtest/gtest.h>

#include "catalogue/UpdateList.h"
#include "tests/core/Agent.h"

namespace ovlu::test {
namespace {

std::vector<unsigned char> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// A record in one line: action | sources (url@server, ...) | file | name | folder.
std::string Describe(const UpdateItem& r) {
  std::string s = r.Action + " | ";
  for (std::size_t i = 0; i < r.Sources.size(); ++i)
    s += (i ? ", " : "") + r.Sources[static_cast<std::int32_t>(i)].Url + "@" +
         r.Sources[static_cast<std::int32_t>(i)].Server;
  return s + " | " + r.FileName + " | " + r.DestName + " | " + r.DestFolder;
}

std::vector<std::string> Parse(const std::string& text) {
  UpdateItemArray items;
  ParseUpdateList(Bytes(text), items);
  std::vector<std::string> out;
  if (!items.Sized()) return out;
  for (std::int32_t i = 0; i <= items.UBound(); ++i) out.push_back(Describe(items[i]));
  return out;
}

class UpdateListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    G().EnvWindir = "C:\\Windows";
    G().EnvSystemDrive = "C:";
    G().DataFolder = "C:\\Users\\Public\\Documents\\Tessaro Software\\OrVento 7";
  }
  Agent agent;
};

TEST_F(UpdateListTest, TagsOfOneLine) {
  struct Case {
    const char* line;
    const char* record;
  } cases[] = {
      {"<v-S><s-http://srv/upd/Motore.dll><SYSPATH-\\Motore.dll>",
       "S | http://srv/upd/Motore.dll@http://srv | Motore.dll | Motore.dll | "
       "C:\\Windows\\system\\"},
      {"<v-E><s-http://one/a/Setup.exe><s-http://two/b/Setup2.exe><APPPATH-\\Setup.exe>",
       "E | http://one/a/Setup.exe@http://one, http://two/b/Setup2.exe@http://two | Setup2.exe | "
       "Setup.exe | C:\\Programmi\\OrVento 7\\"},
      // A source before the "<v-" is taken as an action tag.
      {"<s-http://srv/upd/x.ocx><v-S><WINPATH-\\x.ocx>", "S |  |  | x.ocx | C:\\Windows\\"},
      {"<v-R><s-http://srv/upd/z.dll><C:\\my-dir\\z.dll>",
       "R | http://srv/upd/z.dll@http://srv | z.dll | \\z.dll | <C:\\my-d>"},
      {"<v-R><s-http://srv/upd/w.exe><w.exe>",
       "R | http://srv/upd/w.exe@http://srv | w.exe | w.exe | "},
      {"<v-R><s-http://srv>", "R | http://srv@ | srv |  | "},
      // Upper-case marks make neither a source nor an action.
      {"<V-S><S-http://srv/a.dll>", " |  |  | srv/a.dll | <S-http:>"},
      {"text without tags", " |  |  |  | "},
      {"<v-S><s-http://srv/a.dll><APPPATH-\\a.dll",
       "S | http://srv/a.dll@http://srv | a.dll |  | "},
      {"<v-><s-><APPPATH-\\>", " | @ |  |  | C:\\Programmi\\OrVento 7\\"},
      {"<v-S><s-http://srv/Caff\xE8.dll><APPPATH-\\Caff\xE8.dll>",
       "S | http://srv/Caff\xE8.dll@http://srv | Caff\xE8.dll | Caff\xE8.dll | "
       "C:\\Programmi\\OrVento 7\\"},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> got = Parse(std::string(c.line) + "\r\n");
    ASSERT_EQ(got.size(), 1u) << c.line;
    EXPECT_EQ(got[0], c.record) << c.line;
  }
}

TEST_F(UpdateListTest, LinesOfTheFile) {
  const std::string a = "<v-S><s-http://srv/a.dll><APPPATH-\\a.dll>";
  const std::string b = "<v-R><s-http://srv/b.dat><APPPATH-\\b.dat>";
  struct Case {
    std::string text;
    std::vector<std::string> records;  // action:name of each
    bool sized;
  } cases[] = {
      {"", {}, false},
      {"\r\n\r\n\r\n", {}, false},
      {a + "\r\n" + b + "\r\n", {"S:a.dll", "R:b.dat"}, true},
      {a + "\r\n" + b, {"S:a.dll", "R:b.dat"}, true},
      {a + "\r" + b + "\r", {"S:a.dll", "R:b.dat"}, true},
      {a + "\r\n\r\n\r" + b, {"S:a.dll", "R:b.dat"}, true},
      // A LF alone stays in the line: one record, the later tags win.
      {a + "\n" + b + "\n", {"R:b.dat"}, true},
      {"\r\n   \r\n" + a, {":", "S:a.dll"}, true},
      // A ">" before the next "<" ends the reading of the file; its record
      // keeps only its action.
      {a + "\r\n<v-R> > <s-http://srv/c.exe><APPPATH-\\c.exe>\r\n" + b + "\r\n",
       {"S:a.dll", "R:"},
       true},
  };
  for (const Case& c : cases) {
    UpdateItemArray items;
    ParseUpdateList(Bytes(c.text), items);
    EXPECT_EQ(items.Sized(), c.sized) << c.text;
    std::vector<std::string> records;
    for (std::size_t i = 0; i < items.size(); ++i) {
      const UpdateItem& r = items[static_cast<std::int32_t>(i)];
      records.push_back(r.Action + ":" + r.DestName);
    }
    EXPECT_EQ(records, c.records) << c.text;
  }
}

TEST_F(UpdateListTest, PathPlaceholders) {
  struct Case {
    const char* tag;
    const char* folder;
  } cases[] = {
      {"APPPATH-\\Setup.exe", "C:\\Programmi\\OrVento 7\\"},
      {"APPPATHxxSetup.exe", "C:\\Programmi\\OrVento 7\\"},
      {"SYSPATH-\\a", "C:\\Windows\\system\\"},
      {"S32PATH-\\a", "C:\\Windows\\system32\\"},
      {"WINPATH-\\a", "C:\\Windows\\"},
      {"WOSPATH-\\a", "C:\\"},
      {"ARCPATH-\\a", "C:\\Users\\Public\\Documents\\Tessaro Software\\OrVento 7\\"},
      {"apppath-\\a", "<apppath>"},
      {"ab-cd", "<ab-cd>"},
  };
  for (const Case& c : cases) EXPECT_EQ(ConvertPathTag(c.tag), c.folder) << c.tag;

  G().EnvWindir.clear();
  EXPECT_EQ(ConvertPathTag("WINPATH-\\a"), "\\");
  EXPECT_EQ(ConvertPathTag("SYSPATH-\\a"), "\\system\\");
  agent.sys.appPath = "C:\\";
  EXPECT_EQ(ConvertPathTag("APPPATH-\\a"), "C:\\\\");
}

TEST_F(UpdateListTest, RowsShowKindActionAndHiddenDestination) {
  agent.WriteList({
      "<v-S><s-http://srv/u/Motore.DLL><SYSPATH-\\Motore.dll>",
      "<v-E><s-http://srv/u/Setup.EXE><APPPATH-\\Setup.exe>",
      "<v-S><s-http://srv/u/grid.ocx><C:\\Comp\\grid.ocx>",
      "<v-r><s-http://srv/u/Tabelle.Dat><ARCPATH-\\Tabelle.dat>",
      "<v-><s-http://srv/u/readme><WINPATH-\\readme>",
      "<v-R><TMPPATH-\\y.txt>",
      "<v-R><s-http://srv/u/x.dat>",
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
  };
  HeadlessWindow& w = agent.window;
  ASSERT_EQ(w.RowCount(), 7);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(w.SubItem(i + 1, 0), rows[i].kind) << "row " << i + 1;
    EXPECT_EQ(w.SubItem(i + 1, 1), rows[i].action) << "row " << i + 1;
    EXPECT_EQ(w.SubItem(i + 1, 3), rows[i].destination) << "row " << i + 1;
  }
}

}  // namespace
}  // namespace ovlu::test
