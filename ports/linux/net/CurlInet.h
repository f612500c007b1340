// The internet transfer control over libcurl's multi interface.
//
// Everything runs on the window's thread: libcurl is driven only from Poll(),
// StillExecuting() and the waits of OpenURL and GetChunk, never from a thread
// of ours. libcurl's callbacks only record what happened (states, headers,
// body bytes); the state events are raised afterwards from Poll(), outside
// libcurl, so a handler may itself let window events run (and so re-enter
// Poll) while it reads the body.
//
// The states are observed, not made up: name resolution starting (1), the
// socket being opened after it (2, 3), the connection established (4) and
// the request about to go out (5), the request's header sent (6), the first
// header line of a response (7) and the end of its header block (8), the
// connected socket being closed (9, 10). A final response with a 2xx status
// completes the request (12) as soon as its headers are in, so the body is
// read while it arrives; any other status, a failed connection and a time-out
// end it with 11, raised after the connection's close. Poll() has to run
// from the window's event pump: that is where the events are raised.
//
// The body is streamed: libcurl writes into a bounded ring buffer and the
// transfer is paused while the buffer is full, so memory use does not
// depend on the size of the file.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ByteRing.h"
#include "transfer/Inet.h"

namespace ovlu {

class CurlInet : public Inet {
 public:
  // doEvents lets pending window events run; it is called while OpenURL
  // and GetChunk wait.
  explicit CurlInet(std::function<void()> doEvents);
  ~CurlInet() override;
  CurlInet(const CurlInet&) = delete;
  CurlInet& operator=(const CurlInet&) = delete;

  // Requests url and returns once a response's headers have arrived (the
  // rest is dropped). Raises the connection states but no completion.
  // Throws VbError(errTransfer) when no answer comes.
  void OpenURL(const std::string& url) override;
  // 0 means no limit. A request ends with an error when nothing arrives
  // for this long while the agent is listening.
  void SetRequestTimeout(int seconds) override;
  // Drives the transfer (waiting a few milliseconds for the network when
  // there is nothing to do) and tells whether the request still runs.
  bool StillExecuting() override;
  void SetProtocol(int protocol) override;
  void Execute(const std::string& url, const std::string& operation) override;
  // "" gives the whole header block of the final response, a name the
  // value of that header (names compared without regard to case); "" when
  // there is no such header.
  std::string GetHeader(const std::string& name) override;
  // Waits, letting window events run, until size bytes have arrived or the
  // body has ended, so that only the last chunk is short.
  std::vector<unsigned char> GetChunk(int size, int dataType) override;

  // Drives the transfers without blocking and raises the state events that
  // are due. Cheap when there is nothing to do; safe to call from inside a
  // StateChanged handler.
  void Poll();

  int RequestTimeout() const { return timeoutSeconds_; }
  // HTTP status of the final response of the request started by Execute,
  // 0 before one arrived.
  int ResponseCode() const;

  // Body bytes held in memory at most at any one time.
  static constexpr std::size_t kBufferSize = 256 * 1024;

  struct Request;  // one transfer and what its callbacks recorded

 private:
  using Clock = std::chrono::steady_clock;
  struct Event {
    std::int16_t state;
    bool terminal;  // the 11 or 12 that ends the request of Execute
  };

  void Perform();
  void PerformIfDue();
  void Dispatch();
  void Finish(Request& r, int curlCode);
  // Ends a running transfer; quiet leaves its connection's close unreported.
  void Abort(Request& r, int curlCode, bool quiet = false);
  void WaitForNetwork(int ms);
  void CheckIdle(Request& r, Clock::time_point now);
  void Raise(std::int16_t state, bool terminal = false);
  std::unique_ptr<Request> NewRequest(const std::string& url, bool probe);
  void Release(std::unique_ptr<Request>& r);

  friend struct CurlCallbacks;

  std::function<void()> doEvents_;
  void* multi_ = nullptr;
  int timeoutSeconds_ = 60;
  int protocol_ = icHTTP;

  std::unique_ptr<Request> request_;  // the one started by Execute
  std::unique_ptr<Request> probe_;    // the one of OpenURL
  std::deque<Event> events_;
  std::vector<int> openingSockets_;  // opened, not connected yet
  std::vector<int> connectedSockets_;
  bool executing_ = false;
  bool performing_ = false;
  bool closing_ = false;
  Clock::time_point lastPerform_{};
  Clock::time_point nextPerform_{};
};

}  // namespace ovlu
