// The transfer control's network I/O over libcurl's multi interface. The
// rules (states, redirects, time-out, end of a body) are InetControl's;
// this only opens, drives and drops one libcurl transfer at a time and
// reports what its callbacks saw.
//
// Everything runs on the window's thread: libcurl is driven only from
// Drive(), which InetControl calls from Poll() and its waits. A close that
// InetControl asks for while libcurl is inside one of its callbacks (a
// refused answer, a body the buffer cannot take) is only recorded: the
// callbacks then tell libcurl to stop, and the handle is removed and freed
// in Drive() once libcurl has returned, as libcurl requires. Names are
// looked up by libcurl's resolver thread, which a dropped transfer leaves
// behind instead of waiting for it, so a hung lookup never holds the
// window.
#pragma once

#include <functional>
#include <string>

#include "transfer/InetControl.h"

namespace ovlu {

class CurlInet : public InetControl {
 public:
  // doEvents lets pending window events run; the waits call it.
  explicit CurlInet(std::function<void()> doEvents = nullptr);
  ~CurlInet() override;
  CurlInet(const CurlInet&) = delete;
  CurlInet& operator=(const CurlInet&) = delete;

 protected:
  void Open(const Request& request) override;
  void Close() override;
  void Drive() override;
  void WaitForIo(int ms) override;

 private:
  friend struct CurlCallbacks;

  void* multi_ = nullptr;
  void* easy_ = nullptr;
  void* headers_ = nullptr;  // the request's own header lines
  bool added_ = false;       // libcurl works on easy_
  void Release();

  bool paused_ = false;      // the body buffer had no room
  bool inLibcurl_ = false;   // libcurl runs, and may call back
  bool closeLater_ = false;  // a close asked for from inside a callback
  std::string block_;        // header lines of the answer coming in
  char errorText_[256] = {};
};

}  // namespace ovlu
