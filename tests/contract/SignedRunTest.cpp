// Update runs with and without the publisher's key beside the agent, over a
// scripted transfer and this platform's real cryptography (libcrypto on
// Linux, CNG under Wine), with keys and signatures made by the openssl
// program: which rows are kept, what the refused rows read, what is put in
// place and how the run ends, whichever row is refused.
#include "SignedVectors.h"
// (first: it brings the Windows headers)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/core/Agent.h"

namespace ovlu::test {
namespace {

const std::vector<std::string> kNames = {"a.dat", "b.dat", "c.dat"};
constexpr char kNoCrypto[] = "<no cryptography>";
constexpr char kNoSig[] = "<404>";
constexpr char kBigSig[] = "<5000 bytes>";

TEST(SignedRun, RowsKeptOnlyWithAGoodSignatureInEveryOrder) {
  const std::string ok = "other.a.sig";    // other.bin signed by key a
  const std::string other = "data.a.sig";  // a signature of another file
  // The rows after the run: percentage column and check mark.
  const std::string kept = "100%:1", held = "100%:0", invalid = "Firma non valida:0",
                    absent = "Firma mancante:0", noKey = "Chiave non valida:0";
  struct Case {
    const char* name;
    std::string keyFile;  // vector name, "" for none
    std::vector<std::string> sigs;
    std::vector<std::string> rows;  // the run is done when every row is kept
  } cases[] = {
      {"no key file: no signature is asked for", "", {other, other, other}, {kept, kept, kept}},
      {"every file signed", "a.pem", {ok, ok, ok}, {kept, kept, kept}},
      {"another key signed", "b.pem", {ok, ok, ok}, {invalid, invalid, invalid}},
      {"key file of garbage", "garbage.pem", {ok, ok, ok}, {noKey, noKey, noKey}},
      {"a key but no cryptography", kNoCrypto, {ok, ok, ok}, {noKey, noKey, noKey}},
      // A later file that arrives whole clears the transfer's failure flag;
      // the refused row's text still ends the run as interrupted.
      {"first refused", "a.pem", {other, ok, ok}, {invalid, kept, kept}},
      {"middle signature missing", "a.pem", {ok, kNoSig, ok}, {kept, absent, kept}},
      // Refused last, the flag stays set and nothing is applied at all.
      {"last refused", "a.pem", {ok, ok, other}, {held, held, invalid}},
      {"signature over 4 KiB", "a.pem", {ok, kBigSig, ok}, {kept, invalid, kept}},
      {"empty signature", "a.pem", {"empty.a.sig", ok, ok}, {invalid, kept, kept}},
  };
  const std::string body = Vector("other.bin");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Agent a;
    PlatformCrypto crypto;
    SetCrypto(c.keyFile == kNoCrypto ? nullptr : &crypto);
    if (!c.keyFile.empty())
      a.fs.Put(a.AppFolder() + "\\PublisherKey.pem",
               Vector(c.keyFile == kNoCrypto ? "a.pem" : c.keyFile));
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      lines.push_back(Line("", kNames[i]));
      const std::string url = "http://srv/u/" + kNames[i];
      a.inet.replies[url].body = body;
      if (c.sigs[i] == kBigSig)
        a.inet.replies[url + ".sig"].body = std::string(5000, '\x30');
      else if (c.sigs[i] == "empty.a.sig")
        a.inet.replies[url + ".sig"].body = "";
      else if (c.sigs[i] != kNoSig)
        a.inet.replies[url + ".sig"].body = Vector(c.sigs[i]);
    }
    ASSERT_TRUE(a.Start(lines));
    a.window.answers = {vbYes};
    ASSERT_TRUE(a.Go());
    SetCrypto(nullptr);

    EXPECT_EQ(a.Rows(), c.rows);
    const bool done = std::count(c.rows.begin(), c.rows.end(), kept) == 3;
    EXPECT_EQ(a.window.Caption(Control::LblMesg),
              done ? "Aggiornamento completato." : "Aggiornamento interrotto. Riprovare.");
    EXPECT_EQ(a.fs.Has(a.ListPath()), !done);
    for (std::size_t i = 0; i < kNames.size(); ++i) {
      SCOPED_TRACE(kNames[i]);
      const bool applied = c.rows[i].back() == '1';
      const bool refused = c.rows[i].rfind("100%", 0) != 0;
      EXPECT_TRUE(a.Dest(kNames[i]) == (applied ? body : "")) << a.Dest(kNames[i]).size();
      // A refused file is gone; a good one not applied waits for another run.
      EXPECT_EQ(a.fs.Has(kDest + "\\" + kNames[i] + ".remove"), !applied && !refused);
    }
    // Signatures are fetched only for a usable key.
    std::size_t sigRequests = 0;
    for (const std::string& request : a.inet.log)
      sigRequests += request.find(".sig ") != std::string::npos;
    const bool keys = c.keyFile == "a.pem" || c.keyFile == "b.pem";
    EXPECT_EQ(sigRequests, keys ? kNames.size() : 0u);
  }
}

}  // namespace
}  // namespace ovlu::test
