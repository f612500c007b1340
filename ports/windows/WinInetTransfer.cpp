#include "ports/windows/WinApi.h"
// (the Windows headers first: see WinApi.h)
#include <deque>
#include <map>
#include <set>

#include "platform/Host.h"
#include "ports/windows/WinInetTransfer.h"

namespace ovlu::win {

namespace {

// Redirects are InetControl's to follow; nothing comes from the cache.
constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                             INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI |
                             INTERNET_FLAG_NO_AUTO_REDIRECT;

// The queue between WinINet's threads and the window thread. It is never
// destroyed, so a notification that arrives late still finds it.
struct SharedQueue {
  CRITICAL_SECTION lock;
  std::deque<WinInetTransfer::Notice> items;
  HANDLE ready;  // set when something was queued
};

SharedQueue& Queue() {
  static SharedQueue* q = [] {
    auto* s = new SharedQueue;
    ::InitializeCriticalSection(&s->lock);
    s->ready = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    return s;
  }();
  return *q;
}

void Push(const WinInetTransfer::Notice& n) {
  SharedQueue& q = Queue();
  ::EnterCriticalSection(&q.lock);
  q.items.push_back(n);
  ::LeaveCriticalSection(&q.lock);
  ::SetEvent(q.ready);
}

bool Pop(WinInetTransfer::Notice* n) {
  SharedQueue& q = Queue();
  ::EnterCriticalSection(&q.lock);
  const bool any = !q.items.empty();
  if (any) {
    *n = q.items.front();
    q.items.pop_front();
  }
  ::LeaveCriticalSection(&q.lock);
  return any;
}

// Runs on whatever thread WinINet chooses: it only records what happened.
void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
  if (context == 0) return;
  WinInetTransfer::Notice n{context, status, 0, 0};
  switch (status) {
    case INTERNET_STATUS_HANDLE_CREATED:
    case INTERNET_STATUS_REQUEST_COMPLETE:
      if (info != nullptr) {
        const auto* r = static_cast<const INTERNET_ASYNC_RESULT*>(info);
        n.result = r->dwResult;
        n.error = r->dwError;
      }
      break;
    case INTERNET_STATUS_RESOLVING_NAME:
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
    case INTERNET_STATUS_REQUEST_SENT:
      break;
    default:
      return;
  }
  Push(n);
}

// WinINet keeps a connection whose answer did not say "Connection: close"
// (HTTP/1.1 keeps connections open by default) in a pool for its server,
// whatever the request said, and hands it to the next request there, even
// when the server has closed it meanwhile: that request then fails ("read
// failed 10054" under Wine). Telling WinINet that the settings changed
// makes it drop every pooled connection, so that none is ever reused.
void DropPooledConnections() {
  ::InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
}

// Requests dropped before their handle was known (a time-out or a cancel
// while WinINet was still opening them), by context, with the handles of
// theirs closed so far. Every handle a late notice brings is closed once,
// until the open's completion ends it. Used on the window thread only.
std::map<std::uintptr_t, std::set<std::uintptr_t>>& Abandoned() {
  static std::map<std::uintptr_t, std::set<std::uintptr_t>> ids;
  return ids;
}

void CloseAbandoned(const WinInetTransfer::Notice& n) {
  auto& ids = Abandoned();
  const auto it = ids.find(n.context);
  if (it == ids.end()) return;
  if (n.status != INTERNET_STATUS_HANDLE_CREATED && n.status != INTERNET_STATUS_REQUEST_COMPLETE)
    return;
  if (n.result != 0 && it->second.insert(n.result).second)
    ::InternetCloseHandle(reinterpret_cast<HINTERNET>(n.result));
  if (n.status == INTERNET_STATUS_REQUEST_COMPLETE) {
    ids.erase(it);
    // What closing them gave back to the pool goes too.
    DropPooledConnections();
  }
}

std::uintptr_t NextId() {
  static std::uintptr_t id = 0x4F56;  // any non-zero start: 0 means "no context" to WinINet
  return ++id;
}

// "WinINet error N: text", the text as the system words it (WinINet's own
// messages live in wininet.dll, the socket ones in the system's table).
std::string ErrorText(unsigned long error) {
  std::string out = "WinINet error " + std::to_string(error);
  char text[512] = {};
  DWORD n =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                       ::GetModuleHandleA("wininet.dll"), error, 0, text, sizeof text, nullptr);
  if (n == 0)
    n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                         0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
  if (n > 0) out += ": " + std::string(text, n);
  return out;
}

}  // namespace

WinInetTransfer::WinInetTransfer() {
  Queue();
  HINTERNET session = ::InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                      INTERNET_FLAG_ASYNC);
  session_ = session;
  if (session != nullptr) ::InternetSetStatusCallbackA(session, StatusCallback);
}

WinInetTransfer::~WinInetTransfer() {
  Close();
  Notice n;
  while (Pop(&n)) CloseAbandoned(n);
  if (session_ != nullptr) {
    ::InternetSetStatusCallbackA(session_, nullptr);
    ::InternetCloseHandle(session_);
  }
}

void WinInetTransfer::Open(const Request& request) {
  if (session_ == nullptr) throw VbError(errTransfer, "WinINet is not available");
  Close();
  // What earlier requests left in the queue: their handles are closed now.
  Notice n;
  while (Pop(&n)) CloseAbandoned(n);
  // The server is told to close, and WinINet is left nothing it could reuse.
  const std::string headers = "User-Agent: " + request.userAgent + "\r\nConnection: close\r\n";
  DropPooledConnections();
  id_ = NextId();
  opening_ = true;
  HINTERNET h = ::InternetOpenUrlA(session_, request.url.c_str(), headers.c_str(),
                                   static_cast<DWORD>(headers.size()), kOpenFlags, id_);
  if (h != nullptr) {
    // Answered at once: the answer still goes through the queue, so that it
    // is handled with the other notices.
    Push(Notice{id_, INTERNET_STATUS_REQUEST_COMPLETE, reinterpret_cast<std::uintptr_t>(h), 0});
  } else if (::GetLastError() != ERROR_IO_PENDING) {
    const DWORD error = ::GetLastError();
    id_ = 0;
    opening_ = false;
    throw VbError(errTransfer, "request refused: " + ErrorText(error));
  }
}

void WinInetTransfer::Close() {
  // Late notices of this request carry its old id and are dropped; the
  // handle of one still being opened is closed when it comes.
  if (request_ == nullptr && opening_ && id_ != 0) Abandoned()[id_];
  id_ = 0;
  opening_ = waiting_ = false;
  if (request_ != nullptr) {
    ::InternetCloseHandle(request_);
    // A connection closing with its request may just have gone to the pool.
    DropPooledConnections();
  }
  request_ = nullptr;
}

void WinInetTransfer::WaitForIo(int ms) {
  HANDLE ready = Queue().ready;
  ::MsgWaitForMultipleObjectsEx(1, &ready, static_cast<DWORD>(ms), QS_ALLINPUT, 0);
}

void WinInetTransfer::Drive() {
  Notice n;
  while (Pop(&n)) Handle(n);
  if (request_ != nullptr && !opening_ && !waiting_ && id_ != 0) Read();
}

void WinInetTransfer::Handle(const Notice& n) {
  if (n.context == 0 || n.context != id_) return CloseAbandoned(n);  // a request that is over
  switch (n.status) {
    case INTERNET_STATUS_RESOLVING_NAME:
      OnResolving();
      return;
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
      OnConnecting();
      return;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      OnConnected();
      return;
    case INTERNET_STATUS_REQUEST_SENT:
      OnRequestSent();
      return;
    case INTERNET_STATUS_HANDLE_CREATED:
      if (request_ == nullptr) request_ = reinterpret_cast<HINTERNET>(n.result);
      return;
    case INTERNET_STATUS_REQUEST_COMPLETE:
      if (opening_) {
        Answered(n.result, n.error);
      } else if (waiting_) {
        // The wait is over: bytes or the end are there for the next read,
        // which Drive() makes.
        waiting_ = false;
        if (n.result == 0)
          OnEnd(ErrorText(n.error != 0 ? n.error : ERROR_INTERNET_CONNECTION_ABORTED));
      }
      return;
    default:
      return;
  }
}

void WinInetTransfer::Answered(std::uintptr_t handle, unsigned long error) {
  opening_ = false;
  if (handle == 0) {
    OnEnd(ErrorText(error != 0 ? error : ERROR_INTERNET_CANNOT_CONNECT));
    return;
  }
  request_ = reinterpret_cast<HINTERNET>(handle);
  HINTERNET h = request_;
  DWORD code = 0;
  DWORD size = sizeof code;
  if (!::HttpQueryInfoA(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr))
    code = 0;
  std::string headers(1024, '\0');
  for (;;) {
    DWORD length = static_cast<DWORD>(headers.size());
    if (::HttpQueryInfoA(h, HTTP_QUERY_RAW_HEADERS_CRLF, headers.data(), &length, nullptr)) {
      headers.resize(length);
      break;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || length <= headers.size()) {
      headers.clear();
      break;
    }
    headers.assign(length + 1, '\0');
  }
  OnResponse();
  OnHeaders(static_cast<int>(code), headers);
}

// Takes the body a block at a time while it is wanted and the buffer has
// room. A read that does not wait hands over what WinINet holds or, when it
// holds nothing, what the connection has already received, straight into
// the block; a read with 8 KiB to fill and a wait for its query would cost
// Wine's server two round trips per 8 KiB. When nothing has arrived the
// wait goes on in the background and its end only says to read again.
void WinInetTransfer::Read() {
  HINTERNET h = request_;
  while (WantsBody() && Room() >= kBlock) {
    read_ = INTERNET_BUFFERSA{};
    read_.dwStructSize = sizeof read_;
    read_.lpvBuffer = block_.data();
    read_.dwBufferLength = static_cast<DWORD>(kBlock);
    if (!::InternetReadFileExA(h, &read_, IRF_NO_WAIT, id_)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_IO_PENDING) {
        waiting_ = true;
        return;
      }
      return OnEnd(ErrorText(error));
    }
    if (read_.dwBufferLength == 0) return OnEnd("");  // the end of the body
    OnBody(block_.data(), read_.dwBufferLength);
  }
}

}  // namespace ovlu::win
