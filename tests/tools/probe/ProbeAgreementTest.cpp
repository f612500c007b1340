// "ovlu-list --probe" against the agent itself. For each server behaviour of
// the transfer contract (ServerBehaviours.h) as a list of one record, and for
// lists of several records and signed files, the probe tries the list, then
// the agent downloads the same list from the same server (DownloadAllFiles on
// the headless window and the test machine) and applies it
// (StartAzioneSuFile): the row texts and the rows put in place must be the
// ones the probe predicted. Then the program as a list author runs it: its
// output and its exit statuses.
//
// Needs the test server (CTest's fixture). The request time-out is cut from
// 40 to kTimeout seconds on both sides, so that the stalled servers end soon.
// The signed rows use keys and signatures that crypto_vectors.sh makes with
// the openssl program, written into the server's folder.
#include "tests/contract/ServerBehaviours.h"
// (first: it brings the platform's transfer control)

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
#include "tests/contract/SignedVectors.h"
#include "tests/core/TestHost.h"
#include "tests/support/TestSupport.h"
#include "tools/ovlu-list/Probe.h"

namespace ovlu::test {
namespace {

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
  // As the start of a run does: the key file of the agent's folder, if any.
  form.Signed().Begin();
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
  const std::string http = support::ServerValue("OVLU_TEST_HTTP");
  ASSERT_FALSE(http.empty() || support::ServerValue("OVLU_TEST_HTTPS").empty() ||
               support::ServerValue("OVLU_TEST_HTTPS_UNTRUSTED").empty())
      << "needs the test server with --tls";
  const support::ScopedEnv trust("SSL_CERT_FILE", support::ServerValue("OVLU_TEST_CA"));
  const std::string dead = "http://127.0.0.1:9";  // the discard port: nobody listens
  const std::string whole = http + "/gen/10000";

  // Signed files: one signed by the key, one by another key, one unsigned.
  const std::string root = support::ServerValue("OVLU_TEST_ROOT");
  ASSERT_FALSE(root.empty()) << "needs the test server's folder";
  const std::string data = Vector("data.bin");
  support::Put(root + "/probesigned/good.bin", data);
  support::Put(root + "/probesigned/good.bin.sig", Vector("data.a.sig"));
  support::Put(root + "/probesigned/wrong.bin", data);
  support::Put(root + "/probesigned/wrong.bin.sig", Vector("data.b.sig"));
  support::Put(root + "/probesigned/nosig.bin", data);
  const std::string signedFile = http + "/file/probesigned/";
  const std::string good = signedFile + "good.bin", wrong = signedFile + "wrong.bin";

  struct Row {
    Row(const char* name, std::vector<std::string> urls, std::vector<bool> applied,
        const char* reason, const char* key = "", const char* signature = "")
        : name(name),
          urls(urls),
          applied(applied),
          reason(reason),
          key(key),
          signature(signature) {}
    const char* name;
    std::vector<std::string> urls;
    std::vector<bool> applied;  // what both must find
    const char* reason;         // a piece of the first record's reason
    const char* key;            // the key file's vector; "" for none
    const char* signature;      // the first record's verdict with a key
  };
  // Lists of more than one record, and signed files; after them every server
  // behaviour of the transfer contract as a list of one record.
  std::vector<Row> rows = {
      // The row reads "100%", but the flag stays up unless a later file clears it.
      Row("cut at 99.6 %", {whole + "?cut=9960"}, {false},
          "this row leaves the run's failure flag"),
      Row("cut at 99.6 %, then a whole file", {whole + "?cut=9960", whole}, {true, true},
          "truncated file is applied"),
      // A later whole file clears the failure of an earlier row.
      Row("failure, then a whole file", {http + "/none", whole}, {false, true}, "answers 404"),
      // A failure on the last row leaves the flag up: nothing is applied.
      Row("whole file, then a failure", {whole, http + "/none"}, {false, false}, "failure flag"),
      // A server that does not answer ends the sequence without the flag.
      Row("server down mid-list", {whole, dead + "/gen/10", whole}, {true, false, false},
          "arrived whole"),
      Row("whole file, then a chunked one", {whole, whole + "?chunked=1"}, {true, false}, "whole"),
      Row("record without a source", {"", whole}, {false, false}, "has no source"),
      // With the publisher's key.
      Row("good signature", {good}, {true}, "its signature verifies", "a.pem", "verified"),
      Row("signature by another key", {wrong}, {false}, "does not verify under the key", "a.pem",
          "Firma non valida"),
      Row("signature answers 404", {signedFile + "nosig.bin"}, {false}, "answers 404", "a.pem",
          "Firma mancante"),
      Row("key file of garbage", {good}, {false}, "no usable P-256", "noise.pem",
          "Chiave non valida"),
      // "100%" without a key, refused with one.
      Row("cut at 99.6 %, signed", {good + "?cut=996000&for=file"}, {false}, "cut short", "a.pem",
          "File incompleto"),
      // A refused row is not applied; the rows around it that verify are.
      Row("good, wrong, good", {good, wrong, good}, {true, false, true}, "signature verifies",
          "a.pem", "verified"),
      // The flag left by the last row, which cleared it and raised it again.
      Row("good, no signature, wrong", {good, signedFile + "nosig.bin", wrong},
          {false, false, false}, "row 3 leaves the run's failure flag", "a.pem", "verified"),
      Row("file not found, signed", {http + "/none"}, {false}, "answers 404", "a.pem",
          "not checked: the file did not arrive"),
      // The key file refuses even what the server does not have.
      Row("file not found, key of garbage", {http + "/none"}, {false}, "answers 404", "noise.pem",
          "Chiave non valida"),
  };
  // Applied when the agent reads the body to its end.
  for (const ServerBehaviour& b : ServerBehaviours())
    rows.push_back(Row(b.name, {b.url}, {b.ending == Read}, b.probeSays));

  // One control each, for the whole table, as the agent has one for its life.
  Short<listcheck::ProbeInet> probeInet;
  ShortInet agentInet;
  OpenSslCrypto crypto;
  SetCrypto(&crypto);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    TestFileSystem fs;
    TestSystem sys;
    SetHost(&fs, &sys);
    ResetProcessValues();
    fs.MakeFolder("C:\\Dest");
    fs.Put(sys.appPath + "\\OrVento.exe", "product");
    MakeList(r.urls);
    // The probe's key lies elsewhere; the agent's in its own folder.
    std::string keyPath;
    if (*r.key) {
      keyPath = "C:\\Keys\\publisher.pem";
      fs.MakeFolder("C:\\Keys");
      fs.Put(keyPath, Vector(r.key));
      fs.Put(sys.appPath + "\\PublisherKey.pem", Vector(r.key));
    }

    const std::vector<listcheck::RecordProbe> predicted =
        listcheck::ProbeList(probeInet, fs, sys, keyPath);
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
    EXPECT_EQ(predicted[0].signature, r.signature);
    SetHost(nullptr, nullptr);
  }
  SetCrypto(nullptr);
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

  // Every row applied: 0; with --strict a warning still gives 1; a row not
  // applied outweighs it.
  const std::string good = Line(http + "/gen/100", "a.dll") + Line(http + "/gen/200", "b.dll");
  const std::string clash = Line(http + "/gen/100", "a.dll") + Line(http + "/gen/200", "A.DLL");
  EXPECT_EQ(RunTool(dir, good, {"--probe"}).status, 0);
  EXPECT_EQ(RunTool(dir, clash, {"--probe", "--strict"}).status, 1);
  EXPECT_EQ(RunTool(dir, clash + Line(http + "/none", "c.dll"), {"--strict", "--probe"}).status, 3);
  // Without --probe nothing is fetched.
  const Result still = RunTool(dir, Line(http + "/none", "c.dll"), {});
  EXPECT_EQ(still.status, 0);
  EXPECT_FALSE(still.records.at(0).contains("probe"));
}

TEST(ProbeTool, ChecksSignaturesWithTheGivenKey) {
  const std::string http = support::ServerValue("OVLU_TEST_HTTP"),
                    root = support::ServerValue("OVLU_TEST_ROOT");
  ASSERT_FALSE(http.empty() || root.empty()) << "needs the test server and its folder";
  const support::TempDir dir{"ovluprobekey"};
  const std::string data = Vector("other.bin");
  support::Put(root + "/probetool/good.bin", data);
  support::Put(root + "/probetool/good.bin.sig", Vector("other.a.sig"));
  support::Put(root + "/probetool/wrong.bin", data);
  support::Put(root + "/probetool/wrong.bin.sig", Vector("data.a.sig"));  // of another file
  support::Put(root + "/probetool/nosig.bin", data);
  support::Put(dir / "key.pem", Vector("a.pem"));
  support::Put(dir / "noise.pem", Vector("noise.pem"));
  const std::string files = http + "/file/probetool/";
  const std::string key = dir / "key.pem";

  const Result ok = RunTool(dir, Line(files + "good.bin", "a.dll"), {"--probe", "--key", key});
  EXPECT_EQ(ok.status, 0);
  ASSERT_EQ(ok.records.size(), 1u);
  EXPECT_EQ(ok.records[0]["probe"]["signature"], "verified");
  EXPECT_EQ(ok.records[0]["probe"]["applied"], true);

  // A wrong and a missing signature, then a good one.
  const Result bad =
      RunTool(dir,
              Line(files + "wrong.bin", "a.dll") + Line(files + "nosig.bin", "b.dll") +
                  Line(files + "good.bin", "c.dll"),
              {"--probe", "--key", key});
  EXPECT_EQ(bad.status, 3);
  ASSERT_EQ(bad.records.size(), 3u);
  const char* const verdicts[] = {"Firma non valida", "Firma mancante", "verified"};
  for (std::size_t k = 0; k < 3; ++k) {
    const nlohmann::json& p = bad.records[k]["probe"];
    EXPECT_EQ(p["signature"], verdicts[k]);
    EXPECT_EQ(p["percent"], k == 2 ? "100%" : verdicts[k]);
    EXPECT_EQ(p["applied"], k == 2);
    // The file's own answer, not its signature's.
    EXPECT_EQ(p["status"], 200);
    EXPECT_EQ(p["contentLength"], data.size());
    EXPECT_EQ(p["received"], data.size());
  }
  ASSERT_EQ(bad.err.size(), 3u);
  EXPECT_NE(bad.err[1].find("NOT applied (\"Firma mancante\")"), std::string::npos) << bad.err[1];

  // A key file of garbage refuses everything; a key file that is not there
  // is a mistake on the command line, not a run without a key.
  const Result noise =
      RunTool(dir, Line(files + "good.bin", "a.dll"), {"--probe", "--key", dir / "noise.pem"});
  EXPECT_EQ(noise.status, 3);
  EXPECT_EQ(noise.records.at(0)["probe"]["signature"], "Chiave non valida");
  const Result none =
      RunTool(dir, Line(files + "good.bin", "a.dll"), {"--probe", "--key", dir / "none.pem"});
  EXPECT_EQ(none.status, 2);
  EXPECT_TRUE(none.records.empty());
}

}  // namespace
}  // namespace ovlu::test
