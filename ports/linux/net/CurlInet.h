// The internet transfer control over libcurl's multi interface.
//
// Everything runs on the window's thread: libcurl is driven only from Poll()
// and from the waits of OpenURL and GetChunk, never from a thread of ours.
// libcurl's callbacks only record what happened (states, headers, body
// bytes); the state events are raised afterwards from Poll(), outside
// libcurl, so a handler may itself let window events run (and so re-enter
// Poll) while it reads the body.
//
// The body is streamed: libcurl writes into a bounded ring buffer and the
// transfer is paused while the buffer is full, so memory use does not
// depend on the size of the file.
#pragma once

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

  void OpenURL(const std::string& url) override;
  void SetRequestTimeout(int seconds) override;
  bool StillExecuting() override;
  void SetProtocol(int protocol) override;
  void Execute(const std::string& url, const std::string& operation) override;
  std::string GetHeader(const std::string& name) override;
  std::vector<unsigned char> GetChunk(int size, int dataType) override;

  // Drives the transfers without blocking and raises the state events that
  // are due. Safe to call from inside a StateChanged handler.
  void Poll();

  int RequestTimeout() const { return timeoutSeconds_; }
  // HTTP status of the last response of the request started by Execute,
  // 0 before one arrived.
  int ResponseCode() const;

  // Body bytes held in memory at most at any one time.
  static constexpr std::size_t kBufferSize = 256 * 1024;

  struct Request;  // one transfer and what its callbacks recorded

 private:
  void Perform();
  void Dispatch();
  void Finish(Request& r, int result);
  void Cancel(std::unique_ptr<Request>& r);
  void Resume(Request& r);
  void Wait(int ms);
  void Pump();
  void QueueEnd(Request& r, bool failed);
  std::unique_ptr<Request> NewRequest(const std::string& url, bool probe);

  std::function<void()> doEvents_;
  void* multi_ = nullptr;
  int timeoutSeconds_ = 60;
  int protocol_ = icHTTP;

  std::unique_ptr<Request> request_;  // the one started by Execute
  std::unique_ptr<Request> probe_;    // the one of OpenURL
  std::deque<std::int16_t> events_;
  bool executing_ = false;
  bool performing_ = false;
};

}  // namespace ovlu
