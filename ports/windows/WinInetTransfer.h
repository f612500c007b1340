// The transfer control's network I/O over WinINet in asynchronous mode. The
// rules (states, redirects, time-out, end of a body) are InetControl's;
// this only opens, reads and drops one WinINet request at a time and
// reports what WinINet told.
//
// WinINet reports from its own threads. Those notifications go into a
// locked queue and set an event; the window thread takes them from the
// queue in Drive(), which InetControl calls from Poll() and its waits, so
// everything the agent sees happens on its own thread. The status callback
// only records: no handle is ever closed from inside it, as WinINet
// requires; a close InetControl asks for is made on the window thread, and
// the handle of a request dropped before WinINet had made it is closed when
// its notice comes. The body is read in
// blocks of up to 64 KiB, by reads that never wait, whenever the buffer has
// room, so GetChunk(1024) is served from memory.
//
// WinINet ends a body at its Content-Length: bytes a server sends beyond
// it are not delivered on this platform.
#pragma once

#include "ports/windows/WinApi.h"
// (first: the Windows headers)
#include <cstdint>
#include <string>
#include <vector>

#include "transfer/InetControl.h"

namespace ovlu::win {

class WinInetTransfer : public InetControl {
 public:
  WinInetTransfer();
  ~WinInetTransfer() override;
  WinInetTransfer(const WinInetTransfer&) = delete;
  WinInetTransfer& operator=(const WinInetTransfer&) = delete;

  // One WinINet notification as the queue carries it.
  struct Notice {
    std::uintptr_t context;
    unsigned long status;
    std::uintptr_t result;
    unsigned long error;
  };

 protected:
  void Open(const Request& request) override;
  void Close() override;
  void Drive() override;
  void WaitForIo(int ms) override;

 private:
  void Handle(const Notice& n);
  void Answered(std::uintptr_t handle, unsigned long error);
  void Read();

  HINTERNET session_ = nullptr;
  HINTERNET request_ = nullptr;
  std::uintptr_t id_ = 0;     // context of the request now open; 0 for none
  bool opening_ = false;      // waiting for the answer's headers
  bool waiting_ = false;      // a wait for body bytes goes on in the background
  INTERNET_BUFFERSA read_{};  // the read that may go on in the background
  std::vector<unsigned char> block_ = std::vector<unsigned char>(kBlock);
};

}  // namespace ovlu::win
