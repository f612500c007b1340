// The update run end to end through the headless window: the libcurl
// transfer against the project's test server and nginx on loopback, the
// POSIX file layer on real folders, and the apply step putting files in
// place.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "Machine.h"
#include "TestServer.h"

namespace ovlu::e2e {
namespace {

using test::NginxServer;
using test::TestServer;

const char* const kDone = "Aggiornamento completato.";
const char* const kBroken = "Aggiornamento interrotto. Riprovare.";

// One served file and the list line that fetches it.
struct Served {
  std::string name;
  std::string content;
};

std::string Line(const std::string& action, const std::string& url, const std::string& dest) {
  return "<v-" + action + "><s-" + url + "><" + dest + ">";
}

class RunTest : public ::testing::Test {
 protected:
  void Publish(const Served& f) {
    std::filesystem::create_directories(m.Www() + "/file");
    Put(m.Www() + "/file/" + f.name, f.content);
  }
  // The plain destination path of a file in the machine's Dati folder.
  std::string Dati(const std::string& name) {
    std::filesystem::create_directories(m.Root() + "/Dati");
    return m.Root() + "/Dati\\" + name;
  }
  std::string DatiFile(const std::string& name) { return m.Root() + "/Dati/" + name; }

  // Starts the agent and runs an update, answering the question with answer.
  void Run(Agent& a, int answer = vbYes) {
    a.window.answers = {answer};
    a.window.Click(Control::cmdGET);
  }

  Machine m;
};

// ---------------------------------------------------------------- success

class AllArriveTest : public RunTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AllArriveTest, FilesInPlaceWithOneGenerationOfOldCopies) {
  const Served exe{"OrVento.exe", Pattern(300000, 1)};
  const Served ocx{"Motore.ocx", Pattern(5000, 2)};
  const Served dat{"Tabelle.dat", Pattern(70001, 3)};
  for (const auto& f : {exe, ocx, dat}) Publish(f);
  Put(DatiFile("Tabelle.dat"), "tabelle di ieri");
  Put(DatiFile("Tabelle.dat.old"), "tabelle dell'altro ieri");

  std::unique_ptr<TestServer> ts;
  std::unique_ptr<NginxServer> ng;
  auto url = [&](const std::string& name) {
    return ts ? ts->Url("/file/" + name) : ng->Url("/file/" + name);
  };
  if (GetParam())
    ng = std::make_unique<NginxServer>(m.Www());
  else
    ts = std::make_unique<TestServer>(m.Www() + "/file");

  m.WriteList({Line("R", url(exe.name), "APPPATH-\\OrVento.exe"),
               Line("S", url(ocx.name), "S32PATH-\\Motore.ocx"),
               Line("", url(dat.name), Dati("Tabelle.dat"))});
  Agent a(m);
  ASSERT_TRUE(a.window.Enabled(Control::cmdGET));
  Run(a);

  const std::string product = m.ProductFolder();
  EXPECT_EQ(Slurp(product + "/OrVento.exe"), exe.content);
  EXPECT_EQ(Slurp(product + "/OrVento.exe.old"), "OrVento 7.0\n");
  EXPECT_FALSE(Exists(product + "/OrVento.exe.tmp"));
  EXPECT_FALSE(Exists(product + "/OrVento.exe.tmp.remove"));

  EXPECT_EQ(Slurp(m.WindowsFolder() + "/system32/Motore.ocx"), ocx.content);
  EXPECT_FALSE(Exists(m.WindowsFolder() + "/system32/Motore.ocx.old"));
  EXPECT_FALSE(Exists(m.WindowsFolder() + "/system32/Motore.ocx.remove"));

  EXPECT_EQ(Slurp(DatiFile("Tabelle.dat")), dat.content);
  EXPECT_EQ(Slurp(DatiFile("Tabelle.dat.old")), "tabelle di ieri");

  // The registration is started without waiting; the path is not quoted,
  // so the blank in the Windows folder splits it.
  ASSERT_TRUE(WaitForFile(m.Root() + "/regsvr32.log", 5000));
  const auto regs = m.Registrations();
  ASSERT_EQ(regs.size(), 1u);
  EXPECT_EQ(regs[0], "[/s][" + m.Root() + "/Win][dows\\system32\\Motore.ocx]");

  EXPECT_EQ(a.window.Caption(Control::LabelST), kDone);
  EXPECT_EQ(a.window.Caption(Control::LblMesg), kDone);
  EXPECT_EQ(a.window.Caption(Control::CmdChiudi), "&Chiudi");
  EXPECT_FALSE(a.window.Enabled(Control::cmdGET));
  EXPECT_FALSE(m.ListExists());
  for (int row = 1; row <= 3; ++row) {
    EXPECT_EQ(a.window.SubItem(row, 2), "100%") << row;
    EXPECT_EQ(a.window.RowSmallIcon(row), 1) << row;
  }
  EXPECT_EQ(a.window.pointer(), vbDefault);
}

INSTANTIATE_TEST_SUITE_P(Servers, AllArriveTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "nginx" : "testserver"; });

TEST_F(RunTest, LaunchedProgramEndsTheRunOutOfSightAndTheListGoes) {
  const std::string log = m.Root() + "/avvia.log";
  Publish({"Leggimi.txt", "Novit\xe0\r\n"});
  Publish({"Avvia.sh", "#!/bin/sh\necho \"ran in $(pwd)\" > '" + log + "'\n"});
  TestServer ts(m.Www() + "/file");
  m.WriteList({Line("", ts.Url("/file/Leggimi.txt"), "APPPATH-\\Leggimi.txt"),
               Line("E", ts.Url("/file/Avvia.sh"), "APPPATH-\\Avvia.sh")});
  Agent a(m);
  a.window.answers = {vbYes};
  try {
    a.window.Click(Control::cmdGET);
    ADD_FAILURE() << "the run did not end the process";
  } catch (const ProcessEnded& e) {
    EXPECT_EQ(e.code, 0);
  }
  EXPECT_FALSE(a.window.Loaded());
  EXPECT_FALSE(m.ListExists());
  EXPECT_EQ(Slurp(m.ProductFolder() + "/Leggimi.txt"), "Novit\xe0\r\n");
  ASSERT_TRUE(WaitForFile(log, 5000));
  // Started by its bare name in the current directory.
  EXPECT_EQ(Slurp(log), "ran in " + m.ProductFolder() + "\n");
}

// ---------------------------------------------------------------- failures

struct FailureCase {
  const char* name;
  const char* query;
};

class OneFailsTest : public RunTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(OneFailsTest, OthersAppliedListKeptAndASecondRunRepeatsEverything) {
  const Served a1{"a.dat", Pattern(20000, 4)}, b1{"b.dat", Pattern(9000, 5)},
      c1{"c.dat", Pattern(3000, 6)};
  for (const auto& f : {a1, b1, c1}) Publish(f);
  Put(DatiFile("b.dat"), "b in place");
  TestServer ts(m.Www() + "/file");
  const std::string bad = std::string("/file/b.dat") + GetParam().query;
  m.WriteList({Line("", ts.Url("/file/a.dat"), Dati("a.dat")),
               Line("", ts.Url(bad), Dati("b.dat")),
               Line("R", ts.Url("/file/c.dat"), Dati("c.dat"))});

  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    Agent a(m);
    ASSERT_TRUE(a.window.Enabled(Control::cmdGET));
    Run(a);
    EXPECT_EQ(Slurp(DatiFile("a.dat")), a1.content);
    EXPECT_EQ(Slurp(DatiFile("c.dat")), c1.content);
    EXPECT_EQ(Slurp(DatiFile("b.dat")), "b in place");
    EXPECT_FALSE(Exists(DatiFile("b.dat.old")));
    EXPECT_NE(a.window.SubItem(2, 2), "100%");
    EXPECT_EQ(a.window.RowSmallIcon(2), 0);
    EXPECT_EQ(a.window.RowSmallIcon(3), 1);
    EXPECT_EQ(a.window.Caption(Control::LabelST), kBroken);
    EXPECT_EQ(a.window.Caption(Control::LblMesg), kBroken);
    EXPECT_TRUE(a.window.Enabled(Control::cmdGET));
    EXPECT_TRUE(m.ListExists());
  }
  // The second run replaced the first run's files and kept them as ".old".
  EXPECT_EQ(Slurp(DatiFile("a.dat.old")), a1.content);
  int gets = 0;
  for (const auto& r : ts.Requests()) gets += r == "GET " + bad;
  EXPECT_EQ(gets, 2);
}

INSTANTIATE_TEST_SUITE_P(Failures, OneFailsTest,
                         ::testing::Values(FailureCase{"NotFound", "?status=404"},
                                           FailureCase{"ServerError", "?status=500"},
                                           FailureCase{"CutConnection", "?cut=4000"},
                                           FailureCase{"NoContentLength", "?chunked=1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunTest, ReadOnlyOldCopyStopsTheStepBeforeTheNewFileMovesIn) {
  Publish({"x.dat", "new x"});
  Put(DatiFile("x.dat"), "x in place");
  Put(DatiFile("x.dat.old"), "older x");
  chmod(DatiFile("x.dat.old").c_str(), 0444);
  TestServer ts(m.Www() + "/file");
  m.WriteList({Line("", ts.Url("/file/x.dat"), Dati("x.dat"))});
  Agent a(m);
  Run(a);
  EXPECT_EQ(Slurp(DatiFile("x.dat")), "x in place");
  EXPECT_EQ(Slurp(DatiFile("x.dat.old")), "older x");
  EXPECT_EQ(Slurp(DatiFile("x.dat.remove")), "new x");
  EXPECT_EQ(a.window.RowSmallIcon(1), 0);
  EXPECT_EQ(a.window.Caption(Control::LblMesg), kBroken);
  EXPECT_TRUE(m.ListExists());
}

TEST_F(RunTest, MissingProductProgramComesBackFromItsOldCopy) {
  std::filesystem::remove(m.ProductFolder() + "/OrVento.exe");
  Put(m.ProductFolder() + "/OrVento.exe.old", "OrVento 6.9\n");
  Publish({"y.dat", "y"});
  TestServer ts(m.Www() + "/file");
  m.WriteList({Line("", ts.Url("/file/y.dat"), Dati("y.dat"))});
  Agent a(m);
  Run(a);
  EXPECT_EQ(Slurp(m.ProductFolder() + "/OrVento.exe"), "OrVento 6.9\n");
  EXPECT_EQ(a.window.Caption(Control::LblMesg), kDone);
}

// ---------------------------------------------------------------- the user

TEST_F(RunTest, NoToTheQuestionStartsNothing) {
  Publish({"y.dat", "y"});
  TestServer ts(m.Www() + "/file");
  m.WriteList({Line("", ts.Url("/file/y.dat"), Dati("y.dat"))});
  Agent a(m);
  Run(a, vbNo);
  ASSERT_EQ(a.window.boxes.size(), 1u);
  EXPECT_EQ(a.window.boxes[0].flags, 68);
  EXPECT_TRUE(ts.Requests().empty());
  EXPECT_FALSE(Exists(DatiFile("y.dat.remove")));
  EXPECT_TRUE(a.window.Enabled(Control::cmdGET));
  EXPECT_EQ(a.window.Caption(Control::CmdChiudi), "&Chiudi");
  EXPECT_TRUE(m.ListExists());
}

TEST_F(RunTest, CloseWhileIdleEndsWithoutAQuestion) {
  m.WriteList({"<v-><s-http://127.0.0.1:9/file/y.dat><y.dat>"});
  Agent a(m);
  EXPECT_THROW(a.window.Click(Control::CmdChiudi), ProcessEnded);
  EXPECT_TRUE(a.window.boxes.empty());
  EXPECT_FALSE(a.window.Loaded());
  EXPECT_TRUE(m.ListExists());
}

TEST_F(RunTest, CloseDuringARunAnsweredNoLetsTheRunFinish) {
  Publish({"slow.dat", Pattern(40000, 7)});
  TestServer ts(m.Www() + "/file");
  m.WriteList({Line("", ts.Url("/file/slow.dat?rate=40000"), Dati("slow.dat"))});
  Agent a(m);
  bool clicked = false;
  a.window.onIdle = [&] {
    if (!clicked && a.window.ProgressValue() >= 2048) {
      clicked = true;
      a.window.Click(Control::CmdChiudi);
    }
  };
  a.window.answers = {vbYes, vbNo};
  a.window.Click(Control::cmdGET);
  ASSERT_TRUE(clicked);
  ASSERT_EQ(a.window.boxes.size(), 2u);
  EXPECT_EQ(a.window.boxes[1].text, "Interrompre l'aggiornamento?");
  EXPECT_EQ(Slurp(DatiFile("slow.dat")), Pattern(40000, 7));
  EXPECT_EQ(a.window.Caption(Control::LblMesg), kDone);
}

TEST_F(RunTest, CloseDuringARunAnsweredYesEndsTheProcessAndKeepsTheList) {
  const std::string body = Pattern(60000, 8);
  Publish({"slow.dat", body});
  Put(DatiFile("slow.dat"), "slow in place");
  TestServer ts(m.Www() + "/file");
  m.WriteList({Line("", ts.Url("/file/slow.dat?rate=30000"), Dati("slow.dat"))});

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    m.sys.realExit = true;
    Agent a(m);
    bool clicked = false;
    a.window.onIdle = [&] {
      if (!clicked && a.window.ProgressValue() >= 4096) {
        clicked = true;
        a.window.Click(Control::CmdChiudi);
      }
    };
    a.window.answers = {vbYes, vbYes};
    a.window.Click(Control::cmdGET);
    _exit(3);  // the run came back: the answer did not end the process
  }
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      FAIL() << "the agent did not end";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(m.ListExists());
  EXPECT_EQ(Slurp(DatiFile("slow.dat")), "slow in place");
  const std::string partial = Slurp(DatiFile("slow.dat.remove"));
  EXPECT_GE(partial.size(), 4096u);
  EXPECT_LT(partial.size(), body.size());
  EXPECT_EQ(partial, body.substr(0, partial.size()));
}

}  // namespace
}  // namespace ovlu::e2e
