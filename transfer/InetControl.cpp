#include "transfer/InetControl.h"

#include <algorithm>
#include <cstdio>

#include "platform/Host.h"
#include "shell/RunLog.h"
#include "shell/ScopedFlag.h"
#include "shell/Vb.h"
#include "transfer/Url.h"

namespace ovlu {

namespace {

// How long a wait blocks for the network before letting window events run.
constexpr int kWaitMs = 5;
// With this much body buffered a Poll drives the network only once a
// millisecond: the agent has plenty to read.
constexpr std::size_t kLowWater = InetControl::kBufferSize / 2;
static_assert(InetControl::kBlock <= InetControl::kBufferSize - kLowWater);

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return (x | 0x20) == (y | 0x20);
         });
}

// Value of the last header called name in a block of header lines; found
// tells whether there was one.
std::string HeaderValue(const std::string& block, const std::string& name, bool* found = nullptr) {
  std::string value;
  bool any = false;
  for (std::size_t start = 0; start < block.size();) {
    std::size_t end = block.find('\n', start);
    if (end == std::string::npos) end = block.size();
    const std::string line = block.substr(start, end - start);
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && SameName(TrimBlanks(line.substr(0, colon)), name)) {
      value = TrimBlanks(line.substr(colon + 1));
      any = true;
    }
    start = end + 1;
  }
  if (found) *found = any;
  return value;
}

// The declared length, -1 when there is none the reader would take.
long long LengthOf(const std::string& text) {
  try {
    const std::int32_t n = ContentLengthOf(text);
    return n >= 0 ? n : -1;
  } catch (const VbError&) {
    return -1;
  }
}

}  // namespace

std::int32_t ContentLengthOf(const std::string& text) { return TextToLong(text); }

void InetControl::SetRequestTimeout(int seconds) {
  if (seconds < 0) throw VbError(errInvalidProperty, "negative time-out");
  timeoutSeconds_ = seconds;
}

// Every request is HTTP(S), whatever the URL: the protocol is only checked.
void InetControl::SetProtocol(int protocol) {
  if (protocol < 0 || protocol > 5) throw VbError(errInvalidProperty, "unknown protocol");
}

// ---------------------------------------------------------------- a request

void InetControl::Begin(const std::string& url, bool probe) {
  if (executing_ || probing_) throw VbError(errTransfer, "Still executing last request");
  probe_ = probe;
  failed_ = answered_ = reading_ = false;
  redirects_ = 0;
  cancelled_ = false;
  bodySeen_ = BodyEnd::None;
  error_.clear();
  events_.clear();
  ring_.Clear();
  DropScratch();
  const std::string wire = WireUrl(url);
  if (wire.empty()) {
    Log().Add(probe ? "probe" : "get", url + ": refused, not an http or https URL the agent takes");
    throw VbError(errTransfer, UrlRefusal(url));
  }
  requestStart_ = Clock::now();
  Log().Add(probe ? "probe" : "get", wire);
  StartHop(wire);
}

void InetControl::StartHop(const std::string& url) {
  url_ = url;
  stage_ = Stage::Idle;
  next_ = Next::None;
  connected_ = false;
  status_ = 0;
  headers_.clear();
  location_.clear();
  length_ = -1;
  received_ = 0;
  bodyEnd_ = BodyEnd::None;
  // Nothing before the request counts against it.
  lastActivity_ = Clock::now();
  nextStep_ = Clock::time_point{};
  Open(Request{url, kUserAgent});
  hopOpen_ = true;
}

void InetControl::Advance(Stage to) {
  lastActivity_ = Clock::now();
  if (to <= stage_ || stage_ >= Stage::Answered) return;
  static const std::int16_t states[][2] = {
      {0, 0},
      {icResolvingHost, 0},
      {icHostResolved, icConnecting},
      {icConnected, icRequesting},
      {icRequestSent, 0},
      {icReceivingResponse, 0},
      {icResponseReceived, 0},
  };
  for (int s = static_cast<int>(stage_) + 1; s <= static_cast<int>(to); ++s)
    for (std::int16_t state : states[s])
      if (state != 0) Raise(state);
  stage_ = to;
  if (to >= Stage::Connected) connected_ = true;
}

void InetControl::OnHeaders(int status, const std::string& headerBlock) {
  if (stage_ >= Stage::Answered || next_ != Next::None) return;
  Advance(Stage::Answered);
  if (headerBlock.size() > kMaxHeaderBlock) {
    // Ended here, from inside the platform's report: the platform must cope
    // with a close asked for from within its own callback.
    Fail("header block of " + std::to_string(headerBlock.size()) + " bytes");
    return;
  }
  status_ = status;
  headers_ = headerBlock;
  const std::string first = headerBlock.substr(0, headerBlock.find_first_of("\r\n"));
  bool hasLocation = false;
  const std::string location = HeaderValue(headerBlock, "Location", &hasLocation);
  bool hasLength = false;
  const std::string length = HeaderValue(headerBlock, "Content-Length", &hasLength);
  Log().Add("hop", url_ + ": " + (first.empty() ? "status " + std::to_string(status) : first) +
                       (hasLocation ? ", Location: " + location : "") +
                       (hasLength ? ", Content-Length: " + length : ", no Content-Length"));
  if (probe_) {
    next_ = Next::Answered;
    return;
  }
  if (status >= 200 && status <= 299) {
    length_ = LengthOf(length);
    stage_ = Stage::Body;
    lastBody_ = Clock::now();
    reading_ = true;
    Raise(icResponseCompleted, true);
    return;
  }
  location_ = location;
  const bool redirect =
      status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
  next_ = redirect && hasLocation ? Next::Follow : Next::Fail;
  if (next_ == Next::Fail) error_ = "HTTP status " + std::to_string(status);
}

void InetControl::OnBody(const unsigned char* data, std::size_t n) {
  lastActivity_ = Clock::now();
  if (stage_ != Stage::Body || n == 0) return;  // the body of an answer that is not read
  lastBody_ = lastActivity_;
  if (spilled_ == 0 && ring_.Push(data, n)) {
    received_ += n;
    return;
  }
  if (!scratch_) {
    // The platform handed over more than it was given room for.
    EndBody(BodyEnd::Broken, "body buffer overrun");
    return;
  }
  // What the ring can take, unless older bytes wait in the scratch file,
  // then the rest after those.
  const std::size_t first = spilled_ == 0 ? ring_.Free() : 0;
  ring_.Push(data, first);
  try {
    scratch_->Append(data + first, n - first);
  } catch (const VbError& e) {
    EndBody(BodyEnd::Broken, e.what());
    return;
  }
  spilled_ += n - first;
  received_ += n;
}

void InetControl::OnEnd(const std::string& error) {
  if (!hopOpen_) return;
  // The platform has let the connection go; nothing is left to close.
  hopOpen_ = false;
  lastActivity_ = Clock::now();
  if (stage_ == Stage::Body) {
    const bool whole =
        length_ >= 0 ? received_ >= static_cast<unsigned long long>(length_) : error.empty();
    EndBody(whole ? BodyEnd::Ended : BodyEnd::Broken,
            !error.empty() ? error
                           : "closed after " + std::to_string(received_) + " of " +
                                 std::to_string(length_) + " bytes");
    return;
  }
  EndHop(true);
  // An answer already decided what comes next; else the request fails.
  if (next_ == Next::None) {
    next_ = Next::Fail;
    error_ = error.empty() ? "connection closed without an answer" : error;
  }
}

// Ends the connection of the current hop; report gives its 9 and 10.
void InetControl::EndHop(bool report) {
  if (hopOpen_) Close();
  hopOpen_ = false;
  if (report && connected_) {
    Raise(icDisconnecting);
    Raise(icDisconnected);
  }
  connected_ = false;
}

void InetControl::EndBody(BodyEnd how, const std::string& why) {
  const double seconds = std::chrono::duration<double>(Clock::now() - requestStart_).count();
  char took[32];
  std::snprintf(took, sizeof took, "%.3f", seconds);
  Log().Add("body", url_ + ": " + std::to_string(received_) + " bytes of " +
                        (length_ >= 0 ? std::to_string(length_) : std::string("no length")) +
                        " in " + took + " s, " +
                        (how == BodyEnd::Ended ? std::string("whole") : "broken: " + why));
  bodyEnd_ = how;
  if (how == BodyEnd::Broken) error_ = why;
  stage_ = Stage::Over;
  EndHop(true);
}

void InetControl::Fail(const std::string& why) {
  if (error_.empty()) error_ = why;
  Log().Add(probe_ ? "probe" : "failed", url_ + ": " + error_);
  stage_ = Stage::Over;
  EndHop(true);
  failed_ = true;
  if (!probe_) Raise(icError, true);
}

// What an answer or an end decided, carried out outside the platform's I/O.
void InetControl::Settle() {
  const Next next = next_;
  next_ = Next::None;
  switch (next) {
    case Next::None:
      return;
    case Next::Answered:
      stage_ = Stage::Over;
      EndHop(true);
      answered_ = true;
      return;
    case Next::Fail:
      Fail(error_);
      return;
    case Next::Follow: {
      const std::string to = redirects_ < kMaxRedirects ? ResolveUrl(url_, location_) : "";
      if (to.empty()) {
        Fail(redirects_ < kMaxRedirects ? "bad redirect" : "too many redirects");
        return;
      }
      ++redirects_;
      EndHop(true);
      try {
        StartHop(to);
      } catch (const VbError& e) {
        Fail(e.what());
      }
      return;
    }
  }
}

void InetControl::Tick(Clock::time_point now) {
  if (!hopOpen_) return;
  // A full buffer: the agent, not the server, is behind.
  if (stage_ == Stage::Body && Room() < kBlock) lastActivity_ = now;
  if (stage_ == Stage::Body && length_ >= 0 &&
      received_ >= static_cast<unsigned long long>(length_) && now - lastBody_ >= kQuietEnd) {
    EndBody(BodyEnd::Ended, "");
    return;
  }
  if (timeoutSeconds_ > 0 && now - lastActivity_ >= std::chrono::seconds(timeoutSeconds_)) {
    const std::string why = "no data for " + std::to_string(timeoutSeconds_) + " s";
    if (stage_ == Stage::Body)
      EndBody(BodyEnd::Broken, why);
    else
      Fail(why);
  }
}

void InetControl::Step() {
  if (hopOpen_) Drive();
  Settle();
  const Clock::time_point now = Clock::now();
  Tick(now);
  nextStep_ = now + std::chrono::milliseconds(1);
}

// ---------------------------------------------------------------- events

void InetControl::EndRequest() {
  if (stage_ == Stage::Body)
    Log().Add("body", url_ + ": " + std::to_string(received_) +
                          " bytes arrived; the agent read no more of it");
  executing_ = reading_ = false;
  stage_ = Stage::Over;
  EndHop(false);
  events_.clear();
  ring_.Clear();
  DropScratch();
  headers_.clear();
}

void InetControl::DropScratch() {
  scratch_.reset();
  spilled_ = 0;
}

void InetControl::Dispatch() {
  // While the completion handler reads the body, the states that come meanwhile
  // (the connection's 9 and 10) wait until the reader has met the body's
  // end: a whole body then shows them before the handler's last text, a
  // broken one after the handler has returned.
  if (completing_ && bodySeen_ != BodyEnd::Ended) return;
  while (!events_.empty()) {
    const Event e = events_.front();
    if (completing_ && e.terminal) return;
    events_.pop_front();
    if (!e.terminal) {
      if (StateChanged) StateChanged(e.state);
      continue;
    }
    // The request is over once its last handler has returned: what is left
    // of the response, and of its events, is dropped.
    struct Over {
      InetControl* self;
      ~Over() {
        self->completing_ = false;
        self->EndRequest();
      }
    } over{this};
    if (e.state != icResponseCompleted) {
      if (StateChanged) StateChanged(e.state);
      return;
    }
    completing_ = true;
    if (StateChanged) StateChanged(e.state);
    completing_ = false;
    if (!executing_) return;  // cancelled by the handler
    // The body's own end as the handler met it, held back while it ran: the
    // connection's states, then 11 when the body broke. A body the handler
    // left unread is dropped without a word.
    if (bodySeen_ == BodyEnd::None) return;
    const bool broken = bodySeen_ == BodyEnd::Broken;
    while (!events_.empty() && executing_) {
      const Event held = events_.front();
      events_.pop_front();
      if (StateChanged) StateChanged(held.state);
    }
    if (broken && executing_ && StateChanged) StateChanged(icError);
    return;
  }
}

void InetControl::Poll() {
  if (hopOpen_ && (ring_.Size() < kLowWater || Clock::now() >= nextStep_)) Step();
  Dispatch();
}

void InetControl::Receive() {
  if (!hopOpen_) return;
  // The scratch file is made once the ring is full, not before.
  if (stage_ == Stage::Body && !scratch_ && ring_.Free() < kBlock && TheHost().fs != nullptr) {
    try {
      scratch_ = Fs().CreateScratch();
    } catch (const VbError&) {
      // Then the network waits for the agent, as in a normal run.
    }
  }
  const ScopedFlag done(receiving_);
  // Takes what the connection holds, for a few milliseconds at most.
  const Clock::time_point until = Clock::now() + std::chrono::milliseconds(10);
  do {
    const unsigned long long before = received_;
    Step();
    if (received_ == before) break;
  } while (hopOpen_ && Clock::now() < until);
}

void InetControl::Cancel() {
  const bool wasProbing = probing_;
  if (executing_ || probing_) Log().Add(probing_ ? "probe" : "get", url_ + ": dropped");
  EndRequest();
  failed_ = cancelled_ = true;
  completing_ = false;
  if (wasProbing) error_ = "cancelled";
}

// ---------------------------------------------------------------- members

void InetControl::OpenURL(const std::string& url) {
  Begin(url, true);
  probing_ = true;
  struct Done {
    InetControl* self;
    ~Done() {
      self->probing_ = false;
      self->EndHop(false);
    }
  } done{this};
  for (;;) {
    Step();
    if (answered_ || failed_) break;
    WaitForIo(kWaitMs);
    if (doEvents_) doEvents_();
    if (answered_ || failed_) break;
  }
  Dispatch();
  if (!answered_) throw VbError(errTransfer, "Cannot reach " + url + ": " + error_);
}

void InetControl::Execute(const std::string& url, const std::string& operation) {
  if (operation != "GET") throw VbError(errInvalidCall, "Unsupported operation: " + operation);
  Begin(url, false);
  executing_ = true;
}

bool InetControl::StillExecuting() {
  if (!executing_) return false;
  if (events_.empty()) {
    Step();
    if (events_.empty() && executing_ && hopOpen_) {
      WaitForIo(kWaitMs);
      Step();
    }
  }
  return executing_;
}

std::string InetControl::GetHeader(const std::string& name) {
  if (!reading_) return std::string();
  if (name.empty()) return TrimBlanks(headers_);
  return HeaderValue(headers_, name);
}

// Moves the oldest spilled bytes into the ring as far as it has room.
void InetControl::Refill() {
  std::vector<unsigned char> block;
  while (spilled_ > 0 && ring_.Free() > 0) {
    block.resize(
        static_cast<std::size_t>(std::min<unsigned long long>({spilled_, ring_.Free(), kBlock})));
    std::size_t n = 0;
    try {
      n = scratch_->Read(block.data(), block.size());
    } catch (const VbError& e) {
      n = 0;
      error_ = e.what();
    }
    if (n == 0) {
      // The file lost what it held: the body cannot be given whole.
      DropScratch();
      ring_.Clear();
      EndBody(BodyEnd::Broken, error_.empty() ? "scratch file ended early" : error_);
      return;
    }
    ring_.Push(block.data(), n);
    spilled_ -= n;
  }
}

bool InetControl::TakeReady(std::size_t want, std::vector<unsigned char>* out) {
  // The ring takes spilled bytes back a block at a time, or as soon as it
  // holds less than the reader wants: not a file read for every chunk.
  if (spilled_ > 0 && (ring_.Size() < want || ring_.Free() >= kBlock)) Refill();
  const bool lengthIn = length_ >= 0 && received_ >= static_cast<unsigned long long>(length_);
  if (ring_.Size() >= want || (!ring_.Empty() && (bodyEnd_ != BodyEnd::None || lengthIn))) {
    out->resize(std::min(want, ring_.Size()));
    ring_.Pop(out->data(), out->size());
    return true;
  }
  out->clear();
  if (bodyEnd_ == BodyEnd::None) return false;
  bodySeen_ = bodyEnd_;
  if (bodyEnd_ == BodyEnd::Broken) throw VbError(errTransfer, "Transfer broken: " + error_);
  return true;
}

std::vector<unsigned char> InetControl::GetChunk(int size, int /*dataType*/) {
  // A reader whose request was dropped under it gets no more of the body.
  if (cancelled_) throw VbError(errTransfer, "Transfer cancelled");
  std::vector<unsigned char> out;
  if (size <= 0 || !reading_) return out;
  const std::size_t want = std::min<std::size_t>(static_cast<std::size_t>(size), kBufferSize);
  for (;;) {
    if (TakeReady(want, &out)) return out;
    Step();
    if (TakeReady(want, &out)) return out;
    WaitForIo(kWaitMs);
    if (doEvents_) doEvents_();
    if (cancelled_) throw VbError(errTransfer, "Transfer cancelled");
    if (!reading_) return {};
  }
}

}  // namespace ovlu
