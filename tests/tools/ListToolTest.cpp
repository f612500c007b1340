// ovlu-list as a list author runs it: the built program in a child process,
// with its own data folder under a temporary $PUBLIC. Then the seed lists of
// the fuzz target, replayed through the parser and the checker with the fuzz
// target's checks.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz/ListInvariants.h"
#include "ports/linux/posix/Posix.h"
#include "shell/Globals.h"
#include "tests/support/TestSupport.h"

namespace ovlu {
namespace {

using Lines = std::vector<std::string>;
using Json = nlohmann::json;

Json J(const char* text) { return Json::parse(text); }

Lines LinesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  Lines lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

struct Result {
  Lines out, err;
  int status;
};

class ListToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(data_);
    std::filesystem::copy_file(OVLU_LIST_EXE, dir_ + "/ovlu-list");
  }

  // Runs ovlu-list with the given arguments and a small environment of its own
  // (the paths and arguments here hold no single quote).
  Result Run(const std::vector<std::string>& args) {
    std::string cmd = "env -i 'PUBLIC=" + dir_ + "' 'windir=C:\\Windows' SystemDrive=C:";
    for (const char* keep : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS"})
      if (const char* v = std::getenv(keep)) cmd += std::string(" '") + keep + "=" + v + "'";
    cmd += " '" + dir_ + "/ovlu-list'";
    for (const std::string& a : args) cmd += " '" + a + "'";
    const int status = std::system((cmd + " >'" + dir_ + "/out' 2>'" + dir_ + "/err'").c_str());
    return {LinesOf(dir_ + "/out"), LinesOf(dir_ + "/err"),
            WIFEXITED(status) ? WEXITSTATUS(status) : -1};
  }

  // The program runs from a copy in this folder, whose name has a letter
  // beyond ASCII: the agent's folder and the data folder under $PUBLIC must
  // reach the JSON output as UTF-8, encoded once.
  const support::TempDir dir{"ovlulist\xC3\xA8"};
  const std::string dir_ = dir.Path(), data_ = dir_ + "/Documents/Tessaro Software/OrVento 7";
  // The list of the data folder, spelt otherwise than the agent looks for it.
  const std::string list_ = data_ + "/UPDATES.UPD";
};

// Lists, what each record says, and every warning: its place and the start
// of its text. Each list runs once found by itself in the data folder, and
// once named and with --strict.
TEST_F(ListToolTest, ListsTheirRecordsAndTheirTraps) {
  struct Case {
    const char* name;
    std::string list;
    std::vector<Json> records;  // members of each record's object, in order
    std::vector<std::pair<const char*, const char*>> warnings;  // "line:column", text start
  } cases[] = {
      {"normal forms",
       "<v-S><s-http://srv/upd/Motore.dll><SYSPATH-\\Motore.dll>\r\n"
       "<v-R><s-http://srv/upd/Tabelle.dat><C:\\Dati\\Tabelle.dat>\r\n"
       "<v-E><s-http://one/a/Setup.exe><s-http://two/b/Setup.exe><WOSPATH-\\Setup.exe>\r\n"
       "<v-S><s-http://srv/a.dll><ARCPATH-\\a.dll>\r\n",
       {J(R"({"kind":"Componente","destination":"C:\\Windows\\system\\Motore.dll"})"),
        J(R"({"action":"R","received":"C:\\Dati\\Tabelle.dat.tmp.remove"})"),
        J(R"({"sources":[{"url":"http://one/a/Setup.exe","server":"http://one"},
                         {"url":"http://two/b/Setup.exe","server":"http://two"}],
              "sourceIndex":0,"fileName":"Setup.exe"})"),
        {{"destination", dir_ + "/Documents\\Tessaro Software\\OrVento 7\\a.dll"}}},
       {}},
      {"plain path with a hyphen, placeholder case, unknown placeholder, skipped characters",
       "<v-R><s-http://srv/z.dll><C:\\my-dir\\z.dll>\r\n"
       "<v-S><s-http://srv/a.dll><apppath-\\a.dll>\r\n"
       "<v-R><s-http://srv/y.txt><TMPPATH-\\y.txt>\r\n"
       "<v-R><s-http://srv/b.exe><APPPATH-b.exe>\r\n",
       {J(R"({"destName":"\\z.dll","destFolder":"<C:\\my-d>"})"),
        J(R"({"destFolder":"<apppath>"})"), J(R"({"destination":"<TMPPATH>y.txt"})"),
        J(R"({"destName":".exe"})")},
       {{"1:26", "the path \"C:\\my-dir\\z.dll\" contains a \"-\""},
        {"2:26", "\"apppath\" is not a placeholder"},
        {"3:26", "\"TMPPATH\" is not a known placeholder"},
        {"4:26", "the agent skips the two characters after APPPATH (here \"-b\""}}},
      {"stray \">\" ends the list",
       "<v-S><s-http://srv/a.dll><APPPATH-\\a.dll>\r\n"
       "<v-R> > <s-http://srv/b.exe><APPPATH-\\b.exe>\r\n"
       "\r\n<v-S><s-http://srv/c.dll><APPPATH-\\c.dll>\r\n",
       {J(R"({"index":0})"), J(R"({"index":1,"line":2,"action":"R","sources":[]})")},
       {{"2:7",
         "this \">\" comes before the next \"<\": the agent stops reading the list here; "
         "this record keeps only the tags before it, and 1 later non-empty line is not"},
        {"2", "the record has no source"},
        {"2", "the record has no destination tag"}}},
      {"LF line ends make one record",
       "<v-S><s-http://srv/a.dll><APPPATH-\\a.dll>\n<v-R><s-http://srv/b.dat><ARCPATH-\\b.dat>\n",
       // Everything before the second line's "<v-" is read as actions.
       {J(R"({"action":"R","sources":[{"url":"http://srv/b.dat","server":"http://srv"}]})")},
       {{"1:42", "the line holds 2 line feeds without a carriage return"},
        {"1:6", "the source tag \"<s-http://srv/a.dll>\" comes before a \"<v-\" tag"},
        {"1:26", "the tag \"<APPPATH-\\a.dll>\" comes before a \"<v-\" tag"},
        {"1:43", "another action tag \"<v-R>\""}}},
      {"sources, destinations and actions",
       "<v-X><s-ftp://srv/a.dll><APPPATH-\\a.dll>\r\n"
       "<v-r><s-http://srv><APPPATH-\\A.DLL>\r\n"
       "<v-S><s-http://srv/c.dll>\r\n"
       "<v-S><s-http://srv/d.dll><APPPATH-\\>\r\n"
       "<V-S><s-http://srv/e.dll><APPPATH-\\e.dll>\r\n"
       "   \r\n"
       "<v-S><s-http://srv/f.dll><APPPATH-\\f.dll><C:\\f.dll> <x\r\n",
       {J(R"({"sources":[{"url":"ftp://srv/a.dll","server":"ftp://srv"}]})"),
        {{"received", dir_ + "\\A.DLL.remove"}},
        J(R"({"destination":"","received":".remove"})"),
        J(R"({"destName":""})"),
        J(R"({"action":"","sources":[{"url":"S","server":""},
                                     {"url":"http://srv/e.dll","server":"http://srv"}]})"),
        J(R"({"kind":"Accessorio","destination":""})"),
        J(R"({"destination":"C:\\f.dll"})")},
       {{"1", "the source \"ftp://srv/a.dll\" is not an http or https URL"},
        {"1", "the action \"X\" is not \"R\", \"E\" or \"S\""},
        {"2", "the source \"http://srv\" has no \"/\" after its host"},
        {"2", "the action \"r\" is not"},
        {"2", "the destination \"" /* the agent's folder follows */},
        {"3", "the record has no destination tag"},
        {"4", "the destination gives no file name"},
        {"5:1", "the tag \"<V-S>\" comes before a \"<s-\" tag, so it is read as a source"},
        {"5", "the source \"S\" is not an http or https URL"},
        {"5", "the file is fetched from the first source, but its name \"e.dll\""},
        {"5", "the record has no action"},
        {"6", "the line holds no tag, yet it makes a record"},
        {"7:42", "another destination tag \"<C:\\f.dll>\": it replaces"},
        {"7:53", "the line ends inside the tag \"<x\" (no \">\" follows)"}}},
      {"what the transfer refuses, names that clash, the agent's own files",
       "<v-S><s-><APPPATH-\\a.dll>\r\n"
       "<v-S><s-http://srv:99999/b.dll><C:\\b.dll>\r\n"
       "<v-S><s-http://[::1/c.dll><C:\\c.dll>\r\n"
       "<v-S><s-http://srv/Citt\xC0.dat><C:\\Dati\\CITT\xC0.DAT>\r\n"
       "<v-S><s-http://srv/citt\xE0.dat><c:\\dati\\citt\xE0.dat>\r\n"
       "<v-R><s-http://srv/OVLiveUpdate.exe><APPPATH-\\ovliveupdate.EXE>\r\n"
       "<v-S><s-http://srv/PublisherKey.pem><APPPATH-\\PublisherKey.pem>\r\n"
       "<v-S><s-http://srv/x.manifest><APPPATH-\\OVLiveUpdate.exe.manifest>\r\n"
       "<v-R><s-http://srv/OrVento.exe><APPPATH-\\OrVento.exe>\r\n",
       {J(R"({"sources":[{"url":"","server":""}]})"), J(R"({"index":1})"), J(R"({"index":2})"),
        J(R"({"index":3})"), J(R"({"index":4})"), J(R"({"index":5})"), J(R"({"index":6})"),
        J(R"({"index":7})"), J(R"({"index":8})")},
       {{"1", "the source URL is empty: the download stops at this record"},
        {"2", "the transfer refuses the server part \"http://srv:99999\" (it says "},
        {"3", "the transfer refuses the server part \"http://[::1\" (it says "},
        {"5", "the destination \"c:\\dati\\citt\xC3\xA0.dat\" is also the destination of line 4"},
        {"6",
         "the destination \"ovliveupdate.EXE\" in the agent's own folder is not a file of "
         "the product but the agent's own program"},
        {"7",
         "the destination \"PublisherKey.pem\" in the agent's own folder is not a file of "
         "the product but the key"},
        {"8",
         "the destination \"OVLiveUpdate.exe.manifest\" in the agent's own folder is not "
         "a file of the product but the agent's own manifest"}}},
      {"Windows-1252 names and escapes",
       "<v-S><s-http://srv/Caff\xE8.dll><APPPATH-\\Caff\xE8.dll>\r\n"
       "<v-R><s-http://srv/Perch\xE9\x80.dat><C:\\Citt\xE0\\Perch\xE9\x80.dat>\r\n"
       "<v-S><s-http://srv/\"q\"\\\x01.dll><C:\\a.dll>\r\n",
       {{{"fileName", "Caff\xC3\xA8.dll"}, {"destName", "Caff\xC3\xA8.dll"}},
        {{"destination", "C:\\Citt\xC3\xA0\\Perch\xC3\xA9\xE2\x82\xAC.dat"}},
        {{"sources", {{{"url", "http://srv/\"q\"\\\x01.dll"}, {"server", "http://srv"}}}}}},
       // The transfer puts the quotes and the control character on the wire
       // percent-encoded: no warning.
       {}},
      {"UTF-8 text",
       "<v-S><s-http://srv/a.dll><APPPATH-\\a.dll>\r\n<v-S><s-http://srv/"
       "Caff\xC3\xA8.dll><APPPATH-\\Caff\xC3\xA8.dll>",
       {J(R"({"index":0})"), {{"fileName", "Caff\xC3\x83\xC2\xA8.dll"}}},
       {{"2", "the text looks like UTF-8, but the agent reads the list as Windows-1252"}}},
      {"empty file", "", {}, {{"", "the file is empty: the list has no records"}}},
      {"empty lines", "\r\n\r\r\n", {}, {{"", "every line is empty"}}},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    support::Put(list_, c.list);
    for (bool strict : {false, true}) {
      const Result r = strict ? Run({"--strict", list_}) : Run({});
      EXPECT_EQ(r.status, strict && !c.warnings.empty() ? 1 : 0);
      ASSERT_EQ(r.out.size(), c.records.size()) << testing::PrintToString(r.out);
      for (std::size_t i = 0; i < r.out.size(); ++i) {
        const Json got = Json::parse(r.out[i]);
        EXPECT_EQ(got["index"], i);
        for (const auto& [name, value] : c.records[i].items())
          EXPECT_EQ(got[name], value) << name << " in " << r.out[i];
      }
      ASSERT_EQ(r.err.size(), c.warnings.size()) << testing::PrintToString(r.err);
      for (std::size_t i = 0; i < r.err.size(); ++i) {
        const auto& [place, text] = c.warnings[i];
        const std::string start = list_ + (*place ? ":" : "") + place + ": warning: " + text;
        EXPECT_EQ(r.err[i].rfind(start, 0), 0u) << r.err[i] << "\nexpected: " << start;
      }
    }
  }
}

TEST_F(ListToolTest, ExitStatuses) {
  // Nothing to read (a missing list, a bad command line, no list found)
  // ends with status 2 and a message; the help goes to the output.
  const std::tuple<std::vector<std::string>, int, std::string> runs[] = {
      {{dir_ + "/missing.upd"}, 2, "ovlu-list: the list cannot be read"},
      {{"--bogus", list_}, 2, "ovlu-list: unknown option --bogus"},
      {{list_, list_}, 2, "ovlu-list: one list at a time"},
      {{}, 2, "ovlu-list: no update list in the data folder"},
      {{"--key", "k.pem", list_}, 2, "ovlu-list: --key goes with --probe"},
      {{"--probe", "--key"}, 2, "ovlu-list: --key needs a file"},
      {{"--help"}, 0, "usage: ovlu-list [--strict] [--probe [--key PublisherKey.pem]] [FILE]"},
  };
  for (const auto& [args, status, start] : runs) {
    const Result r = Run(args);
    EXPECT_EQ(r.status, status);
    EXPECT_EQ((status ? r.err : r.out).at(0).rfind(start, 0), 0u) << start;
  }
}

TEST(ListCorpusTest, EveryKeptInputKeepsTheProperties) {
  PosixFileSystem fs;
  PosixSystem sys(0, nullptr);
  SetHost(&fs, &sys);
  G().EnvWindir = "C:\\Windows";
  G().EnvSystemDrive = "C:";
  G().DataFolder = "C:\\Users\\Public\\Documents\\Tessaro Software\\OrVento 7";

  int replayed = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(OVLU_SOURCE_DIR) + "/fuzz/corpus")) {
    const std::string text = support::Slurp(entry.path());
    EXPECT_EQ(listcheck::ListInvariantFailure({text.begin(), text.end()}), "") << entry.path();
    ++replayed;
  }
  EXPECT_GE(replayed, 10);
}

// The fuzz target relies on this check to catch badly escaped output: a raw
// control character, an unknown escape, bad hex, text that is not UTF-8, an
// open string, a stray comma, a second value, a missing colon.
TEST(ListCorpusTest, JsonCheckTellsGoodFromBad) {
  EXPECT_TRUE(listcheck::IsJson("{\"a\":[1,-2.5e3,\"x\\u00e8\\n\"],\"b\":{},\"c\":null}"));
  for (const char* bad :
       {"{\"a\":\"tab\there\"}", "{\"a\":\"x\\q\"}", "{\"a\":\"x\\u00g0\"}", "{\"a\":\"Caff\xE8\"}",
        "{\"a\":\"open}", "{\"a\":1,}", "{\"a\":1} {}", "{\"a\" 1}"})
    EXPECT_FALSE(listcheck::IsJson(bad)) << bad;
}

}  // namespace
}  // namespace ovlu
