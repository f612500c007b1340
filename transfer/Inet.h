// The internet transfer control as the agent uses it. One implementation per
// platform; all members are called on the window's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ovlu {

enum : std::int16_t {
  icNone = 0,
  icResolvingHost = 1,
  icHostResolved = 2,
  icConnecting = 3,
  icConnected = 4,
  icRequesting = 5,
  icRequestSent = 6,
  icReceivingResponse = 7,
  icResponseReceived = 8,
  icDisconnecting = 9,
  icDisconnected = 10,
  icError = 11,
  icResponseCompleted = 12,
};
enum : int { icHTTP = 4, icByteArray = 1 };

// The number a Content-Length header's text gives, read as the agent reads
// every number from text (Visual Basic's CLng: blanks around it, a sign,
// decimal digits, 32 bits). Throws VbError when the text is no such number.
// The transfer control and the body reader both use it, so they never
// disagree on where a body ends.
std::int32_t ContentLengthOf(const std::string& text);

struct Inet {
  virtual ~Inet() = default;

  // Raised on the window's thread while the agent lets events run.
  std::function<void(std::int16_t)> StateChanged;

  // Asks the server and returns when it has answered (events keep running
  // meanwhile). Throws VbError when it cannot be reached. Raises no
  // completion state.
  virtual void OpenURL(const std::string& url) = 0;
  virtual void SetRequestTimeout(int seconds) = 0;
  // True from Execute until the request has failed, or until the handler of
  // icResponseCompleted has returned.
  virtual bool StillExecuting() = 0;
  virtual void SetProtocol(int protocol) = 0;
  // Starts the request and returns at once; throws VbError when refused.
  virtual void Execute(const std::string& url, const std::string& operation) = 0;
  // Value of a response header; "" when absent.
  virtual std::string GetHeader(const std::string& name) = 0;
  // Next body bytes, at most size; empty once the body is exhausted. Waits
  // (letting window events run) while none have arrived. Throws VbError when
  // the connection broke before the end.
  virtual std::vector<unsigned char> GetChunk(int size, int dataType) = 0;
  // Drops the request or probe under way at once: no further state event is
  // raised, nothing more of the body is read, StillExecuting turns false.
  // Reports nothing. Safe from inside any state handler or wait.
  virtual void Cancel() = 0;
};

}  // namespace ovlu
