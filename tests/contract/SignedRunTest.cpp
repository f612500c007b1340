// Update runs with and without the publisher's key beside the agent, over a
// scripted transfer and this platform's real cryptography (libcrypto on
// Linux, CNG under Wine), with keys and signatures made by the openssl
// program: which rows are kept, what the refused rows read, what is put in
// place and how the run ends, whichever row is refused.
#include "SignedVectors.h"
// (first: it brings the Windows headers)
#include <gtest/gtest.h>

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
  const std::string ok = "other.a.sig";        // other.bin signed by key a
  const std::string otherFile = "data.a.sig";  // a signature of another file
  const std::string missing = kNoSig;
  const std::string refusedKey = "Chiave non valida:0";
  struct Case {
    const char* name;
    std::string keyFile;  // vector name, "" for none
    std::vector<std::string> sigs;
    std::vector<std::string> rows;  // percentage column and check mark
    bool done;
  } cases[] = {
      {"no key file: no signature is asked for",
       "",
       {otherFile, otherFile, otherFile},
       {"100%:1", "100%:1", "100%:1"},
       true},
      {"every file signed", "a.pem", {ok, ok, ok}, {"100%:1", "100%:1", "100%:1"}, true},
      {"another key signed",
       "b.pem",
       {ok, ok, ok},
       {"Firma non valida:0", "Firma non valida:0", "Firma non valida:0"},
       false},
      {"key file of garbage",
       "garbage.pem",
       {ok, ok, ok},
       {refusedKey, refusedKey, refusedKey},
       false},
      {"a key but no cryptography",
       kNoCrypto,
       {ok, ok, ok},
       {refusedKey, refusedKey, refusedKey},
       false},
      // A later file that arrives whole clears the transfer's failure flag;
      // the refused row's text still ends the run as interrupted.
      {"first refused",
       "a.pem",
       {otherFile, ok, ok},
       {"Firma non valida:0", "100%:1", "100%:1"},
       false},
      {"middle signature missing",
       "a.pem",
       {ok, missing, ok},
       {"100%:1", "Firma mancante:0", "100%:1"},
       false},
      // Refused last, the flag stays set and nothing is applied at all.
      {"last refused",
       "a.pem",
       {ok, ok, otherFile},
       {"100%:0", "100%:0", "Firma non valida:0"},
       false},
      {"signature over 4 KiB",
       "a.pem",
       {ok, kBigSig, ok},
       {"100%:1", "Firma non valida:0", "100%:1"},
       false},
      {"empty signature",
       "a.pem",
       {"empty.a.sig", ok, ok},
       {"Firma non valida:0", "100%:1", "100%:1"},
       false},
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

    std::vector<std::string> rows;
    for (int row = 1; row <= a.window.RowCount(); ++row)
      rows.push_back(a.window.SubItem(row, 2) + ":" + std::to_string(a.window.RowSmallIcon(row)));
    EXPECT_EQ(rows, c.rows);
    const char* outcome =
        c.done ? "Aggiornamento completato." : "Aggiornamento interrotto. Riprovare.";
    EXPECT_EQ(a.window.Caption(Control::LblMesg), outcome);
    EXPECT_EQ(a.fs.Has(a.ListPath()), !c.done);
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
