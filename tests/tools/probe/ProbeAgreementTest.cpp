// "ovlu-list --probe" against the agent itself. For each server behaviour of
// the test server, the probe tries a list, then the agent downloads the same
// list from the same server (DownloadAllFiles on the headless window and the
// test machine) and applies it (StartAzioneSuFile): the row texts and the
// rows put in place must be the ones the probe predicted. Then the program
// as a list author runs it: its output and its exit statuses.
//
// Needs the test server (CTest's fixture). The request time-out is cut from
// 40 to kTimeout seconds on both sides, so that the stalled servers end soon.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "ports/headless/HeadlessWindow.h"
#include "shell/Globals.h"
#include "shell/MainForm.h"
#include "shell/Vb.h"
#include "tests/core/TestHost.h"
#include "tests/support/TestSupport.h"
#include "tools/ovlu-list/Probe.h"

namespace ovlu::test {
namespace {

constexpr int kTimeout = 2;

template <class Base>
struct Short : Base {
  void SetRequestTimeout(int seconds) override {
    Base::SetRequestTimeout(seconds == 40 ? kTimeout : seconds);
  }
};

std::string Dest(std::size_t k) { return "C:\\Dest\\f" + std::to_string(k) + ".dat"; }

// The records, one per URL ("" makes a record without a source), each
// going to its own file of C:\Dest with no action.
void MakeList(const std::vector<std::string>& urls) {
  UpdateItemArray& items = G().UpdateItems;
  items.Clear();
  if (urls.empty()) return;
  items.Redim(static_cast<std::int32_t>(urls.size()) - 1);
  for (std::size_t k = 0; k < urls.size(); ++k) {
    UpdateItem& item = items[static_cast<std::int32_t>(k)];
    if (!urls[k].empty()) {
      item.Sources.Redim(0);
      item.Sources[0] = {urls[k], GetServerPart(urls[k])};
    }
    item.FileName = item.DestName = "f" + std::to_string(k) + ".dat";
    item.DestFolder = "C:\\Dest\\";
  }
}

struct AgentOutcome {
  std::vector<std::string> percent;
  std::vector<bool> applied;
};

// The agent's run over the list: the downloads, then the apply step.
AgentOutcome RunAgent(CurlInet& inet, TestFileSystem& fs, std::size_t records) {
  HeadlessWindow window;
  MainForm form(window, inet);
  window.Load(&form);
  // As start-up does: the rows' check marks come from ImageList1.
  window.BindSmallIcons();
  window.onPump = [&] { inet.Poll(); };
  inet.SetPump([&] { window.DoEvents(); });
  form.FillFileList();
  G().CancelRequested = vbFalse;
  form.DownloadAllFiles();
  AgentOutcome out;
  for (std::size_t k = 0; k < records; ++k)
    out.percent.push_back(window.SubItem(static_cast<int>(k) + 1, 2));
  form.StartAzioneSuFile();
  // Applied: the file in place and the row's check mark.
  for (std::size_t k = 0; k < records; ++k)
    out.applied.push_back(fs.Has(Dest(k)) && window.RowSmallIcon(static_cast<int>(k) + 1) == 1);
  inet.SetPump(nullptr);
  inet.StateChanged = nullptr;
  return out;
}

TEST(ProbeAgreement, ThePredictionIsWhatTheAgentDoes) {
  const std::string http = support::ServerValue("OVLU_TEST_HTTP"),
                    https = support::ServerValue("OVLU_TEST_HTTPS"),
                    untrusted = support::ServerValue("OVLU_TEST_HTTPS_UNTRUSTED");
  ASSERT_FALSE(http.empty() || https.empty() || untrusted.empty())
      << "needs the test server with --tls";
  const support::ScopedEnv trust("SSL_CERT_FILE", support::ServerValue("OVLU_TEST_CA"));
  const std::string dead = "http://127.0.0.1:9";  // the discard port: nobody listens
  const std::string whole = http + "/gen/10000";

  struct Row {
    const char* name;
    std::vector<std::string> urls;
    std::vector<bool> applied;  // what both must find
    const char* reason;         // a piece of the first record's reason
  } rows[] = {
      {"whole file", {whole}, {true}, "arrived whole"},
      {"not found", {http + "/none"}, {false}, "answers 404"},
      {"server error", {http + "/gen/10?status=500"}, {false}, "answers 500"},
      {"redirect to the file", {http + "/redirect?to=/gen/10000"}, {true}, "arrived whole"},
      {"redirect loop", {http + "/loop"}, {false}, "redirects end in no file"},
      {"no Content-Length", {whole + "?nolength=1"}, {false}, "has no Content-Length"},
      {"chunked", {whole + "?chunked=1"}, {false}, "sent chunked"},
      {"length not a number", {whole + "?length=abc"}, {false}, "cannot read (abc)"},
      {"empty file", {http + "/gen/0"}, {false}, "the file is empty"},
      {"cut short", {whole + "?cut=3000"}, {false}, "cut short"},
      // The row reads "100%", but the flag stays up unless a later file clears it.
      {"cut at 99.6 %", {whole + "?cut=9960"}, {false}, "this row leaves the run's failure flag"},
      {"cut at 99.6 %, then a whole file",
       {whole + "?cut=9960", whole},
       {true, true},
       "truncated file is applied"},
      {"reset mid-body", {whole + "?reset=3000"}, {false}, "cut short"},
      {"body longer than its length", {whole + "?extra=3"}, {true}, "arrived whole"},
      {"slow but steady", {http + "/gen/4096?rate=1024"}, {true}, "arrived whole"},
      {"stall before the headers", {whole + "?stall=accept"}, {false}, "got no answer"},
      {"stall mid-body", {whole + "?stallafter=3000"}, {false}, "cut short"},
      {"HTTPS, trusted", {https + "/gen/10000"}, {true}, "arrived whole"},
      {"HTTPS, untrusted", {untrusted + "/gen/10000"}, {false}, "server root did not answer"},
      // A later whole file clears the failure of an earlier row.
      {"failure, then a whole file", {http + "/none", whole}, {false, true}, "answers 404"},
      // A failure on the last row leaves the flag up: nothing is applied.
      {"whole file, then a failure", {whole, http + "/none"}, {false, false}, "failure flag"},
      // A server that does not answer ends the sequence without the flag.
      {"server down mid-list",
       {whole, dead + "/gen/10", whole},
       {true, false, false},
       "arrived whole"},
      {"whole file, then a chunked one", {whole, whole + "?chunked=1"}, {true, false}, "whole"},
      {"record without a source", {"", whole}, {false, false}, "has no source"},
  };

  // One control each, for the whole table, as the agent has one for its life.
  Short<listcheck::ProbeInet> probeInet;
  Short<CurlInet> agentInet;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TestFileSystem fs;
    TestSystem sys;
    SetHost(&fs, &sys);
    ResetProcessValues();
    fs.MakeFolder("C:\\Dest");
    fs.Put(sys.appPath + "\\OrVento.exe", "product");
    MakeList(r.urls);

    const std::vector<listcheck::RecordProbe> predicted = listcheck::ProbeList(probeInet, fs, sys);
    ASSERT_EQ(predicted.size(), r.urls.size());
    for (std::size_t k = 0; k < r.urls.size(); ++k)
      EXPECT_FALSE(fs.Has(Dest(k) + ".remove") || fs.Has(Dest(k))) << "the probe wrote " << k;

    const AgentOutcome agent = RunAgent(agentInet, fs, r.urls.size());
    for (std::size_t k = 0; k < r.urls.size(); ++k) {
      SCOPED_TRACE("record " + std::to_string(k));
      EXPECT_EQ(predicted[k].percent, AnsiToUtf8(agent.percent[k]));
      EXPECT_EQ(predicted[k].applied, agent.applied[k]);
      EXPECT_EQ(agent.applied[k], r.applied[k]);
    }
    EXPECT_NE(predicted[0].reason.find(r.reason), std::string::npos) << predicted[0].reason;
    SetHost(nullptr, nullptr);
  }
}

// ------------------------------------------------------------ the program

struct Result {
  std::vector<nlohmann::json> records;
  std::vector<std::string> err;
  int status;
};

Result RunTool(const support::TempDir& dir, const std::string& list,
               const std::vector<std::string>& options) {
  support::Put(dir / "Updates.upd", list);
  std::string cmd = std::string("'") + OVLU_LIST_EXE + "'";
  for (const std::string& o : options) cmd += " '" + o + "'";
  cmd += " '" + (dir / "Updates.upd") + "' >'" + (dir / "out") + "' 2>'" + (dir / "err") + "'";
  const int status = std::system(cmd.c_str());
  Result r{{}, {}, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
  std::istringstream out(support::Slurp(dir / "out")), err(support::Slurp(dir / "err"));
  for (std::string l; std::getline(out, l);) r.records.push_back(nlohmann::json::parse(l));
  for (std::string l; std::getline(err, l);) r.err.push_back(l);
  return r;
}

std::string Line(const std::string& url, const std::string& dest) {
  return "<v-S><s-" + url + "><C:\\Dest\\" + dest + ">\r\n";
}

TEST(ProbeTool, ReportsEveryRowAndEndsWithItsStatus) {
  const std::string http = support::ServerValue("OVLU_TEST_HTTP");
  ASSERT_FALSE(http.empty()) << "needs the test server";
  const support::TempDir dir{"ovluprobe"};

  // A 404, a chunked answer and an empty file between two whole files.
  const Result r = RunTool(dir,
                           Line(http + "/gen/10000", "a.dll") + Line(http + "/none", "b.dll") +
                               Line(http + "/gen/10000?chunked=1", "c.dll") +
                               Line(http + "/gen/0", "d.dll") + Line(http + "/gen/500", "e.dll"),
                           {"--probe"});
  EXPECT_EQ(r.status, 3);
  ASSERT_EQ(r.records.size(), 5u);
  const nlohmann::json& a = r.records[0]["probe"];
  EXPECT_EQ(a["url"], http + "/gen/10000");
  EXPECT_EQ(a["status"], 200);
  EXPECT_EQ(a["contentLength"], 10000);
  EXPECT_EQ(a["received"], 10000);
  EXPECT_TRUE(a["seconds"].is_number());
  EXPECT_EQ(a["percent"], "100%");
  EXPECT_EQ(a["applied"], true);
  EXPECT_FALSE(a.contains("signature"));
  const nlohmann::json& b = r.records[1]["probe"];
  EXPECT_EQ(b["status"], 404);
  EXPECT_EQ(b["contentLength"], nullptr);
  EXPECT_EQ(b["applied"], false);
  EXPECT_EQ(r.records[2]["probe"]["body"], "not read: no Content-Length the agent can use");
  EXPECT_EQ(r.records[3]["probe"]["contentLength"], 0);
  EXPECT_EQ(r.records[4]["probe"]["applied"], true);
  ASSERT_EQ(r.err.size(), 5u);
  EXPECT_EQ(r.err[1].rfind((dir / "Updates.upd") + ":2: row 2: NOT applied (\"0%\"): ", 0), 0u)
      << r.err[1];

  // Every row applied: 0, also with the key (whose signatures are not
  // checked yet); with --strict a warning still gives 1; a row not applied
  // outweighs it.
  const std::string good = Line(http + "/gen/100", "a.dll") + Line(http + "/gen/200", "b.dll");
  const std::string clash = Line(http + "/gen/100", "a.dll") + Line(http + "/gen/200", "A.DLL");
  const Result ok = RunTool(dir, good, {"--probe", "--key", "PublisherKey.pem"});
  EXPECT_EQ(ok.status, 0);
  ASSERT_EQ(ok.records.size(), 2u);
  EXPECT_EQ(ok.records[1]["probe"]["signature"], "not checked: signed files are not supported yet");
  EXPECT_EQ(RunTool(dir, clash, {"--probe", "--strict"}).status, 1);
  EXPECT_EQ(RunTool(dir, clash + Line(http + "/none", "c.dll"), {"--strict", "--probe"}).status, 3);
  // Without --probe nothing is fetched.
  const Result still = RunTool(dir, Line(http + "/none", "c.dll"), {});
  EXPECT_EQ(still.status, 0);
  EXPECT_FALSE(still.records.at(0).contains("probe"));
}

}  // namespace
}  // namespace ovlu::test
