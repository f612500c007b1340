#include "ports/linux/net/CurlInet.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>

#include "platform/Host.h"

namespace ovlu {

namespace {

static_assert(CURL_ERROR_SIZE <= 256);

void GlobalInit() {
  static const bool done = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    return true;
  }();
  (void)done;
}

}  // namespace

// The functions libcurl calls back. They only report; InetControl queues
// the states and raises them later, outside libcurl.
struct CurlCallbacks {
  static CurlInet& Of(void* user) { return *static_cast<CurlInet*>(user); }

  // Once a close is pending, every callback reports nothing and asks
  // libcurl to stop.
  static int ResolverStart(void*, void*, void* user) {
    if (Of(user).closeLater_) return 1;
    Of(user).OnResolving();
    return 0;
  }

  static curl_socket_t OpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    if (Of(user).closeLater_) return CURL_SOCKET_BAD;
    Of(user).OnConnecting();
    return socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  }

  static int Prereq(void* user, char*, char*, int, int) {
    if (Of(user).closeLater_) return CURL_PREREQFUNC_ABORT;
    Of(user).OnConnected();
    return CURL_PREREQFUNC_OK;
  }

  // The debug feed is where libcurl tells that the request went out.
  static int Debug(CURL*, curl_infotype type, char*, size_t, void* user) {
    if (type == CURLINFO_HEADER_OUT && !Of(user).closeLater_) Of(user).OnRequestSent();
    return 0;
  }

  static size_t Header(char* data, size_t size, size_t n, void* user) {
    CurlInet& c = Of(user);
    const size_t len = size * n;
    if (c.closeLater_) return 0;
    std::string line(data, len);
    if (line.compare(0, 5, "HTTP/") == 0) {
      c.block_ = line;
      c.OnResponse();
    } else if (line != "\r\n" && line != "\n") {
      c.block_ += line;
    } else {
      long code = 0;
      curl_easy_getinfo(static_cast<CURL*>(c.easy_), CURLINFO_RESPONSE_CODE, &code);
      // An interim answer: the real one follows.
      if (code >= 200) c.OnHeaders(static_cast<int>(code), c.block_);
    }
    return len;
  }

  static size_t Write(char* data, size_t size, size_t n, void* user) {
    CurlInet& c = Of(user);
    const size_t len = size * n;
    if (c.closeLater_) return CURL_WRITEFUNC_ERROR;
    if (!c.WantsBody()) return len;  // the body of an answer that is not read
    if (len > c.Room()) {
      c.paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    c.OnBody(reinterpret_cast<const unsigned char*>(data), len);
    return len;
  }
};

CurlInet::CurlInet(std::function<void()> doEvents) : InetControl(std::move(doEvents)) {
  GlobalInit();
  multi_ = curl_multi_init();
}

CurlInet::~CurlInet() {
  Release();
  curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

void CurlInet::Open(const Request& request) {
  Close();
  CURL* e = curl_easy_init();
  if (!e || !multi_) throw VbError(errTransfer, "cannot start a transfer");
  easy_ = e;
  block_.clear();
  errorText_[0] = '\0';
  paused_ = false;
  curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
  // The path goes as InetControl wrote it.
  curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText_);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  // A transfer dropped while its name is being looked up does not wait for
  // the resolver thread.
  curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
  curl_easy_setopt(e, CURLOPT_USERAGENT, request.userAgent.c_str());
  curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  // A new connection, closed after this transfer, the name looked up
  // afresh; the server is told so too.
  curl_easy_setopt(e, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
  curl_easy_setopt(e, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
  headers_ = curl_slist_append(nullptr, "Connection: close");
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(headers_));
  // The body is what arrives until the connection ends (or the last
  // chunk), also past a Content-Length that says less; where it ends is
  // InetControl's decision.
  curl_easy_setopt(e, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  // Servers are trusted as the system trusts them; SSL_CERT_FILE names
  // another set of authorities, as it does for OpenSSL's own tools.
  if (const char* authorities = std::getenv("SSL_CERT_FILE"))
    curl_easy_setopt(e, CURLOPT_CAINFO, authorities);
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, static_cast<long>(kBlock));

  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlCallbacks::Write);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlCallbacks::Header);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(e, CURLOPT_RESOLVER_START_FUNCTION, &CurlCallbacks::ResolverStart);
  curl_easy_setopt(e, CURLOPT_RESOLVER_START_DATA, this);
  curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &CurlCallbacks::OpenSocket);
  curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, this);
  curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &CurlCallbacks::Prereq);
  curl_easy_setopt(e, CURLOPT_PREREQDATA, this);
  curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &CurlCallbacks::Debug);
  curl_easy_setopt(e, CURLOPT_DEBUGDATA, this);

  if (curl_multi_add_handle(static_cast<CURLM*>(multi_), e) != CURLM_OK) {
    Close();
    throw VbError(errTransfer, "cannot start a transfer");
  }
  added_ = true;
}

void CurlInet::Close() {
  if (inLibcurl_) {
    closeLater_ = true;
    return;
  }
  Release();
}

void CurlInet::Release() {
  closeLater_ = false;
  if (added_) curl_multi_remove_handle(static_cast<CURLM*>(multi_), static_cast<CURL*>(easy_));
  added_ = false;
  if (easy_) curl_easy_cleanup(static_cast<CURL*>(easy_));
  easy_ = nullptr;
  curl_slist_free_all(static_cast<curl_slist*>(headers_));
  headers_ = nullptr;
}

void CurlInet::Drive() {
  if (!added_) return;
  CURLM* multi = static_cast<CURLM*>(multi_);
  inLibcurl_ = true;
  if (paused_ && Room() >= kBlock) {
    paused_ = false;
    // Hands back the data held since the pause (through the write callback);
    // it may pause again.
    curl_easy_pause(static_cast<CURL*>(easy_), CURLPAUSE_CONT);
  }
  int running = 0;
  if (!closeLater_) curl_multi_perform(multi, &running);
  inLibcurl_ = false;
  int left = 0;
  bool ended = false;
  CURLcode result = CURLE_OK;
  while (CURLMsg* m = curl_multi_info_read(multi, &left)) {
    if (m->msg != CURLMSG_DONE || m->easy_handle != easy_) continue;
    ended = true;
    result = m->data.result;
  }
  // The close asked for from inside a callback, now that libcurl is out.
  if (closeLater_) return Release();
  if (!ended) return;
  curl_multi_remove_handle(multi, static_cast<CURL*>(easy_));
  added_ = false;
  OnEnd(result == CURLE_OK ? std::string()
                           : (errorText_[0] ? errorText_ : curl_easy_strerror(result)));
}

void CurlInet::WaitForIo(int ms) {
  curl_multi_poll(static_cast<CURLM*>(multi_), nullptr, 0, ms, nullptr);
}

}  // namespace ovlu
