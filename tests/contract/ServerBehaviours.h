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
  ServerBehaviour(const char* name, std::string url, States states, Ending ending,
                  const char* probeSays, std::vector<std::string> causes, double atLeast = 0,
                  double atMost = 1.5, std::optional<std::string> file = std::nullopt,
                  double idleBefore = 0)
      : name(name),
        url(std::move(url)),
        states(std::move(states)),
        ending(ending),
        probeSays(probeSays),
        causes(std::move(causes)),
        atLeast(atLeast),
        atMost(atMost),
        file(std::move(file)),
        idleBefore(idleBefore) {}
  const char* name;
  std::string url;
  States states;  // every state raised, probe included, in order
  Ending ending;
  const char* probeSays;  // a piece of the reason --probe gives
  // What the run log must name: the cause of the end, in words a support
  // person can read (parts of its lines, not their wording).
  std::vector<std::string> causes;
  double atLeast, atMost;           // seconds the run took
  std::optional<std::string> file;  // the received file, unless the ending's
  double idleBefore;                // the agent sat idle this long before the run
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
  using B = ServerBehaviour;
  return {
      B("whole file", gen, kRead, Read, whole,
        {"HTTP/1.1 200", "10000 bytes of 10000", "whole", "reads \"100%\""}),
      B("nothing listening", dead + "/gen/10", {1, 2, 3}, Stopped, "server root did not answer",
        {"probe http://127.0.0.1:9", kRefusedWords}, 0, 5),
      B("not found", http + "/none", kRefusedAnswer, Failed, "answers 404",
        {"404", "HTTP status 404", "will not be applied"}),
      B("server error", http + "/gen/10?status=500", kRefusedAnswer, Failed, "answers 500",
        {"500", "HTTP status 500"}),
      B("redirect to the file", http + "/redirect?to=/gen/10000", Join({kHop, kRead}), Read, whole,
        {"302", "Location: /gen/10000", "whole"}),
      // The request and five redirects, then no more.
      B("redirect loop", http + "/loop", Join({kHop, kHop, kHop, kHop, kHop, kHop, kHop, {11}}),
        Failed, "redirects end in no file", {"Location: /loop", "too many redirects"}, 0, 2),
      // The probe counts the redirect as an answer and follows nothing.
      B("server root redirects", rootRedirects + "/gen/10000", kRead, Read, whole,
        {"Location: /", "whole"}, 0, 2),
      B("no Content-Length", gen + "?nolength=1", kUnread, Unread, "has no Content-Length",
        {"no Content-Length", "a.dat.remove: not written: error 13"}),
      B("chunked", gen + "?chunked=1", kUnread, Unread, "sent chunked",
        {"no Content-Length", "not written: error 13"}),
      B("length not a number", gen + "?length=abc", kUnread, Unread, "cannot read (abc)",
        {"Content-Length: abc"}),
      B("length beyond 2^31", gen + "?length=2147483648", kUnread, Unread,
        "cannot read (2147483648)", {"Content-Length: 2147483648"}),
      // "+10000" is a length to the reader, so the control ends the body
      // there too, although the server keeps the connection open.
      B("length with a plus sign", gen + "?length=%2B10000&keepopen=1", kRead, Read, whole,
        {"Content-Length: +10000", "whole"}, 0, 2),
      // A bar cannot have a maximum of 0: the reader stops before the file.
      B("empty file", http + "/gen/0", kUnread, Unread, "the file is empty",
        {"Content-Length: 0", "reads \"0%\""}),
      // Three chunks written: 3072 of 10000 on the bar.
      B("cut short", gen + "?cut=3000", kBroken, Broken, "cut short",
        {"3000 bytes of 10000", "broken", "reads \"31%\""}),
      B("reset mid-body", gen + "?reset=3000", kBroken, Broken, "cut short",
        {"3000 bytes of 10000", "broken"}),
      B("reset after the whole body", gen + "?reset=10000", kRead, Read, whole,
        {"10000 bytes of 10000", "whole"}),
      B("kept open after the whole body", gen + "?keepopen=1", kRead, Read, whole,
        {"10000 bytes of 10000", "whole"}, 0, 2),
      B("body longer than its length", gen + "?extra=3", kRead, Read, whole, {"of 10000", "whole"},
        0, 1.5, support::Pattern(10000) + (kBytesBeyondLength ? "\x03\x0a\x11" : "")),
      B("stall before the headers", gen + "?stall=accept", kNoAnswer, Failed, "got no answer",
        {"no data for 2 s"}, kTimeout, stalled),
      B("stall mid-body", gen + "?stallafter=3000", kBroken, Broken, "cut short",
        {"3000 bytes of 10000", "broken: no data for 2 s"}, kTimeout, stalled),
      // Longer than the time-out in all, never silent for as long.
      B("slow but steady", http + "/gen/4096?rate=1024", kRead, Read, whole,
        {"4096 bytes of 4096", "whole"}, 3.5, 6, support::Pattern(4096)),
      B("HTTPS, trusted, no close notice", https + "/gen/10000", kRead, Read, whole,
        {"https://", "whole"}, 0, 2),
      B("HTTPS, untrusted", untrusted + "/gen/10000", kTlsRefused, Stopped,
        "server root did not answer", {untrusted.substr(untrusted.rfind(':') + 1), kUntrustedWords},
        0, 2),
      // The idle time does not count against the next request.
      B("retry after idle", gen + "?stall=accept", kNoAnswer, Failed, "got no answer",
        {"no data for 2 s"}, kTimeout, stalled, std::nullopt, kTimeout + 1.0),
  };
}

}  // namespace ovlu::test
