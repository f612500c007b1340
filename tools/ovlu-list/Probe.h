// Tries a list against its servers the way the agent would fetch it: the
// agent's own download sequence runs over the real transfer control, on a
// window that only records what it is told and on a file layer that counts
// the bytes of each received file instead of writing them. What the rows
// show afterwards is what the agent would apply.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ports/linux/net/CurlInet.h"
#include "tools/ovlu-list/ListCheck.h"

namespace ovlu::listcheck {

// The transfer control of this platform, with what it already knows about
// the request in hand made readable. It changes nothing the agent sees.
class ProbeInet : public CurlInet {
 public:
  // The URL of the last hop of the request or probe, redirects followed.
  std::string FinalUrl() const { return CurrentUrl(); }

  // The probe and the request exactly as the agent makes them; onStart
  // hears of each, with why it failed ("" when it went through).
  void OpenURL(const std::string& url) override;
  void Execute(const std::string& url, const std::string& operation) override;
  std::function<void(bool probe, const std::string& failure)> onStart;
};

// How one record fared.
struct RecordProbe {
  bool reached = false;    // the sequence came to this record
  bool probed = false;     // the server root answered
  bool requested = false;  // the GET started
  bool completed = false;  // a 2xx answer came (state 12)
  bool failed = false;     // the request ended in error (state 11)
  std::string refusal;     // why the probe or the GET could not be made
  std::string finalUrl;
  int status = 0;              // of the GET's last answer; 0 without one
  std::string contentLength;   // as the answer gave it; "" when absent
  std::string transferCoding;  // the answer's Transfer-Encoding
  bool fileOpened = false;     // the agent began to write the received file
  long long received = 0;      // bytes the agent took from the body
  bool readWhole = false;      // the agent read the body to its end
  double seconds = 0;
  std::string body;  // how the body ended, in a few words
  // With a key: "verified", the refusal the row shows, or why the
  // signature was not looked at.
  std::string signature;
  int signatureStatus = 0;  // of the signature's last answer; 0 without one
  std::string percent;      // the row's percentage column, UTF-8
  bool applied = false;
  std::string reason;  // why (or why not), in plain words
};

// Fetches every record of UpdateItems as DownloadAllFiles does, over inet,
// reading files through real (which is only read from, never written) and
// the system sys. The process values must be set as at start-up. With a
// keyPath, each file's signature is checked as the agent checks it with
// that key file in its folder (the host's cryptography must be set). Leaves
// the host as it found it.
std::vector<RecordProbe> ProbeList(ProbeInet& inet, FileSystem& real, System& sys,
                                   const std::string& keyPath = std::string());

// The "probe" member of a record's JSON object.
Json ProbeJson(const RecordProbe& p, bool keyGiven);
// One line for standard error.
std::string ProbeSummary(const std::string& fileName, int line, int index, const RecordProbe& p);

}  // namespace ovlu::listcheck
