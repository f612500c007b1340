// Signed downloads over this platform's transfer control (libcurl on Linux,
// WinINet under Wine) and cryptography (libcrypto, CNG), against the test
// server: the signature is fetched after the file through the same control
// and rules, and a file is kept only when it arrived whole and verifies.
// The same table runs on both platforms.
//
// The test writes its files into the test server's folder (OVLU_TEST_ROOT)
// from the keys and signatures that crypto_vectors.sh made. The request
// time-out is cut from 40 to kTimeout seconds, so that a stalled signature
// ends soon.
#include "InetRig.h"
// (first: it brings the Windows headers)
#include <gtest/gtest.h>

#include "SignedVectors.h"

namespace ovlu::test {
namespace {

TEST(SignedContract, FileKeptOnlyWhenWholeAndSigned) {
  const std::string http = support::ServerValue("OVLU_TEST_HTTP");
  std::string root = support::ServerValue("OVLU_TEST_ROOT");
  ASSERT_FALSE(http.empty() || root.empty()) << "needs the test server and its folder";
#ifdef _WIN32
  root = "Z:" + root;
#endif
  const std::string data = Vector("data.bin");  // 1000003 bytes
  support::Put(root + "/signed/good.bin", data);
  support::Put(root + "/signed/good.bin.sig", Vector("data.a.sig"));
  support::Put(root + "/signed/wrong.bin", data);
  support::Put(root + "/signed/wrong.bin.sig", Vector("data.b.sig"));  // another key
  support::Put(root + "/signed/nosig.bin", data);
  const std::string file = http + "/file/signed/";

  const std::string kept = "100%";
  struct Row {
    const char* name;
    std::string url;
    bool key;
    std::string percent;  // the row's text after the run
    bool fileKept;
    int requests;  // requests that completed (12): the file's and the signature's
    double atLeast = 0, atMost = 2.5;
  } rows[] = {
      {"good signature", file + "good.bin", true, kept, true, 2},
      {"signature by another key", file + "wrong.bin", true, "Firma non valida", false, 2},
      {"no key: no signature is fetched", file + "wrong.bin", false, kept, true, 1},
      {"signature answers 404", file + "nosig.bin", true, "Firma mancante", false, 1},
      // The file and its signature both come through a redirect.
      {"signature redirects", http + "/redirect?to=/file/signed/good.bin", true, kept, true, 2},
      {"signature stalls", file + "good.bin?stall=accept&for=sig", true, "Firma mancante", false, 1,
       kTimeout, kTimeout + 2.5},
      // 973 chunks of 1024 make 99.6 % of the length: "100%" on the bar.
      {"file cut at 99.6 %, no key", file + "good.bin?cut=996000&for=file", false, kept, true, 1},
      {"file cut at 99.6 %", file + "good.bin?cut=996000&for=file", true, "File incompleto", false,
       1},
  };

  ShortInet inet;
  PlatformCrypto crypto;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    AgentRun<> run(inet, r.url);
    SetCrypto(&crypto);
    if (r.key) run.fs.Put(run.sys.appPath + "\\PublisherKey.pem", Vector("a.pem"));
    run.form.Signed().Begin();
    int completed = 0;
    inet.StateChanged = [&](std::int16_t s) {
      completed += s == icResponseCompleted;
      run.form.Inet1_StateChanged(s);
    };
    const double took = run.Run();
    SetCrypto(nullptr);

    // A kept row reads "100%" after its signature's states too: they never
    // write into it ("Server non disponibile." of state 1 in particular).
    EXPECT_EQ(run.window.SubItem(1, 2), r.percent);
    EXPECT_EQ(completed, r.requests);
    const std::string got = run.File();
    if (!r.fileKept) {
      EXPECT_EQ(got, kNoFile);
    } else if (r.percent == kept && r.url.find("cut=") == std::string::npos) {
      EXPECT_TRUE(got == data) << got.size() << " bytes";
    }
    // A kept file that arrived whole clears the flag; anything else sets it.
    const bool whole = r.fileKept && r.url.find("cut=") == std::string::npos;
    EXPECT_EQ(G().CancelRequested, whole ? vbFalse : vbTrue);
    EXPECT_GE(took, r.atLeast);
    EXPECT_LE(took, r.atMost);
    EXPECT_LT(run.longestWait, 0.25);
  }
}

}  // namespace
}  // namespace ovlu::test
