#include "ports/linux/net/CurlInet.h"

#include <curl/curl.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/Host.h"

namespace ovlu {

namespace {

constexpr const char* kUserAgent = "OVLiveUpdate/7.00";
// Below this fill the body buffer is topped up at every Poll; above it a
// Poll only drives libcurl once a millisecond.
constexpr std::size_t kLowWater = CurlInet::kBufferSize / 2;
// How long the waits of StillExecuting and GetChunk block for the network
// before letting window events run again.
constexpr int kWaitMs = 5;
// libcurl's receive buffer: the most that one write callback brings.
constexpr long kReadSize = 64 * 1024;
static_assert(kReadSize <= static_cast<long>(CurlInet::kBufferSize - kLowWater));

void GlobalInit() {
  static const bool done = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    return true;
  }();
  (void)done;
}

std::string Trim(std::string s) {
  const char* blanks = " \t\r\n";
  const std::size_t b = s.find_first_not_of(blanks);
  if (b == std::string::npos) return std::string();
  const std::size_t e = s.find_last_not_of(blanks);
  return s.substr(b, e - b + 1);
}

// Value of the last header called name in a block of CR LF lines; found
// tells whether there was one.
std::string HeaderValue(const std::string& block, const std::string& name, bool* found) {
  std::string value;
  *found = false;
  std::size_t start = 0;
  while (start < block.size()) {
    std::size_t end = block.find('\n', start);
    if (end == std::string::npos) end = block.size();
    const std::string line = block.substr(start, end - start);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && Trim(line.substr(0, colon)).size() == name.size() &&
        strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
      value = Trim(line.substr(colon + 1));
      *found = true;
    }
    start = end + 1;
  }
  return value;
}

// The URL as it goes on the wire. Only http and https URLs that libcurl
// can parse are taken; blanks, which lists write as they stand in folder
// names ("OrVento 7"), and bytes outside ASCII are percent-encoded, as a
// browser or WinINet sends them.
std::string UrlToSend(const std::string& url) {
  CURLU* u = curl_url();
  char* scheme = nullptr;
  char* full = nullptr;
  const bool ok = u &&
                  curl_url_set(u, CURLUPART_URL, url.c_str(),
                               CURLU_ALLOW_SPACE | CURLU_URLENCODE) == CURLUE_OK &&
                  curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                  (std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0) &&
                  curl_url_get(u, CURLUPART_URL, &full, 0) == CURLUE_OK;
  std::string sent = ok ? full : "";
  curl_free(full);
  curl_free(scheme);
  curl_url_cleanup(u);
  if (!ok) throw VbError(errTransfer, "URL is malformed: " + url);
  return sent;
}

}  // namespace

struct CurlInet::Request {
  Request(CurlInet* o, bool isProbe) : owner(o), probe(isProbe), ring(isProbe ? 1 : kBufferSize) {}

  CurlInet* owner;
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  bool probe;

  bool added = false;  // in the multi handle, libcurl is working on it
  bool done = false;   // finished, failed or ended by us
  CURLcode result = CURLE_OK;
  bool answered = false;   // a final response's headers are in
  bool rejected = false;   // that response has a status other than 2xx
  bool bodyReady = false;  // 12 raised: the body is there to be read
  bool terminalQueued = false;
  bool paused = false;   // the body buffer was full
  bool opening = false;  // 2 and 3 raised for the connection being made

  std::string block;         // header lines of the response coming in
  std::string finalHeaders;  // those of the final response
  int status = 0;
  long long declaredLength = -1;
  bool chunked = false;
  unsigned long long received = 0;

  ByteRing ring;
  Clock::time_point lastActivity = Clock::now();
  char errorText[CURL_ERROR_SIZE] = {};
};

// The functions libcurl calls back. They only record; no agent code runs
// from inside libcurl.
struct CurlCallbacks {
  static void Touch(CurlInet::Request& r) { r.lastActivity = CurlInet::Clock::now(); }

  static int ResolverStart(void*, void*, void* user) {
    auto& r = *static_cast<CurlInet::Request*>(user);
    Touch(r);
    r.owner->Raise(icResolvingHost);
    return 0;
  }

  static curl_socket_t OpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    auto& r = *static_cast<CurlInet::Request*>(user);
    Touch(r);
    if (!r.opening) {
      // Name resolution is over once libcurl asks for a socket to an address.
      r.opening = true;
      r.owner->Raise(icHostResolved);
      r.owner->Raise(icConnecting);
    }
    const int s = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (s >= 0) r.owner->openingSockets_.push_back(s);
    return s;
  }

  static int Prereq(void* user, char*, char*, int, int) {
    auto& r = *static_cast<CurlInet::Request*>(user);
    Touch(r);
    // The attempts that lost the race were closed already: what is still
    // open is the connection.
    auto& inet = *r.owner;
    inet.connectedSockets_.insert(inet.connectedSockets_.end(), inet.openingSockets_.begin(),
                                  inet.openingSockets_.end());
    inet.openingSockets_.clear();
    r.opening = false;
    inet.Raise(icConnected);
    inet.Raise(icRequesting);
    return CURL_PREREQFUNC_OK;
  }

  // Connections may outlive their transfer, so this one gets the CurlInet.
  static int CloseSocket(void* user, curl_socket_t s) {
    auto* inet = static_cast<CurlInet*>(user);
    auto forget = [s](std::vector<int>& list) {
      const auto it = std::find(list.begin(), list.end(), static_cast<int>(s));
      if (it == list.end()) return false;
      list.erase(it);
      return true;
    };
    forget(inet->openingSockets_);
    const bool wasConnected = forget(inet->connectedSockets_);
    const bool report = wasConnected && !inet->closing_;
    if (report) inet->Raise(icDisconnecting);
    const int rc = close(s);
    if (report) inet->Raise(icDisconnected);
    return rc;
  }

  static int Debug(CURL*, curl_infotype type, char*, size_t, void* user) {
    if (type == CURLINFO_HEADER_OUT) {
      auto& r = *static_cast<CurlInet::Request*>(user);
      r.owner->Raise(icRequestSent);
    }
    return 0;
  }

  static size_t Header(char* data, size_t size, size_t n, void* user) {
    auto& r = *static_cast<CurlInet::Request*>(user);
    const size_t len = size * n;
    Touch(r);
    std::string line(data, len);
    if (line.compare(0, 5, "HTTP/") == 0) {
      r.block = line;
      r.owner->Raise(icReceivingResponse);
      return len;
    }
    if (line != "\r\n" && line != "\n") {
      r.block += line;
      return len;
    }
    long code = 0;
    curl_easy_getinfo(r.easy, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 100 && code < 200) return len;  // an interim answer; the real one follows
    r.owner->Raise(icResponseReceived);
    if (code >= 300 && code < 400) {
      // libcurl follows it when it can; otherwise the transfer ends on it
      // and fails.
      r.status = static_cast<int>(code);
      r.finalHeaders = r.block;
      return len;
    }
    r.status = static_cast<int>(code);
    r.finalHeaders = r.block;
    r.answered = true;
    bool found = false;
    const std::string lengthText = HeaderValue(r.block, "Content-Length", &found);
    char* end = nullptr;
    const long long length = found ? std::strtoll(lengthText.c_str(), &end, 10) : -1;
    r.declaredLength = found && end && *end == '\0' && !lengthText.empty() ? length : -1;
    r.chunked =
        HeaderValue(r.block, "Transfer-Encoding", &found).find("chunked") != std::string::npos;
    if (code < 200 || code >= 300) {
      r.rejected = true;
    } else if (!r.probe) {
      r.bodyReady = true;
      r.terminalQueued = true;
      r.owner->Raise(icResponseCompleted, true);
    }
    return len;
  }

  static size_t Write(char* data, size_t size, size_t n, void* user) {
    auto& r = *static_cast<CurlInet::Request*>(user);
    const size_t len = size * n;
    Touch(r);
    if (!r.bodyReady) {
      // The body of a probe or of a refused response is not wanted: ending
      // the transfer here saves fetching it. A redirect's body is skipped.
      return r.answered ? 0 : len;
    }
    if (!r.ring.Push(reinterpret_cast<const unsigned char*>(data), len)) {
      r.paused = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    r.received += len;
    return len;
  }
};

CurlInet::CurlInet(std::function<void()> doEvents) : doEvents_(std::move(doEvents)) {
  GlobalInit();
  multi_ = curl_multi_init();
}

CurlInet::~CurlInet() {
  closing_ = true;
  Release(request_);
  Release(probe_);
  curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

std::unique_ptr<CurlInet::Request> CurlInet::NewRequest(const std::string& url, bool probe) {
  auto r = std::make_unique<Request>(this, probe);
  CURL* e = curl_easy_init();
  if (!e) throw VbError(errTransfer, "cannot start a transfer");
  r->easy = e;
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_PRIVATE, r.get());
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, r->errorText);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_USERAGENT, kUserAgent);
  curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  // Every request makes and ends its own connection, so each one goes
  // through all the states from name resolution to disconnection.
  curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(e, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
  r->headers = curl_slist_append(nullptr, "Connection: close");
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, r->headers);
  // The body is what the server sends until it closes (or until the end of
  // its chunks), also past a Content-Length that says less; a body cut
  // short of its Content-Length is found by counting.
  curl_easy_setopt(e, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  // Fewer, larger reads from the socket; still well inside the body buffer.
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReadSize);

  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlCallbacks::Write);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, r.get());
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlCallbacks::Header);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, r.get());
  curl_easy_setopt(e, CURLOPT_RESOLVER_START_FUNCTION, &CurlCallbacks::ResolverStart);
  curl_easy_setopt(e, CURLOPT_RESOLVER_START_DATA, r.get());
  curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &CurlCallbacks::OpenSocket);
  curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, r.get());
  curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, &CurlCallbacks::CloseSocket);
  curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, this);
  curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &CurlCallbacks::Prereq);
  curl_easy_setopt(e, CURLOPT_PREREQDATA, r.get());
  // The debug feed is where libcurl tells that the request went out.
  curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &CurlCallbacks::Debug);
  curl_easy_setopt(e, CURLOPT_DEBUGDATA, r.get());

  if (curl_multi_add_handle(static_cast<CURLM*>(multi_), e) != CURLM_OK)
    throw VbError(errTransfer, "cannot start a transfer");
  r->added = true;
  r->lastActivity = Clock::now();
  nextPerform_ = Clock::time_point{};
  return r;
}

void CurlInet::Release(std::unique_ptr<Request>& r) {
  if (!r) return;
  if (r->added) {
    curl_multi_remove_handle(static_cast<CURLM*>(multi_), r->easy);
    r->added = false;
  }
  curl_easy_cleanup(r->easy);
  curl_slist_free_all(r->headers);
  r.reset();
}

void CurlInet::Raise(std::int16_t state, bool terminal) { events_.push_back({state, terminal}); }

void CurlInet::Finish(Request& r, int curlCode) {
  curl_multi_remove_handle(static_cast<CURLM*>(multi_), r.easy);
  r.added = false;
  r.done = true;
  r.result = static_cast<CURLcode>(curlCode);
  if (r.result == CURLE_OK && r.bodyReady && !r.chunked && r.declaredLength >= 0 &&
      r.received < static_cast<unsigned long long>(r.declaredLength))
    r.result = CURLE_PARTIAL_FILE;
  // A refused status, a failure before the response, or a redirect that led
  // nowhere. Raised after the connection's close, so it is the last word.
  if (!r.probe && !r.terminalQueued) {
    r.terminalQueued = true;
    Raise(icError, true);
  }
}

void CurlInet::Abort(Request& r, int curlCode, bool quiet) {
  if (r.added) {
    const bool wasClosing = closing_;
    closing_ = closing_ || quiet;
    curl_multi_remove_handle(static_cast<CURLM*>(multi_), r.easy);
    closing_ = wasClosing;
    r.added = false;
  }
  if (r.done) return;
  r.done = true;
  r.result = static_cast<CURLcode>(curlCode);
  if (!r.probe && !r.terminalQueued) {
    r.terminalQueued = true;
    Raise(icError, true);
  }
}

void CurlInet::CheckIdle(Request& r, Clock::time_point now) {
  if (timeoutSeconds_ <= 0 || r.paused || !r.added) return;
  if (now - r.lastActivity >= std::chrono::seconds(timeoutSeconds_)) {
    std::snprintf(r.errorText, sizeof r.errorText, "no data for %d seconds", timeoutSeconds_);
    Abort(r, CURLE_OPERATION_TIMEDOUT);
  }
}

void CurlInet::Perform() {
  if (performing_ || !multi_) return;
  performing_ = true;
  const Clock::time_point now = Clock::now();
  Request* active[] = {request_.get(), probe_.get()};

  // Time in which nobody drove the transfer (a modal box, a slow handler)
  // is not counted against the server.
  if (lastPerform_ != Clock::time_point{} && now - lastPerform_ > std::chrono::seconds(1)) {
    for (Request* r : active)
      if (r) r->lastActivity += now - lastPerform_;
  }
  for (Request* r : active) {
    if (r && r->added && r->paused && r->ring.Free() >= kBufferSize - kLowWater) {
      r->paused = false;
      r->lastActivity = now;
      // Hands back the data held since the pause; it may pause again.
      curl_easy_pause(r->easy, CURLPAUSE_CONT);
    }
  }

  int running = 0;
  curl_multi_perform(static_cast<CURLM*>(multi_), &running);
  int left = 0;
  while (CURLMsg* m = curl_multi_info_read(static_cast<CURLM*>(multi_), &left)) {
    if (m->msg != CURLMSG_DONE) continue;
    void* p = nullptr;
    curl_easy_getinfo(m->easy_handle, CURLINFO_PRIVATE, &p);
    Finish(*static_cast<Request*>(p), m->data.result);
  }
  for (Request* r : active)
    if (r) CheckIdle(*r, now);

  lastPerform_ = now;
  nextPerform_ = now + std::chrono::milliseconds(1);
  performing_ = false;
}

void CurlInet::PerformIfDue() {
  const bool exec = request_ && request_->added;
  const bool probe = probe_ && probe_->added;
  if (!exec && !probe) return;
  // While plenty of body waits in the buffer a Poll costs one clock read.
  const bool hungry = probe || (exec && request_->ring.Size() < kLowWater);
  if (hungry || Clock::now() >= nextPerform_) Perform();
}

void CurlInet::Dispatch() {
  while (!events_.empty()) {
    const Event e = events_.front();
    events_.pop_front();
    if (!e.terminal) {
      if (StateChanged) StateChanged(e.state);
      continue;
    }
    // The request is over once its last handler has returned: what is left
    // of the response, and of its events, is dropped.
    auto end = [this] {
      executing_ = false;
      if (request_ && !request_->done) Abort(*request_, CURLE_OK, true);
      events_.clear();
    };
    try {
      if (StateChanged) StateChanged(e.state);
    } catch (...) {
      end();
      throw;
    }
    end();
  }
}

void CurlInet::Poll() {
  PerformIfDue();
  Dispatch();
}

void CurlInet::WaitForNetwork(int ms) {
  curl_multi_poll(static_cast<CURLM*>(multi_), nullptr, 0, ms, nullptr);
}

void CurlInet::OpenURL(const std::string& url) {
  if (executing_ || probe_) throw VbError(errTransfer, "Still executing last request");
  probe_ = NewRequest(UrlToSend(url), true);
  struct Cleanup {
    CurlInet* self;
    ~Cleanup() { self->Release(self->probe_); }
  } cleanup{this};
  for (;;) {
    Perform();
    // Any response counts as an answer, also one that ends in a redirect
    // that is not followed.
    if (probe_->answered || (probe_->done && probe_->status != 0)) return;
    if (probe_->done) {
      const std::string why =
          probe_->errorText[0] ? probe_->errorText : curl_easy_strerror(probe_->result);
      throw VbError(errTransfer, "Cannot reach " + url + ": " + why);
    }
    WaitForNetwork(kWaitMs);
    if (doEvents_) doEvents_();
  }
}

void CurlInet::SetRequestTimeout(int seconds) { timeoutSeconds_ = seconds; }

bool CurlInet::StillExecuting() {
  if (!executing_) return false;
  if (events_.empty()) {
    Perform();
    if (events_.empty() && executing_) {
      WaitForNetwork(kWaitMs);
      Perform();
    }
  }
  return executing_;
}

void CurlInet::SetProtocol(int protocol) { protocol_ = protocol; }

void CurlInet::Execute(const std::string& url, const std::string& operation) {
  if (executing_ || probe_) throw VbError(errTransfer, "Still executing last request");
  if (operation != "GET") throw VbError(errInvalidCall, "Unsupported operation: " + operation);
  const std::string sent = UrlToSend(url);
  Release(request_);
  request_ = NewRequest(sent, false);
  executing_ = true;
}

std::string CurlInet::GetHeader(const std::string& name) {
  if (!request_ || !request_->answered) return std::string();
  const std::string& block = request_->finalHeaders;
  if (name.empty()) {
    std::string all = block;
    while (!all.empty() && (all.back() == '\n' || all.back() == '\r')) all.pop_back();
    return all;
  }
  bool found = false;
  return HeaderValue(block, name, &found);
}

std::vector<unsigned char> CurlInet::GetChunk(int size, int /*dataType*/) {
  if (size <= 0 || !request_ || !request_->bodyReady) return {};
  Request* r = request_.get();
  const std::size_t want = std::min<std::size_t>(static_cast<std::size_t>(size), kBufferSize);
  for (;;) {
    // Whole chunks while the body lasts, so that only the last one is short.
    if (r->ring.Size() >= want || (r->done && !r->ring.Empty())) {
      std::vector<unsigned char> out(
          std::min<std::size_t>(static_cast<std::size_t>(size), r->ring.Size()));
      r->ring.Pop(out.data(), out.size());
      return out;
    }
    if (r->done) {
      if (r->result != CURLE_OK) {
        const std::string why = r->errorText[0] ? r->errorText : curl_easy_strerror(r->result);
        throw VbError(errTransfer, "Transfer broken: " + why);
      }
      return {};
    }
    Perform();
    if (r->ring.Size() >= want || r->done) continue;
    WaitForNetwork(kWaitMs);
    if (doEvents_) doEvents_();
    if (request_.get() != r) return {};
  }
}

int CurlInet::ResponseCode() const { return request_ ? request_->status : 0; }

}  // namespace ovlu
