#include "ports/windows/WinApi.h"
// (the Windows headers first: see WinApi.h)
#include <algorithm>
#include <cstring>
#include <deque>

#include "platform/Host.h"
#include "ports/windows/WinInetTransfer.h"

namespace ovlu::win {

namespace {

constexpr UINT kWake = WM_APP + 17;
constexpr DWORD kTimedOut = 0xFFFF0001;  // a notice of our own: the request took too long
constexpr char kSinkClass[] = "OVLiveUpdateInetSink";
// Each request opens a connection of its own, as on Linux: the server closes
// it after the response, so a request never reuses the probe's connection
// and reports the host lookup and the connecting again.
constexpr char kRequestHeaders[] = "Connection: close\r\n";
constexpr DWORD kOpenFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                             INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI;
// Requests follow redirects themselves, at most five, as on Linux.
constexpr DWORD kRequestFlags = kOpenFlags | INTERNET_FLAG_NO_AUTO_REDIRECT;
constexpr int kMaxRedirects = 5;

// The queue between WinINet's threads and the window thread. It is never
// destroyed, so a notification that arrives late still finds it.
struct SharedQueue {
  CRITICAL_SECTION lock;
  std::deque<WinInetTransfer::Notice>* items;
  HWND sink = nullptr;
};

SharedQueue& Queue() {
  static SharedQueue* q = [] {
    auto* s = new SharedQueue;
    ::InitializeCriticalSection(&s->lock);
    s->items = new std::deque<WinInetTransfer::Notice>;
    return s;
  }();
  return *q;
}

void Push(const WinInetTransfer::Notice& n) {
  SharedQueue& q = Queue();
  ::EnterCriticalSection(&q.lock);
  q.items->push_back(n);
  HWND sink = q.sink;
  ::LeaveCriticalSection(&q.lock);
  if (sink != nullptr) ::PostMessageA(sink, kWake, 0, 0);
}

bool Pop(WinInetTransfer::Notice* n) {
  SharedQueue& q = Queue();
  ::EnterCriticalSection(&q.lock);
  const bool any = !q.items->empty();
  if (any) {
    *n = q.items->front();
    q.items->pop_front();
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
    case INTERNET_STATUS_NAME_RESOLVED:
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
    case INTERNET_STATUS_SENDING_REQUEST:
    case INTERNET_STATUS_REQUEST_SENT:
    case INTERNET_STATUS_RECEIVING_RESPONSE:
    case INTERNET_STATUS_RESPONSE_RECEIVED:
    case INTERNET_STATUS_CLOSING_CONNECTION:
    case INTERNET_STATUS_CONNECTION_CLOSED:
      break;
    default:
      return;
  }
  Push(n);
}

// The transfer control's state number for a WinINet progress notification,
// 0 for none.
std::int16_t StateOf(DWORD status) {
  switch (status) {
    case INTERNET_STATUS_RESOLVING_NAME:
      return icResolvingHost;
    case INTERNET_STATUS_NAME_RESOLVED:
      return icHostResolved;
    case INTERNET_STATUS_CONNECTING_TO_SERVER:
      return icConnecting;
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      return icConnected;
    case INTERNET_STATUS_SENDING_REQUEST:
      return icRequesting;
    case INTERNET_STATUS_REQUEST_SENT:
      return icRequestSent;
    case INTERNET_STATUS_RECEIVING_RESPONSE:
      return icReceivingResponse;
    case INTERNET_STATUS_RESPONSE_RECEIVED:
      return icResponseReceived;
    case INTERNET_STATUS_CLOSING_CONNECTION:
      return icDisconnecting;
    case INTERNET_STATUS_CONNECTION_CLOSED:
      return icDisconnected;
    default:
      return icNone;
  }
}

// The wake-up message only ends a wait for messages. The notices behind it
// are handled by Poll from the agent's own event pump, never from another
// message loop: inside a message box the transfer holds still, as it does
// on Linux, and a body is not read on behind the user's question.
LRESULT CALLBACK SinkProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kWake) return 0;
  return ::DefWindowProcA(h, msg, wp, lp);
}

std::uintptr_t NextId() {
  static std::uintptr_t id = 0x4F56;  // any non-zero start: 0 means "no context" to WinINet
  return ++id;
}

// Milliseconds on a clock that wraps every 49 days; differences stay right.
DWORD Now() { return ::GetTickCount(); }
bool Passed(DWORD deadline) { return static_cast<LONG>(Now() - deadline) >= 0; }

// WinINet takes malformed URLs into the background and may never report on
// them: anything that is not an HTTP(S) URL with a host is refused up front.
bool IsHttpUrl(const std::string& url) {
  char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host;
  if (url.empty() || !::InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
    return false;
  return (parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS) &&
         host[0] != '\0';
}

std::string LastErrorText(const char* what) {
  return std::string(what) + " (error " + std::to_string(::GetLastError()) + ")";
}

}  // namespace

WinInetTransfer::WinInetTransfer() {
  SharedQueue& q = Queue();
  HINSTANCE inst = ::GetModuleHandleA(nullptr);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = SinkProc;
  wc.hInstance = inst;
  wc.lpszClassName = kSinkClass;
  ::RegisterClassExA(&wc);  // fails harmlessly when a second instance registers it again
  HWND sink =
      ::CreateWindowExA(0, kSinkClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, inst, nullptr);
  sink_ = sink;
  ::EnterCriticalSection(&q.lock);
  q.sink = sink;
  ::LeaveCriticalSection(&q.lock);

  HINTERNET session = ::InternetOpenA("OVLiveUpdate", INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                      nullptr, INTERNET_FLAG_ASYNC);
  session_ = session;
  if (session != nullptr) {
    ::InternetSetStatusCallbackA(session, StatusCallback);
    ApplyTimeouts();
  }
}

WinInetTransfer::~WinInetTransfer() {
  SharedQueue& q = Queue();
  ::EnterCriticalSection(&q.lock);
  if (q.sink == sink_) q.sink = nullptr;
  q.items->clear();
  ::LeaveCriticalSection(&q.lock);
  execId_ = probeId_ = 0;
  if (request_ != nullptr) ::InternetCloseHandle(static_cast<HINTERNET>(request_));
  if (probe_ != nullptr) ::InternetCloseHandle(static_cast<HINTERNET>(probe_));
  if (session_ != nullptr) {
    ::InternetSetStatusCallbackA(static_cast<HINTERNET>(session_), nullptr);
    ::InternetCloseHandle(static_cast<HINTERNET>(session_));
  }
  if (sink_ != nullptr) ::DestroyWindow(static_cast<HWND>(sink_));
}

void WinInetTransfer::ApplyTimeouts() {
  if (session_ == nullptr) return;
  DWORD ms = static_cast<DWORD>(timeoutSeconds_) * 1000u;
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT})
    ::InternetSetOptionA(static_cast<HINTERNET>(session_), option, &ms, sizeof ms);
}

void WinInetTransfer::SetRequestTimeout(int seconds) {
  if (seconds < 0) throw VbError(errInvalidProperty, "negative time-out");
  timeoutSeconds_ = seconds;
  ApplyTimeouts();
}

void WinInetTransfer::SetProtocol(int protocol) {
  if (protocol < 0 || protocol > 5) throw VbError(errInvalidProperty, "unknown protocol");
  protocol_ = protocol;
}

// ---------------------------------------------------------------- waiting

void WinInetTransfer::WaitOnce() {
  // Sleeps until a message arrives (a queued notification posts one) or a
  // short while has passed; the caller then lets the events run.
  ::MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
}

void WinInetTransfer::Wait(const bool& done, const char* what) {
  const DWORD limit = static_cast<DWORD>(timeoutSeconds_ > 0 ? timeoutSeconds_ : 60) * 1000u;
  const DWORD deadline = Now() + limit;
  for (;;) {
    if (pump_) pump_();
    Poll();
    if (done) return;
    if (Passed(deadline)) throw VbError(errTransfer, std::string(what) + ": timed out");
    WaitOnce();
  }
}

// ---------------------------------------------------------------- probe

void WinInetTransfer::OpenURL(const std::string& url) {
  if (session_ == nullptr) throw VbError(errTransfer, "WinINet is not available");
  if (!probeDone_) throw VbError(errTransfer, "still executing last request");
  if (!IsHttpUrl(url)) throw VbError(errTransfer, "not an HTTP URL: " + url);
  probeId_ = NextId();
  probeDone_ = false;
  probeOk_ = false;
  probe_ = nullptr;
  HINTERNET h = ::InternetOpenUrlA(static_cast<HINTERNET>(session_), url.c_str(), kRequestHeaders,
                                   static_cast<DWORD>(-1L), kOpenFlags, probeId_);
  if (h != nullptr) {
    probe_ = h;
    probeOk_ = probeDone_ = true;
  } else if (::GetLastError() != ERROR_IO_PENDING) {
    probeDone_ = true;
    probeId_ = 0;
    throw VbError(errTransfer, LastErrorText("cannot open URL"));
  }
  try {
    Wait(probeDone_, "server probe");
  } catch (...) {
    probeDone_ = true;
    probeId_ = 0;
    if (probe_ != nullptr) ::InternetCloseHandle(static_cast<HINTERNET>(probe_));
    probe_ = nullptr;
    throw;
  }
  probeId_ = 0;
  if (probe_ != nullptr) ::InternetCloseHandle(static_cast<HINTERNET>(probe_));
  probe_ = nullptr;
  if (!probeOk_) throw VbError(errTransfer, "server cannot be reached");
}

// ---------------------------------------------------------------- request

void WinInetTransfer::Execute(const std::string& url, const std::string& operation) {
  if (session_ == nullptr) throw VbError(errTransfer, "WinINet is not available");
  if (executing_) throw VbError(errTransfer, "still executing last request");
  if (operation != "GET") throw VbError(errInvalidCall, "only GET is supported");
  if (!IsHttpUrl(url)) throw VbError(errTransfer, "not an HTTP URL: " + url);
  CloseRequest();
  execId_ = NextId();
  phase_ = Phase::Requesting;
  statusCode_ = 0;
  contentLength_ = -1;
  received_ = 0;
  endOfBody_ = false;
  ioDone_ = true;
  timeoutQueued_ = false;
  const DWORD limit = static_cast<DWORD>(timeoutSeconds_ > 0 ? timeoutSeconds_ : 60) * 1000u;
  deadline_ = Now() + limit;
  executing_ = true;
  redirects_ = 0;
  try {
    Open(url);
  } catch (const VbError&) {
    executing_ = false;
    phase_ = Phase::Idle;
    execId_ = 0;
    throw;
  }
}

// Starts the request for url under a fresh id, so that late notices of an
// earlier hop are told apart and dropped.
void WinInetTransfer::Open(const std::string& url) {
  url_ = url;
  execId_ = NextId();
  request_ = nullptr;
  timeoutQueued_ = false;  // a time-out queued under the old id is dropped with it
  HINTERNET h = ::InternetOpenUrlA(static_cast<HINTERNET>(session_), url.c_str(), kRequestHeaders,
                                   static_cast<DWORD>(-1L), kRequestFlags, execId_);
  if (h != nullptr) {
    // Answered at once (from a cache): the completion still goes through the
    // queue so that its state is raised while events are pumped.
    Push(Notice{execId_, INTERNET_STATUS_REQUEST_COMPLETE, reinterpret_cast<std::uintptr_t>(h), 0});
  } else if (::GetLastError() != ERROR_IO_PENDING) {
    throw VbError(errTransfer, LastErrorText("request refused"));
  }
}

// A redirect answer: the request goes on at its Location, up to the limit.
// False when this answer is no redirect to follow.
bool WinInetTransfer::FollowRedirect() {
  if (statusCode_ != 301 && statusCode_ != 302 && statusCode_ != 303 && statusCode_ != 307 &&
      statusCode_ != 308)
    return false;
  char location[2048] = {};
  DWORD size = sizeof location - 1;
  if (!::HttpQueryInfoA(static_cast<HINTERNET>(request_), HTTP_QUERY_LOCATION, location, &size,
                        nullptr))
    return false;
  char next[4096] = {};
  DWORD length = sizeof next;
  if (!::InternetCombineUrlA(url_.c_str(), location, next, &length, ICU_NO_ENCODE)) return false;
  if (redirects_ >= kMaxRedirects || !IsHttpUrl(next)) return false;
  ++redirects_;
  CloseRequest();
  try {
    Open(next);
  } catch (const VbError&) {
    return false;
  }
  return true;
}

bool WinInetTransfer::StillExecuting() {
  if (!executing_) return false;
  if (phase_ == Phase::Requesting && !timeoutQueued_ && Passed(static_cast<DWORD>(deadline_))) {
    // No answer in time: the failure is raised with the other states.
    timeoutQueued_ = true;
    Push(Notice{execId_, kTimedOut, 0, ERROR_INTERNET_TIMEOUT});
  }
  WaitOnce();
  return executing_;
}

void WinInetTransfer::Raise(std::int16_t state) {
  if (!StateChanged) return;
  // The handlers trap their own errors; nothing may unwind through the
  // message dispatch that called us.
  try {
    StateChanged(state);
  } catch (...) {
  }
}

void WinInetTransfer::CloseRequest() {
  if (request_ != nullptr) ::InternetCloseHandle(static_cast<HINTERNET>(request_));
  request_ = nullptr;
}

void WinInetTransfer::Fail() {
  executing_ = false;
  phase_ = Phase::Done;
  execId_ = 0;
  ioDone_ = true;
  CloseRequest();
  Raise(icError);
}

void WinInetTransfer::CompleteRequest(std::uintptr_t handle, unsigned long error) {
  (void)error;
  if (handle == 0) {
    Fail();
    return;
  }
  request_ = reinterpret_cast<void*>(handle);
  DWORD code = 0;
  DWORD size = sizeof code;
  if (!::HttpQueryInfoA(static_cast<HINTERNET>(request_),
                        HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &code, &size, nullptr))
    code = 0;
  statusCode_ = static_cast<int>(code);
  if (FollowRedirect()) return;
  if (code < 200 || code > 299) {
    // An error page is no file: the request fails and nothing is read.
    Fail();
    return;
  }
  const std::string length = GetHeader("Content-Length");
  if (!length.empty() && length.size() <= 18 &&
      std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; }))
    contentLength_ = std::stoll(length);
  phase_ = Phase::Reading;
  const std::uintptr_t id = execId_;
  Raise(icResponseCompleted);
  // The response has been handled (or abandoned): the request is over.
  if (execId_ == id) {
    executing_ = false;
    phase_ = Phase::Done;
    execId_ = 0;
    CloseRequest();
  }
}

void WinInetTransfer::Handle(const Notice& n) {
  if (n.context != 0 && n.context == probeId_) {
    if (n.status == INTERNET_STATUS_HANDLE_CREATED && probe_ == nullptr) {
      probe_ = reinterpret_cast<void*>(n.result);
    } else if (n.status == INTERNET_STATUS_REQUEST_COMPLETE) {
      if (n.result != 0) probe_ = reinterpret_cast<void*>(n.result);
      probeOk_ = n.result != 0;
      probeDone_ = true;
    } else if (const std::int16_t state = StateOf(n.status); state != icNone) {
      // The probe shows its progress as a request does, on Linux too; it
      // never reports an error or a completion.
      Raise(state);
    }
    return;
  }
  if (n.context == 0 || n.context != execId_) return;  // a request that is over
  switch (n.status) {
    case INTERNET_STATUS_HANDLE_CREATED:
      if (request_ == nullptr) request_ = reinterpret_cast<void*>(n.result);
      return;
    case kTimedOut:
      if (phase_ == Phase::Requesting) Fail();
      return;
    case INTERNET_STATUS_REQUEST_COMPLETE:
      if (phase_ == Phase::Requesting) {
        CompleteRequest(n.result, n.error);
      } else if (phase_ == Phase::Reading) {
        // The end of a read or a wait for data that had to go on in the background.
        ioError_ = n.result != 0 ? 0 : (n.error != 0 ? n.error : ERROR_INTERNET_CONNECTION_ABORTED);
        ioDone_ = true;
      }
      return;
    default: {
      const std::int16_t state = StateOf(n.status);
      if (state != icNone) Raise(state);
      return;
    }
  }
}

void WinInetTransfer::Poll() {
  Notice n;
  while (Pop(&n)) Handle(n);
}

// ---------------------------------------------------------------- response

std::string WinInetTransfer::GetHeader(const std::string& name) {
  if (request_ == nullptr) return std::string();
  const bool length = _stricmp(name.c_str(), "Content-Length") == 0;
  std::vector<char> buffer(std::max<std::size_t>(256, name.size() + 1), '\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(buffer.size());
    DWORD info = HTTP_QUERY_CONTENT_LENGTH;
    if (!length) {
      info = HTTP_QUERY_CUSTOM;
      std::copy(name.begin(), name.end(), buffer.begin());
      buffer[name.size()] = '\0';
    }
    if (::HttpQueryInfoA(static_cast<HINTERNET>(request_), info, buffer.data(), &size, nullptr))
      return std::string(buffer.data(), size);
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= buffer.size())
      return std::string();
    buffer.assign(size + 1, '\0');
  }
}

bool WinInetTransfer::ReadSome(unsigned char* dst, unsigned long want, unsigned long* got) {
  HINTERNET h = static_cast<HINTERNET>(request_);
  // How much is there? Waiting for it goes on in the background.
  DWORD available = 0;
  while (!::InternetQueryDataAvailable(h, &available, 0, 0)) {
    if (::GetLastError() != ERROR_IO_PENDING)
      throw VbError(errTransfer, LastErrorText("connection broken"));
    ioDone_ = false;
    ioError_ = 0;
    Wait(ioDone_, "waiting for data");
    if (ioError_ != 0)
      throw VbError(errTransfer, "connection broken (error " + std::to_string(ioError_) + ")");
    h = static_cast<HINTERNET>(request_);
  }
  if (available == 0) return false;
  want = std::min<unsigned long>({want, available, sizeof readBuffer_});
  readGot_ = 0;
  if (!::InternetReadFile(h, readBuffer_, want, &readGot_)) {
    if (::GetLastError() != ERROR_IO_PENDING)
      throw VbError(errTransfer, LastErrorText("connection broken"));
    ioDone_ = false;
    ioError_ = 0;
    Wait(ioDone_, "reading");
    if (ioError_ != 0)
      throw VbError(errTransfer, "connection broken (error " + std::to_string(ioError_) + ")");
  }
  std::copy(readBuffer_, readBuffer_ + readGot_, dst);
  *got = readGot_;
  return readGot_ > 0;
}

std::vector<unsigned char> WinInetTransfer::GetChunk(int size, int dataType) {
  (void)dataType;  // bytes are bytes: the agent asks for a byte array only
  if (phase_ != Phase::Reading || request_ == nullptr)
    throw VbError(errTransfer, "no response to read");
  if (size <= 0) throw VbError(errInvalidCall, "bad chunk size");
  std::vector<unsigned char> chunk(static_cast<std::size_t>(size));
  std::size_t filled = 0;
  // A chunk is filled up to its size unless the body ends first, so chunk
  // counts follow the body's length.
  while (filled < chunk.size() && !endOfBody_) {
    unsigned long got = 0;
    if (!ReadSome(chunk.data() + filled, static_cast<unsigned long>(chunk.size() - filled), &got))
      endOfBody_ = true;
    filled += got;
    received_ += got;
  }
  chunk.resize(filled);
  if (chunk.empty() && endOfBody_ && contentLength_ >= 0 && received_ < contentLength_)
    throw VbError(errTransfer, "connection closed after " + std::to_string(received_) + " of " +
                                   std::to_string(contentLength_) + " bytes");
  return chunk;
}

}  // namespace ovlu::win
