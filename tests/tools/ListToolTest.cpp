// ovlu-list as a list author runs it: the built program in a child process,
// with its own data folder under a temporary $PUBLIC.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Result {
  std::string out;
  std::string err;
  int status = -1;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

class ListToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/ovlu-list-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_EQ(::mkdir((dir_ + "/Documents").c_str(), 0755), 0);
    list_ = dir_ + "/Updates.upd";
    char exe[PATH_MAX];
    ASSERT_NE(::realpath(OVLU_LIST_EXE, exe), nullptr);
    appFolder_ = std::string(exe).substr(0, std::string(exe).rfind('/'));
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  // Runs ovlu-list with the given arguments; ends it after 20 seconds.
  Result Run(std::vector<std::string> args) {
    std::vector<std::string> env = {"PUBLIC=" + dir_, "windir=C:\\Windows", "SystemDrive=C:"};
    for (const char* keep : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS"})
      if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
    args.insert(args.begin(), OVLU_LIST_EXE);
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    for (std::string& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    int out[2], err[2];
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, OVLU_LIST_EXE, &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    ::close(err[1]);
    Result r;
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start " << OVLU_LIST_EXE;
      ::close(out[0]);
      ::close(err[0]);
      return r;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
      if (::poll(fds, 2, 200) <= 0) continue;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char buf[4096];
        const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
        if (n > 0) {
          sinks[i]->append(buf, static_cast<std::size_t>(n));
        } else {
          ::close(fds[i].fd);
          fds[i].fd = -1;
          --open;
        }
      }
    }
    if (open > 0) {
      ADD_FAILURE() << "ovlu-list did not end in time";
      ::kill(pid, SIGKILL);
      for (pollfd& f : fds)
        if (f.fd >= 0) ::close(f.fd);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
  }

  std::string dir_, list_, appFolder_;
};

// Lists, what each record says, and every warning: its place and the start
// of its text. Each list runs once as it is and once with --strict.
TEST_F(ListToolTest, ListsTheirRecordsAndTheirTraps) {
  struct Case {
    const char* name;
    std::string list;
    std::vector<std::string> records;  // a piece of each record's JSON, in order
    std::vector<std::pair<const char*, const char*>> warnings;  // "line:column", text start
  } cases[] = {
      {"normal forms",
       "<v-S><s-http://srv/upd/Motore.dll><SYSPATH-\\Motore.dll>\r\n"
       "<v-R><s-http://srv/upd/Tabelle.dat><C:\\Dati\\Tabelle.dat>\r\n"
       "<v-E><s-http://one/a/Setup.exe><s-http://two/b/Setup.exe><WOSPATH-\\Setup.exe>\r\n",
       {"{\"index\":0,\"line\":1,\"action\":\"S\",\"sources\":[{\"url\":\"http://srv/upd/"
        "Motore.dll\","
        "\"server\":\"http://srv\"}],\"sourceIndex\":0,\"fileName\":\"Motore.dll\",\"destName\":"
        "\"Motore.dll\",\"destFolder\":\"C:\\\\Windows\\\\system\\\\\",\"kind\":\"Componente\","
        "\"destination\":\"C:\\\\Windows\\\\system\\\\Motore.dll\",\"received\":"
        "\"C:\\\\Windows\\\\system\\\\Motore.dll.remove\"}",
        "\"received\":\"C:\\\\Dati\\\\Tabelle.dat.tmp.remove\"}",
        "\"sources\":[{\"url\":\"http://one/a/Setup.exe\",\"server\":\"http://one\"},{\"url\":"
        "\"http://two/b/Setup.exe\",\"server\":\"http://two\"}]"},
       {}},
      {"source before action",
       "<s-http://srv/upd/x.ocx><v-S><WINPATH-\\x.ocx>",
       {"\"action\":\"S\",\"sources\":[],\"sourceIndex\":0,\"fileName\":\"\""},
       {{"1:1", "the source tag \"<s-http://srv/upd/x.ocx>\" comes before a \"<v-\""},
        {"1", "the record has no source"}}},
      {"plain path with a hyphen, placeholder case, unknown placeholder, skipped characters",
       "<v-R><s-http://srv/z.dll><C:\\my-dir\\z.dll>\r\n"
       "<v-S><s-http://srv/a.dll><apppath-\\a.dll>\r\n"
       "<v-R><s-http://srv/y.txt><TMPPATH-\\y.txt>\r\n"
       "<v-R><s-http://srv/b.exe><APPPATH-b.exe>\r\n",
       {"\"destName\":\"\\\\z.dll\",\"destFolder\":\"<C:\\\\my-d>\"",
        "\"destFolder\":\"<apppath>\"", "\"destination\":\"<TMPPATH>y.txt\"",
        "\"destName\":\".exe\""},
       {{"1:26", "the path \"C:\\my-dir\\z.dll\" contains a \"-\""},
        {"2:26", "\"apppath\" is not a placeholder"},
        {"3:26", "\"TMPPATH\" is not a known placeholder"},
        {"4:26", "the agent skips the two characters after APPPATH (here \"-b\""}}},
      {"stray \">\" ends the list",
       "<v-S><s-http://srv/a.dll><APPPATH-\\a.dll>\r\n"
       "<v-R> > <s-http://srv/b.exe><APPPATH-\\b.exe>\r\n"
       "\r\n<v-S><s-http://srv/c.dll><APPPATH-\\c.dll>\r\n",
       {"\"index\":0", "\"index\":1,\"line\":2,\"action\":\"R\",\"sources\":[]"},
       {{"2:7",
         "this \">\" comes before the next \"<\": the agent stops reading the list here; "
         "this record keeps only the tags before it, and 1 later non-empty line is not"},
        {"2", "the record has no source"},
        {"2", "the record has no destination tag"}}},
      {"LF line ends make one record",
       "<v-S><s-http://srv/a.dll><APPPATH-\\a.dll>\n<v-R><s-http://srv/b.dat><ARCPATH-\\b.dat>\n",
       // Everything before the second line's "<v-" is read as actions.
       {"\"action\":\"R\",\"sources\":[{\"url\":\"http://srv/b.dat\",\"server\""},
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
       "   \r\n",
       {"\"server\":\"ftp://srv\"", "\"received\":\"" + appFolder_ + "\\\\A.DLL.remove\"",
        "\"destination\":\"\",\"received\":\".remove\"", "\"destName\":\"\"",
        "\"action\":\"\",\"sources\":[{\"url\":\"S\",\"server\":\"\"},",
        "\"kind\":\"Accessorio\",\"destination\":\"\""},
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
        {"6", "the line holds no tag, yet it makes a record"}}},
      {"machine folders",
       "<v-R><s-http://srv/b.dat><ARCPATH-\\b.dat>\r\n<v-E><s-http://s/c.exe><APPPATH-\\c.exe>",
       {"\"destination\":\"" + dir_ + "/Documents\\\\Tessaro Software\\\\OrVento 7\\\\b.dat\"",
        "\"kind\":\"Applicazione\",\"destination\":\"" + appFolder_ + "\\\\c.exe\""},
       {}},
      {"Windows-1252 names and JSON escapes",
       "<v-S><s-http://srv/Caff\xE8.dll><APPPATH-\\Caff\xE8.dll>\r\n"
       "<v-R><s-http://srv/Perch\xE9\x80.dat><C:\\Citt\xE0\\Perch\xE9\x80.dat>\r\n"
       "<v-S><s-http://srv/\"q\"\\\x01.dll><C:\\a.dll>\r\n",
       {"\"fileName\":\"Caff\xC3\xA8.dll\",\"destName\":\"Caff\xC3\xA8.dll\"",
        "\"destination\":\"C:\\\\Citt\xC3\xA0\\\\Perch\xC3\xA9\xE2\x82\xAC.dat\"",
        "\"url\":\"http://srv/\\\"q\\\"\\\\\\u0001.dll\""},
       {}},
      {"UTF-8 text",
       "<v-S><s-http://srv/a.dll><APPPATH-\\a.dll>\r\n<v-S><s-http://srv/"
       "Caff\xC3\xA8.dll><APPPATH-\\Caff\xC3\xA8.dll>",
       {"\"index\":0", "\"fileName\":\"Caff\xC3\x83\xC2\xA8.dll\""},
       {{"2", "the text looks like UTF-8, but the agent reads the list as Windows-1252"}}},
      {"empty file", "", {}, {{"", "the file is empty: the list has no records"}}},
      {"empty lines", "\r\n\r\r\n", {}, {{"", "every line is empty"}}},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Write(list_, c.list);
    for (bool strict : {false, true}) {
      const Result r = strict ? Run({"--strict", list_}) : Run({list_});
      EXPECT_EQ(r.status, strict && !c.warnings.empty() ? 1 : 0) << r.err;

      const std::vector<std::string> records = Lines(r.out);
      ASSERT_EQ(records.size(), c.records.size()) << r.out;
      for (std::size_t i = 0; i < records.size(); ++i)
        EXPECT_NE(records[i].find(c.records[i]), std::string::npos)
            << "record " << i << ": " << records[i];

      const std::vector<std::string> warnings = Lines(r.err);
      ASSERT_EQ(warnings.size(), c.warnings.size()) << r.err;
      for (std::size_t i = 0; i < warnings.size(); ++i) {
        const std::string place =
            *c.warnings[i].first ? std::string(":") + c.warnings[i].first : "";
        const std::string start = list_ + place + ": warning: " + c.warnings[i].second;
        EXPECT_EQ(warnings[i].rfind(start, 0), 0u) << warnings[i] << "\nexpected: " << start;
      }
    }
  }
}

TEST_F(ListToolTest, ExitStatusesAndTheAgentsOwnList) {
  // Nothing to read: a missing list, a folder, a bad command line.
  for (const std::vector<std::string>& args : {std::vector<std::string>{dir_ + "/missing.upd"},
                                               {dir_},
                                               {"--bogus", list_},
                                               {list_, list_},
                                               {}}) {
    const Result r = Run(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("ovlu-list: ", 0), 0u) << r.err;
  }
  EXPECT_NE(Run({dir_ + "/missing.upd"}).err.find("cannot be read"), std::string::npos);
  EXPECT_NE(Run({}).err.find("no update list in the data folder"), std::string::npos);

  const Result help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: ovlu-list [--strict] [FILE]", 0), 0u);
  EXPECT_NE(help.out.find("<v-ACTION><s-URL>"), std::string::npos);

  // Without FILE the list of the data folder is read, its name matched
  // without regard to case, as the agent finds it.
  const std::string data = dir_ + "/Documents/Tessaro Software/OrVento 7";
  ASSERT_EQ(std::system(("mkdir -p '" + data + "'").c_str()), 0);
  Write(data + "/UPDATES.UPD", "<v-S><s-http://srv/a.dll><ARCPATH-\\a.dll>\r\n");
  const Result own = Run({"--strict"});
  EXPECT_EQ(own.status, 0) << own.err;
  EXPECT_EQ(own.err, "");
  EXPECT_NE(own.out.find("\"destination\":\"" + dir_ +
                         "/Documents\\\\Tessaro Software\\\\OrVento 7\\\\a.dll\""),
            std::string::npos)
      << own.out;
}

}  // namespace
