// The internet transfer control over WinINet in asynchronous mode.
//
// WinINet reports progress from its own threads. Those notifications are put
// in a locked queue and a message is posted to a hidden window; the window
// thread drains the queue whenever it processes its messages, and only then
// are the state events raised. So everything the agent sees happens on its
// own thread while it lets window events run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "transfer/Inet.h"

namespace ovlu::win {

class WinInetTransfer : public Inet {
 public:
  WinInetTransfer();
  ~WinInetTransfer() override;
  WinInetTransfer(const WinInetTransfer&) = delete;
  WinInetTransfer& operator=(const WinInetTransfer&) = delete;

  // What lets window events run while a call waits (the window's DoEvents).
  void SetPump(std::function<void()> pump) { pump_ = std::move(pump); }

  void OpenURL(const std::string& url) override;
  void SetRequestTimeout(int seconds) override;
  bool StillExecuting() override;
  void SetProtocol(int protocol) override;
  void Execute(const std::string& url, const std::string& operation) override;
  std::string GetHeader(const std::string& name) override;
  std::vector<unsigned char> GetChunk(int size, int dataType) override;

  // Handles the notifications that WinINet queued so far. Runs by itself
  // when the window thread dispatches its messages.
  void Poll();

  int RequestTimeout() const { return timeoutSeconds_; }

  // One WinINet notification as the queue carries it.
  struct Notice {
    std::uintptr_t context;
    unsigned long status;
    std::uintptr_t result;
    unsigned long error;
  };
  // HTTP status of the last response, 0 before one arrived.
  int LastStatusCode() const { return statusCode_; }

 private:
  enum class Phase { Idle, Requesting, Reading, Done };

  void Handle(const Notice& n);
  void CompleteRequest(std::uintptr_t handle, unsigned long error);
  void Fail();
  void Raise(std::int16_t state);
  void CloseRequest();
  void Open(const std::string& url);
  bool FollowRedirect();
  void Wait(const bool& done, const char* what);
  void WaitOnce();
  bool ReadSome(unsigned char* dst, unsigned long want, unsigned long* got);
  void ApplyTimeouts();

  void* session_ = nullptr;
  void* sink_ = nullptr;  // hidden message window
  std::function<void()> pump_;
  int timeoutSeconds_ = 60;
  int protocol_ = icHTTP;

  // The request started by Execute.
  std::uintptr_t execId_ = 0;
  void* request_ = nullptr;
  std::string url_;    // of the request or of the redirect now followed
  int redirects_ = 0;  // followed so far for this request
  Phase phase_ = Phase::Idle;
  bool executing_ = false;
  unsigned long long deadline_ = 0;
  bool timeoutQueued_ = false;
  int statusCode_ = 0;
  long long contentLength_ = -1;  // -1 when the response gave none
  long long received_ = 0;
  bool endOfBody_ = false;
  bool ioDone_ = true;
  unsigned long ioError_ = 0;
  unsigned long readGot_ = 0;
  unsigned char readBuffer_[4096];

  // The server probe of OpenURL.
  std::uintptr_t probeId_ = 0;
  void* probe_ = nullptr;
  bool probeDone_ = true;
  bool probeOk_ = false;
};

}  // namespace ovlu::win
