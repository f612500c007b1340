// The transfer control's rules, the same on every platform. A platform
// supplies only the network I/O (open a GET on a connection of its own,
// move it on without blocking, drop it, wait for activity) and reports what
// happened through the On... calls; this class turns those reports into the
// states 1 to 12 and their order, follows redirects, owns the time-out,
// decides how a response and its body end, and holds the body in a bounded
// buffer from which GetChunk hands it out.
//
// Rules:
// - Every request goes through the states 1 to 8 in order, whatever the
//   platform reported (a stage it skipped is raised on reaching the next);
//   a connection that reached state 4 reports 9 and 10 when it ends.
// - A final answer with a 2xx status completes the request (12) as soon as
//   its headers are in, so the body is read while it arrives. A redirect
//   (301, 302, 303, 307, 308 with a Location) is followed on a new
//   connection, at most kMaxRedirects times; any other answer, a failed
//   connection and a time-out end the request with 11, and so does an
//   answer whose header block exceeds kMaxHeaderBlock. The probe of
//   OpenURL counts any answer, a redirect included, and follows nothing.
//   Which URLs are taken, how they go on the wire and where a Location
//   leads are transfer/Url.h's rules; a refused URL fails Execute and
//   OpenURL, a refused Location the request.
// - The time-out counts silence: from the request's start, and from every
//   report of the platform since. While the agent leaves the buffer full
//   the server is not waited on, so the clock does not run.
// - The body ends normally at a close (or a reset, or a TLS end without
//   its close notice) once Content-Length bytes have arrived, or after
//   kQuietEnd of silence from then on: a server that keeps the connection
//   open does not hold the agent. Bytes beyond the length that come before
//   that end are handed out too. Without a length, a clean close ends the
//   body. A body cut short of its length fails GetChunk once the bytes
//   that did arrive have been read.
// - The states of a body's end wait until the completion handler (12) has
//   returned, so none is raised in the middle of the body: then 9 and 10,
//   and 11 when the handler met a body that broke (cut short, reset, or
//   silent for the time-out). A body the handler left unread is dropped
//   without them.
// - While the agent cannot read (a modal box is open and Receive is called
//   instead of Poll), the body keeps arriving: what the buffer cannot take
//   goes to a scratch file of the system's temporary folder, from which
//   GetChunk takes it in order after the buffer. The file goes when the
//   request ends. Otherwise a full buffer pauses the network.
// - Events are raised only from Poll (the window's event pump) and from
//   the waits, never from inside the platform's I/O; the request is over
//   (StillExecuting false, the response gone) once the handler of its 11
//   or 12 has returned.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ovlu_version.h"
#include "platform/Host.h"
#include "transfer/ByteRing.h"
#include "transfer/Inet.h"

namespace ovlu {

class InetControl : public Inet {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kMaxRedirects = 5;
  static constexpr std::chrono::milliseconds kQuietEnd{200};
  // Body bytes held in memory at most, and the most a platform hands over
  // at once; it delivers only while Room() holds a whole block.
  static constexpr std::size_t kBufferSize = 256 * 1024;
  static constexpr std::size_t kBlock = 64 * 1024;
  // An answer whose header lines are longer in all is refused.
  static constexpr std::size_t kMaxHeaderBlock = 64 * 1024;

  // doEvents lets pending window events run; the waits call it.
  explicit InetControl(std::function<void()> doEvents = nullptr) : doEvents_(std::move(doEvents)) {}
  void SetPump(std::function<void()> doEvents) { doEvents_ = std::move(doEvents); }

  void OpenURL(const std::string& url) override;
  // 0 means no limit.
  void SetRequestTimeout(int seconds) override;
  bool StillExecuting() final;
  void SetProtocol(int protocol) override;
  void Execute(const std::string& url, const std::string& operation) override;
  // "" gives the whole header block of the answer being read; names are
  // compared without regard to case; "" when there is no such header.
  std::string GetHeader(const std::string& name) final;
  // At most size bytes; whole chunks while the body lasts. Waits, letting
  // window events run, only while none are buffered.
  std::vector<unsigned char> GetChunk(int size, int dataType) final;

  void Cancel() override;

  // Moves the transfer on and raises the states that are due. Cheap when
  // nothing is due; safe from inside a StateChanged handler.
  void Poll();
  // Moves the network on while the agent cannot take events (a modal box is
  // open): bytes keep arriving, states are only queued for the next Poll.
  void Receive();

  int RequestTimeout() const { return timeoutSeconds_; }
  // Status of the last answer of the request or probe, 0 before one.
  int ResponseCode() const { return status_; }

 protected:
  // What every request (probe, GET, redirect hop) asks of the platform. It
  // runs on a connection made for it and closed after it: never one kept
  // from an earlier request, never kept for a later one, whatever the
  // server says. Each request then goes through every state from the name
  // lookup to the disconnection, and a connection the server closed
  // meanwhile is never written to.
  struct Request {
    std::string url;        // in its wire form (transfer/Url.h)
    std::string userAgent;  // kUserAgent
  };
  static constexpr const char* kUserAgent = "OVLiveUpdate/" OVLU_VERSION_SHORT;

  // Starts a GET as asked; throws VbError when it cannot.
  virtual void Open(const Request& request) = 0;
  // Drops the connection at once, without waiting for anything. Reports
  // nothing.
  virtual void Close() = 0;
  // Moves the I/O on without blocking and reports through the On... calls.
  virtual void Drive() = 0;
  // Blocks at most ms for network activity (or window input).
  virtual void WaitForIo(int ms) = 0;

  // What the platform saw, in any order and as often as it likes.
  void OnResolving() { Advance(Stage::Resolving); }
  void OnConnecting() { Advance(Stage::Connecting); }  // the name is resolved
  void OnConnected() { Advance(Stage::Connected); }
  void OnRequestSent() { Advance(Stage::Sent); }
  void OnResponse() { Advance(Stage::Responding); }  // the first line of an answer
  // A final answer's status and header lines (interim 1xx answers are not
  // reported).
  void OnHeaders(int status, const std::string& headerBlock);
  // True while body bytes are wanted; the platform then hands over at most
  // Room() bytes at a time.
  bool WantsBody() const { return stage_ == Stage::Body && hopOpen_; }
  // (Virtual only so that a test can make a platform overrun the buffer.)
  virtual std::size_t Room() const {
    if (receiving_ && scratch_) return kBufferSize;  // what the ring cannot take is spilled
    return spilled_ > 0 ? 0 : ring_.Free();
  }
  void OnBody(const unsigned char* data, std::size_t n);
  // The connection is over: "" after a close, else what ended it.
  void OnEnd(const std::string& error);
  // The request's own URL (of the hop now running).
  const std::string& CurrentUrl() const { return url_; }

 private:
  enum class Stage {
    Idle,
    Resolving,
    Connecting,
    Connected,
    Sent,
    Responding,
    Answered,
    Body,
    Over
  };
  enum class Next { None, Follow, Answered, Fail };
  enum class BodyEnd { None, Ended, Broken };
  struct Event {
    std::int16_t state;
    bool terminal;  // the 11 or 12 that ends the request of Execute
  };

  void Begin(const std::string& url, bool probe);
  void StartHop(const std::string& url);
  void Advance(Stage to);
  void Step();
  void Settle();
  void Tick(Clock::time_point now);
  void EndHop(bool report);
  void Fail(const std::string& why);
  void EndBody(BodyEnd how, const std::string& why);
  void EndRequest();
  void Dispatch();
  void Raise(std::int16_t state, bool terminal = false) { events_.push_back({state, terminal}); }
  bool TakeReady(std::size_t want, std::vector<unsigned char>* out);
  void Refill();
  void DropScratch();

  std::function<void()> doEvents_;
  int timeoutSeconds_ = 60;

  // The request (Execute) or probe (OpenURL) under way.
  bool probe_ = false;
  bool executing_ = false;   // Execute until its last handler returned
  bool probing_ = false;     // inside OpenURL
  bool reading_ = false;     // 12 raised: the body is there to be read
  bool completing_ = false;  // the handler of 12 runs
  bool cancelled_ = false;   // Cancel dropped the request
  bool failed_ = false;
  bool answered_ = false;  // the probe had an answer
  int redirects_ = 0;
  std::string error_;

  // The connection of the hop now running.
  std::string url_;
  bool hopOpen_ = false;  // the platform works on it
  bool connected_ = false;
  Stage stage_ = Stage::Idle;
  Next next_ = Next::None;
  std::string location_;
  int status_ = 0;
  std::string headers_;
  long long length_ = -1;  // -1: no usable Content-Length
  unsigned long long received_ = 0;
  BodyEnd bodyEnd_ = BodyEnd::None;
  BodyEnd bodySeen_ = BodyEnd::None;  // the end GetChunk met
  Clock::time_point requestStart_{};
  Clock::time_point lastActivity_{};
  Clock::time_point lastBody_{};
  Clock::time_point nextStep_{};

  ByteRing ring_{kBufferSize};
  // The body beyond the ring while the agent does not read (Receive).
  bool receiving_ = false;
  std::unique_ptr<ScratchFile> scratch_;
  unsigned long long spilled_ = 0;  // bytes in the scratch file, not yet in the ring
  std::deque<Event> events_;
};

}  // namespace ovlu
