#include "tools/ovlu-list/Probe.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "ports/headless/HeadlessWindow.h"
#include "shell/EventDispatch.h"
#include "shell/Globals.h"
#include "shell/MainForm.h"
#include "shell/Vb.h"

namespace ovlu::listcheck {

namespace {

using Clock = std::chrono::steady_clock;

// The headless window, which also tells when the agent selects a row (that
// is where the sequence starts on a record) and what it says in its message
// line.
class ObservingWindow : public HeadlessWindow {
 public:
  void SelectRow(int row) override {
    HeadlessWindow::SelectRow(row);
    if (onSelect) onSelect(row);
  }
  void SetCaption(Control c, const std::string& text) override {
    HeadlessWindow::SetCaption(c, text);
    if (onCaption) onCaption(c, text);
  }
  std::function<void(int)> onSelect;
  std::function<void(Control, const std::string&)> onCaption;
};

// A received file that only counts what the agent writes into it.
class CountingFile : public BinaryFile {
 public:
  explicit CountingFile(long long* count) : count_(count) {}
  void Write(const unsigned char*, std::size_t size) override {
    if (count_) *count_ += static_cast<long long>(size);
  }
  void Close() override {}

 private:
  long long* count_;
};

// The file layer the agent sees during the probe: what it reads comes from
// the real one; a received file becomes a counter; nothing on disk changes.
class ObservingFileSystem : public FileSystem {
 public:
  explicit ObservingFileSystem(FileSystem& real) : real_(real) {}

  bool FileExists(const std::string& path) override { return real_.FileExists(path); }
  bool FileExistsAnyAttributes(const std::string& path) override {
    return real_.FileExistsAnyAttributes(path);
  }
  std::vector<unsigned char> ReadAll(const std::string& path) override {
    return real_.ReadAll(path);
  }
  std::unique_ptr<BinaryFile> OpenBinaryWrite(const std::string& path, bool) override {
    return std::make_unique<CountingFile>(onOpen ? onOpen(path) : nullptr);
  }
  std::unique_ptr<BinaryFile> OpenAppend(const std::string&) override { Refuse(); }
  long long FileLength(const std::string& path) override { return real_.FileLength(path); }
  void CreateTextFile(const std::string&, const std::string&) override { Refuse(); }
  void Rename(const std::string&, const std::string&) override { Refuse(); }
  void Delete(const std::string&) override { Refuse(); }
  void SetAttributes(const std::string&, unsigned) override { Refuse(); }
  unsigned GetAttributes(const std::string& path) override { return real_.GetAttributes(path); }
  std::string CurrentDirectory() override { return real_.CurrentDirectory(); }
  // The transfer's own spill file under a box: in the system's temporary
  // folder, gone when the request ends.
  std::unique_ptr<ScratchFile> CreateScratch() override { return real_.CreateScratch(); }

  // Where the bytes of a received file are counted.
  std::function<long long*(const std::string&)> onOpen;

 private:
  [[noreturn]] static void Refuse() {
    throw VbError(errPermissionDenied, "the probe changes no file");
  }
  FileSystem& real_;
};

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// The Content-Length as the agent's reader takes it: false when it cannot
// take it at all.
bool AgentLength(const std::string& header, long long* length) {
  try {
    *length = ContentLengthOf(header);
    return true;
  } catch (const VbError&) {
    return false;
  }
}

// Why the agent refused a file that arrived whole, from the refusal its
// row shows.
std::string SignatureRefusal(const RecordProbe& r) {
  if (r.signature == Signing::Reason(Signing::Verdict::KeyUnusable))
    return "the key file holds no usable P-256 public key, and then the agent refuses every file";
  if (r.signature == Signing::Reason(Signing::Verdict::SignatureMissing))
    return r.signatureStatus >= 300
               ? "its signature (the URL followed by .sig) answers " +
                     std::to_string(r.signatureStatus)
               : std::string("its signature (the URL followed by .sig) did not arrive");
  return "its signature does not verify under the key";
}

// How a record that the sequence came to was fetched.
void DescribeFetch(RecordProbe& r, int index, int flagRow) {
  const std::string row100 = "the row reads 100%";
  if (!r.requested) {
    r.body = "not requested";
    if (!r.probed && !r.refusal.empty())
      r.reason = "the server root did not answer the agent's first request (" + r.refusal +
                 "): the agent stops here and fetches no later file";
    else if (!r.refusal.empty())
      r.reason = "the transfer refuses the URL (" + r.refusal +
                 "): the agent stops here and fetches no later file";
    else
      r.reason = "the record has no source: the agent stops here and fetches no later file";
    return;
  }
  const std::string shown = "the row reads " + Quoted(r.percent);
  if (r.completed) {
    long long length = 0;
    const bool usable = AgentLength(r.contentLength, &length);
    if (r.readWhole) {
      r.body = "read to its end (" + std::to_string(r.received) + " bytes)";
      if (r.signature == "verified")
        r.reason = "the file arrived whole, its signature verifies and " + row100;
      else if (!r.signature.empty() && r.percent == r.signature)
        r.reason = "the file arrived whole, but " + SignatureRefusal(r) +
                   ": the agent deletes it and " + shown;
      else
        r.reason = r.percent == "100%" ? "the file arrived whole and " + row100
                                       : "the file arrived whole, but " + shown;
    } else if (r.fileOpened) {
      r.body =
          "cut short after " + std::to_string(r.received) + " of " + r.contentLength + " bytes";
      r.reason = r.percent == "100%" ? "the body was cut short, yet " + row100 +
                                           (flagRow >= 0 ? "" : ": the truncated file is applied")
                                     : "the body was cut short: " + shown;
    } else if (!usable) {
      const bool chunked = LCase(r.transferCoding).find("chunked") != std::string::npos;
      r.body = "not read: no Content-Length the agent can use";
      r.reason = std::string("the answer has ") +
                 (r.contentLength.empty()
                      ? (chunked ? "no Content-Length (it is sent chunked)" : "no Content-Length")
                      : "a Content-Length the agent cannot read (" + r.contentLength + ")") +
                 ": the agent writes no file and " + shown;
    } else if (length <= 0) {
      r.body = "not read: the file is empty";
      r.reason = "the file is empty (Content-Length: " + r.contentLength +
                 "): the agent never reads an empty file, so " + shown;
    } else {
      r.body = "broken before its first bytes";
      r.reason = "the body broke before its first bytes: " + shown;
    }
  } else if (r.failed) {
    r.body = "none: the request failed";
    if (r.status >= 300 && r.status < 400)
      r.reason =
          "the redirects end in no file (more than 5 of them, or one the transfer "
          "cannot follow; last status " +
          std::to_string(r.status) + ")";
    else if (r.status != 0)
      r.reason = "the server answers " + std::to_string(r.status) + " to the request";
    else
      r.reason =
          "the request got no answer: the connection failed or stayed silent for the "
          "agent's time-out";
    r.reason += ": " + shown;
  } else {
    r.body = "none";
    r.reason = "the request ended without an answer: " + shown;
  }
  if (r.percent == "100%" && flagRow >= 0)
    r.reason +=
        "; but " +
        (flagRow == index ? std::string("this row") : "row " + std::to_string(flagRow + 1)) +
        " leaves the run's failure flag set, and then the agent applies no row at all";
}

// How the body ended and why the row shows what it shows.
// flagRow: the record that left the run's failure flag set, -1 when the
// run ends with it clear.
void Describe(RecordProbe& r, int index, int stopRow, int flagRow) {
  if (!r.reached) {
    r.body = "not requested";
    r.reason = "not fetched: the agent stops at row " + std::to_string(stopRow) +
               " and fetches no later file";
  } else {
    DescribeFetch(r, index, flagRow);
  }
}

}  // namespace

void ProbeInet::OpenURL(const std::string& url) {
  try {
    CurlInet::OpenURL(url);
  } catch (const VbError& e) {
    if (onStart) onStart(true, e.what());
    throw;
  }
  if (onStart) onStart(true, "");
}

void ProbeInet::Execute(const std::string& url, const std::string& operation) {
  try {
    CurlInet::Execute(url, operation);
  } catch (const VbError& e) {
    if (onStart) onStart(false, e.what());
    throw;
  }
  if (onStart) onStart(false, "");
}

std::vector<RecordProbe> ProbeList(ProbeInet& inet, FileSystem& real, System& sys,
                                   const std::string& keyPath) {
  const Host saved = TheHost();
  ObservingFileSystem fs(real);
  SetHost(&fs, &sys);

  const UpdateItemArray& items = G().UpdateItems;
  std::vector<RecordProbe> out(items.size());
  {
    ObservingWindow window;
    MainForm form(window, inet);
    window.Load(&form);
    form.FillFileList();
    // As start-up leaves it.
    G().CancelRequested = vbFalse;
    // As the start of a run does, from the given key file.
    if (!keyPath.empty()) form.Signed().Begin(keyPath);
    // The agent checks nothing when no file lies under that name.
    const bool checking = form.Signed().On();
    std::vector<bool> verified(out.size(), false);

    int current = -1;
    int flagRow = -1;  // the record that set the failure flag still up
    bool flagBefore = false;
    Clock::time_point started;
    auto finish = [&] {
      if (current < 0) return;
      out[static_cast<std::size_t>(current)].seconds = SecondsSince(started);
      const bool flag = G().CancelRequested != vbFalse;
      // A file that arrives whole clears the flag; a refused signature
      // raises it again within the same record.
      if (flag && (!flagBefore || out[static_cast<std::size_t>(current)].readWhole))
        flagRow = current;
      if (!flag) flagRow = -1;
    };
    window.onSelect = [&](int row) {
      const int index = row - 1;
      if (index == current || index < 0 || static_cast<std::size_t>(index) >= out.size()) return;
      finish();
      current = index;
      started = Clock::now();
      flagBefore = G().CancelRequested != vbFalse;
      out[static_cast<std::size_t>(index)].reached = true;
    };
    auto record = [&]() -> RecordProbe* {
      return current >= 0 ? &out[static_cast<std::size_t>(current)] : nullptr;
    };
    fs.onOpen = [&](const std::string&) -> long long* {
      RecordProbe* r = record();
      if (!r) return nullptr;
      r->fileOpened = true;
      r->received = 0;
      return &r->received;
    };
    window.onCaption = [&](Control c, const std::string& text) {
      // The agent's word that the file in hand is signed.
      if (current >= 0 && c == Control::LblMesg && text == " Firma verificata.")
        verified[static_cast<std::size_t>(current)] = true;
    };
    inet.onStart = [&](bool probe, const std::string& refusal) {
      RecordProbe* r = record();
      // The signature's request is not the file's.
      if (!r || form.Signed().FetchingSignature()) return;
      r->refusal = AnsiToUtf8(refusal);
      if (probe)
        r->probed = refusal.empty();
      else
        r->requested = refusal.empty();
    };
    const auto agent = inet.StateChanged;
    inet.StateChanged = [&](std::int16_t s) {
      RecordProbe* r = record();
      if (r && form.Signed().FetchingSignature()) {
        if (s == icResponseCompleted || s == icError) r->signatureStatus = inet.ResponseCode();
        if (agent) agent(s);
        return;
      }
      if (r && !r->completed && (s == icResponseCompleted || s == icError)) {
        r->status = inet.ResponseCode();
        r->finalUrl = AnsiToUtf8(inet.FinalUrl());
      }
      if (r && s == icResponseCompleted) {
        r->completed = true;
        r->contentLength = inet.GetHeader("Content-Length");
        r->transferCoding = inet.GetHeader("Transfer-Encoding");
      }
      if (r && s == icError) r->failed = true;
      if (agent) agent(s);
      if (r && s == icResponseCompleted) r->readWhole = r->fileOpened && !G().CancelRequested;
    };
    ConnectPump(window, inet);

    form.DownloadAllFiles();
    finish();

    DisconnectPump(window, inet);
    inet.StateChanged = nullptr;
    inet.onStart = nullptr;

    // The apply step does nothing while the failure flag is up, and takes
    // only the rows whose percentage reads exactly "100%".
    const bool flag = G().CancelRequested != vbFalse;
    int stopRow = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
      RecordProbe& r = out[i];
      if (r.reached) stopRow = static_cast<int>(i) + 1;
      r.percent = AnsiToUtf8(window.SubItem(static_cast<int>(i) + 1, 2));
      r.applied = !flag && r.percent == "100%";
      if (keyPath.empty()) continue;
      // A refused file's row reads the refusal instead of its percentage.
      bool refused = false;
      for (Signing::Verdict v :
           {Signing::Verdict::KeyUnusable, Signing::Verdict::Incomplete,
            Signing::Verdict::SignatureMissing, Signing::Verdict::SignatureInvalid})
        refused = refused || r.percent == Signing::Reason(v);
      if (!checking)
        r.signature = "not checked: no key file";
      else if (verified[i])
        r.signature = "verified";
      else if (refused)
        r.signature = r.percent;
      else
        r.signature = r.reached ? "not checked: the file did not arrive"
                                : "not checked: the file was not fetched";
    }
    for (std::size_t i = 0; i < out.size(); ++i)
      Describe(out[i], static_cast<int>(i), stopRow, flag ? flagRow : -1);
  }
  SetHost(saved.fs, saved.sys);
  return out;
}

Json ProbeJson(const RecordProbe& p, bool keyGiven) {
  Json j;
  j["url"] = p.finalUrl.empty() ? Json() : Json(p.finalUrl);
  j["status"] = p.completed || p.failed ? Json(p.status) : Json();
  const std::string& length = p.contentLength;
  if (!p.completed || length.empty())
    j["contentLength"] = Json();
  else if (length.size() <= 18 &&
           std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; }))
    j["contentLength"] = std::stoll(length);
  else
    j["contentLength"] = length;
  j["received"] = p.received;
  j["seconds"] = std::round(p.seconds * 100) / 100;
  j["body"] = p.body;
  if (keyGiven) j["signature"] = p.signature;
  j["percent"] = p.percent;
  j["applied"] = p.applied;
  j["reason"] = p.reason;
  return j;
}

std::string ProbeSummary(const std::string& fileName, int line, int index, const RecordProbe& p) {
  return fileName + ":" + std::to_string(line) + ": row " + std::to_string(index + 1) + ": " +
         (p.applied ? "applied" : "NOT applied") + " (" +
         (p.percent.empty() ? "empty" : Quoted(p.percent)) + "): " + p.reason;
}

}  // namespace ovlu::listcheck
