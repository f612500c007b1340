// The test server's behaviours, one row each, with what the agent's
// download sequence does with each one: the states the transfer control
// raises, how the run ends, what the run log names and how long it takes.
// The transfer contract runs every row on each platform's control (libcurl
// on Linux, WinINet under Wine); "ovlu-list --probe" is checked against the
// agent on every row too, so a behaviour added here is probed as well.
//
// Needs the test server with --tls (CTest's fixture, or ovlu_testserver.py
// --tls DIR --run ... under Wine), which gives the URLs.
#pragma once

#include "tests/contract/InetRig.h"
// (first: it brings the Windows headers)

#include <optional>
#include <string>
#include <vector>

namespace ovlu::test {

using States = std::vector<std::int16_t>;

inline States Join(std::initializer_list<States> parts) {
  States out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

#ifdef _WIN32
// WinINet stops reading a body at its Content-Length.
inline constexpr bool kBytesBeyondLength = false;
// WinINet reports the connection before the TLS handshake, libcurl after it.
inline const States kTlsRefused = {1, 2, 3, 4, 5, 9, 10};
// How the platform's own reason reads in the log, for a refused connection
// and a certificate nobody vouches for.
inline constexpr char kRefusedWords[] = "WinINet error 12029";
inline constexpr char kUntrustedWords[] = "WinINet error";
#else
inline constexpr bool kBytesBeyondLength = true;
inline const States kTlsRefused = {1, 2, 3};
inline constexpr char kRefusedWords[] = "Couldn't connect";
inline constexpr char kUntrustedWords[] = "certificate";
#endif

enum Ending {
  Read,     // read to its end: the cancel flag cleared
  Broken,   // cut after some chunks: the flag set, the bytes written kept
  Unread,   // the first chunk was never taken (no usable length): flag as it was, no file
  Failed,   // ended with 11: the flag set
  Stopped,  // the probe failed: the sequence stopped, the flag as it was
};

inline const States kExchange = {icResolvingHost,     icHostResolved,    icConnecting,
                                 icConnected,         icRequesting,      icRequestSent,
                                 icReceivingResponse, icResponseReceived};
inline const States kClose = {icDisconnecting, icDisconnected};
inline const States kHop = Join({kExchange, kClose});
inline const States kRead = Join({kHop, kExchange, {icResponseCompleted}, kClose});
inline const States kUnread = Join({kHop, kExchange, {icResponseCompleted}});
// The body broke after the completion began: 11 once its handler returned.
inline const States kBroken = Join({kRead, {icError}});
inline const States kRefusedAnswer = Join({kHop, kHop, {icError}});
inline const States kNoAnswer = Join({kHop, {1, 2, 3, 4, 5, 6}, kClose, {icError}});

struct ServerBehaviour {
  const char* name;
  std::string url;
  States states;  // every state raised, probe included, in order
  Ending ending;
  // What the run log must name: the cause of the end, in words a support
  // person can read (parts of its lines, not their wording).
  std::vector<std::string> causes;
  const char* probeSays;                           // a piece of the reason --probe gives
  double atLeast = 0, atMost = 1.5;                // seconds the run took
  std::optional<std::string> file = std::nullopt;  // the received file, unless the ending's
  double idleBefore = 0;                           // the agent sat idle this long before the run
};

inline std::vector<ServerBehaviour> ServerBehaviours() {
  const std::string http = support::ServerValue("OVLU_TEST_HTTP");
  const std::string https = support::ServerValue("OVLU_TEST_HTTPS");
  const std::string untrusted = support::ServerValue("OVLU_TEST_HTTPS_UNTRUSTED");
  const std::string dead = "http://127.0.0.1:9";  // the discard port: nobody listens
  const std::string rootRedirects = "http://localhost:" + http.substr(http.rfind(':') + 1);
  const std::string gen = http + "/gen/10000";
  const char* whole = "arrived whole";
  const double stalled = kTimeout + 1.5;
  return {
      {"whole file",
       gen,
       kRead,
       Read,
       {"HTTP/1.1 200", "10000 bytes of 10000", "whole", "reads \"100%\""},
       whole},
      {"nothing listening",
       dead + "/gen/10",
       {1, 2, 3},
       Stopped,
       {"probe http://127.0.0.1:9", kRefusedWords},
       "server root did not answer",
       0,
       5},
      {"not found",
       http + "/none",
       kRefusedAnswer,
       Failed,
       {"404", "HTTP status 404", "will not be applied"},
       "answers 404"},
      {"server error",
       http + "/gen/10?status=500",
       kRefusedAnswer,
       Failed,
       {"500", "HTTP status 500"},
       "answers 500"},
      {"redirect to the file",
       http + "/redirect?to=/gen/10000",
       Join({kHop, kRead}),
       Read,
       {"302", "Location: /gen/10000", "whole"},
       whole},
      // The request and five redirects, then no more.
      {"redirect loop",
       http + "/loop",
       Join({kHop, kHop, kHop, kHop, kHop, kHop, kHop, {11}}),
       Failed,
       {"Location: /loop", "too many redirects"},
       "redirects end in no file",
       0,
       2},
      // The probe counts the redirect as an answer and follows nothing.
      {"server root redirects",
       rootRedirects + "/gen/10000",
       kRead,
       Read,
       {"Location: /", "whole"},
       whole,
       0,
       2},
      {"no Content-Length",
       gen + "?nolength=1",
       kUnread,
       Unread,
       {"no Content-Length", "a.dat.remove: not written: error 13"},
       "has no Content-Length"},
      {"chunked",
       gen + "?chunked=1",
       kUnread,
       Unread,
       {"no Content-Length", "not written: error 13"},
       "sent chunked"},
      {"length not a number",
       gen + "?length=abc",
       kUnread,
       Unread,
       {"Content-Length: abc"},
       "cannot read (abc)"},
      {"length beyond 2^31",
       gen + "?length=2147483648",
       kUnread,
       Unread,
       {"Content-Length: 2147483648"},
       "cannot read (2147483648)"},
      // "+10000" is a length to the reader, so the control ends the body
      // there too, although the server keeps the connection open.
      {"length with a plus sign",
       gen + "?length=%2B10000&keepopen=1",
       kRead,
       Read,
       {"Content-Length: +10000", "whole"},
       whole,
       0,
       2},
      // A bar cannot have a maximum of 0: the reader stops before the file.
      {"empty file",
       http + "/gen/0",
       kUnread,
       Unread,
       {"Content-Length: 0", "reads \"0%\""},
       "the file is empty"},
      // Three chunks written: 3072 of 10000 on the bar.
      {"cut short",
       gen + "?cut=3000",
       kBroken,
       Broken,
       {"3000 bytes of 10000", "broken", "reads \"31%\""},
       "cut short"},
      {"reset mid-body",
       gen + "?reset=3000",
       kBroken,
       Broken,
       {"3000 bytes of 10000", "broken"},
       "cut short"},
      {"reset after the whole body",
       gen + "?reset=10000",
       kRead,
       Read,
       {"10000 bytes of 10000", "whole"},
       whole},
      {"kept open after the whole body",
       gen + "?keepopen=1",
       kRead,
       Read,
       {"10000 bytes of 10000", "whole"},
       whole,
       0,
       2},
      {"body longer than its length",
       gen + "?extra=3",
       kRead,
       Read,
       {"of 10000", "whole"},
       whole,
       0,
       1.5,
       support::Pattern(10000) + (kBytesBeyondLength ? "\x03\x0a\x11" : "")},
      {"stall before the headers",
       gen + "?stall=accept",
       kNoAnswer,
       Failed,
       {"no data for 2 s"},
       "got no answer",
       kTimeout,
       stalled},
      {"stall mid-body",
       gen + "?stallafter=3000",
       kBroken,
       Broken,
       {"3000 bytes of 10000", "broken: no data for 2 s"},
       "cut short",
       kTimeout,
       stalled},
      // Longer than the time-out in all, never silent for as long.
      {"slow but steady",
       http + "/gen/4096?rate=1024",
       kRead,
       Read,
       {"4096 bytes of 4096", "whole"},
       whole,
       3.5,
       6,
       support::Pattern(4096)},
      {"HTTPS, trusted, no close notice",
       https + "/gen/10000",
       kRead,
       Read,
       {"https://", "whole"},
       whole,
       0,
       2},
      {"HTTPS, untrusted",
       untrusted + "/gen/10000",
       kTlsRefused,
       Stopped,
       {untrusted.substr(untrusted.rfind(':') + 1), kUntrustedWords},
       "server root did not answer",
       0,
       2},
      // The idle time does not count against the next request.
      {"retry after idle",
       gen + "?stall=accept",
       kNoAnswer,
       Failed,
       {"no data for 2 s"},
       "got no answer",
       kTimeout,
       stalled,
       std::nullopt,
       kTimeout + 1.0},
  };
}

}  // namespace ovlu::test
