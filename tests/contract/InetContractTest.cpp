// The transfer control of this platform (libcurl on Linux, WinINet under
// Wine) under the agent's download sequence, against the test server's
// faults (the table of ServerBehaviours.h): for each one the states raised,
// the cancel flag, the received file and the row's percentage, and how long
// the run took. The same table runs on both platforms.
//
// Run with the test server (CTest's fixture, or ovlu_testserver.py --tls DIR
// --run ... under Wine), which gives its URLs. The request time-out is
// cut from 40 to kTimeout seconds, so that the stalled servers end soon.
#include "ServerBehaviours.h"
// (first: it brings the Windows headers)
#ifdef _WIN32
#include <wincrypt.h>
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "tests/support/TestSupport.h"

namespace ovlu::test {
namespace {

// Makes the system trust the test server's certificate authority, as a
// customer's system trusts the authority of a real server.
void TrustTestAuthority(const std::string& caFile) {
#ifdef _WIN32
  const std::string pem = support::Slurp("Z:" + caFile);
  std::vector<BYTE> der(pem.size());
  DWORD size = static_cast<DWORD>(der.size());
  ASSERT_TRUE(::CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                                     nullptr, nullptr));
  ASSERT_TRUE(::CertAddEncodedCertificateToSystemStoreA("ROOT", der.data(), size));
#else
  setenv("SSL_CERT_FILE", caFile.c_str(), 1);
#endif
}

// Every test asks the test server (CTest's fixture, or
// ovlu_testserver.py --run under Wine) for its URLs.
class InetContract : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(http.empty()) << "needs the test server"; }
  const std::string http = support::ServerValue("OVLU_TEST_HTTP");
};

TEST_F(InetContract, EveryServerBehaviourEndsAsDefined) {
  ASSERT_FALSE(support::ServerValue("OVLU_TEST_HTTPS").empty() ||
               support::ServerValue("OVLU_TEST_HTTPS_UNTRUSTED").empty())
      << "needs the test server with --tls";
  TrustTestAuthority(support::ServerValue("OVLU_TEST_CA"));
  const std::string file = support::Pattern(10000);

  // By ending: the cancel flag after the run (set before it only for Read, to
  // see it cleared), the received file unless the row says, the row's
  // percentage and the message (a stopped run keeps its last state's).
  // A body read to its end shows the connection's end before the
  // completion's last text.
  const std::string done = "Download completato.";
  const std::tuple<std::int16_t, std::string, const char*, std::string> ends[] = {
      {vbFalse, file, "100%", done},
      {vbTrue, file.substr(0, 3000), "31%",
       " Si sono verificati degli errori durante la ricezione dei dati."},
      {vbFalse, kNoFile, "0%", done},
      {vbTrue, kNoFile, "0%", " Si sono verificati degli errori durante la ricezione dei dati."},
      {vbFalse, kNoFile, "Server non disponibile.", ""}};

  // One control for the whole table, as the agent has one for its life.
  ShortInet inet;
  for (const ServerBehaviour& r : ServerBehaviours()) {
    SCOPED_TRACE(r.name);
    AgentRun<> run(inet, r.url);
    States states;
    bool completing = false;
    // Raised while the completion handler ran, and whether the bar had
    // reached its end then: the body read to its last chunk.
    States duringBody;
    bool barAtEnd = true;
    inet.StateChanged = [&](std::int16_t s) {
      states.push_back(s);
      if (completing) {
        duringBody.push_back(s);
        barAtEnd = barAtEnd && run.window.ProgressValue() >= run.window.ProgressMax();
        run.form.Inet1_StateChanged(s);
        return;
      }
      completing = s == icResponseCompleted;
      run.form.Inet1_StateChanged(s);
      completing = false;
    };
    const auto& [cancel, received, percent, message] = ends[r.ending];
    G().CancelRequested = r.ending == Read ? vbTrue : vbFalse;
    std::this_thread::sleep_for(std::chrono::duration<double>(r.idleBefore));
    const double took = run.Run();

    EXPECT_EQ(states, r.states);
    // The connection's end shows only once the body is read; a broken body
    // shows its end after the handler.
    EXPECT_EQ(duringBody, r.ending == Read ? kClose : States{});
    EXPECT_TRUE(barAtEnd);
    EXPECT_EQ(G().CancelRequested, cancel);
    const std::string got = run.File();
    EXPECT_TRUE(got == r.file.value_or(received)) << got.size() << " bytes";
    EXPECT_EQ(run.window.SubItem(1, 2), percent);
    if (r.ending != Stopped) {
      EXPECT_EQ(run.window.Caption(Control::LblMesg), message);
    }
    const std::string log = run.Logged();
    for (const std::string& needle : r.causes)
      EXPECT_NE(log.find(needle), std::string::npos) << "\"" << needle << "\" not in\n" << log;
    EXPECT_GE(took, r.atLeast);
    EXPECT_LE(took, r.atMost);
    // The window's events ran all the while.
    EXPECT_LT(run.longestWait, 0.25);
  }
}

// Cancel drops the request wherever the agent stands: no state after it,
// no more of the body, StillExecuting false at once, and the control takes
// the next request as usual (the rows share one control).
TEST_F(InetContract, CancelDropsTheRequestAtOnce) {
  enum Where { OnState, InBodyWait, InProbeWait };
  struct Row {
    const char* name;
    std::string url;
    Where where;
    std::int16_t state;  // OnState: the state whose handler cancels (of the GET)
    States states;       // raised in all
    bool fileMade;       // the reader had begun
  } rows[] = {
      {"while the request is sent", http + "/gen/10000", OnState, icRequestSent,
       Join({kHop, {1, 2, 3, 4, 5, 6}}), false},
      // A completion that is pending reads no body.
      {"in the completion handler", http + "/gen/10000", OnState, icResponseCompleted,
       Join({kHop, kExchange, {12}}), false},
      // 40 KiB at 20 KiB/s: the reader waits for bytes.
      {"inside GetChunk's wait", http + "/gen/40960?rate=20480", InBodyWait, 0,
       Join({kHop, kExchange, {12}}), true},
      // On the first pump of the probe, before any of its states.
      {"inside OpenURL's wait", http + "/gen/10000", InProbeWait, 0, {}, false},
  };
  ShortInet inet;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    AgentRun<> run(inet, r.url);
    States states;
    bool probing = true, completing = false;
    std::size_t raisedBefore = 0;
    bool cancelled = false, stillExecuting = true;
    const auto cancel = [&] {
      inet.Cancel();
      cancelled = true;
      raisedBefore = states.size();
      stillExecuting = inet.StillExecuting();
    };
    inet.StateChanged = [&](std::int16_t s) {
      states.push_back(s);
      if (s == icDisconnected) probing = false;
      completing = s == icResponseCompleted;
      if (r.where == OnState && !probing && s == r.state) cancel();
      run.form.Inet1_StateChanged(s);
      completing = false;
    };
    const auto poll = run.window.onPump;
    run.window.onPump = [&] {
      if (!cancelled &&
          ((r.where == InBodyWait && completing && run.window.ProgressValue() >= 4096) ||
           (r.where == InProbeWait && probing)))
        cancel();
      poll();
    };
    G().CancelRequested = vbFalse;
    const double took = run.Run();

    ASSERT_TRUE(cancelled);
    EXPECT_FALSE(stillExecuting);
    EXPECT_EQ(states, r.states);
    EXPECT_EQ(states.size(), raisedBefore);
    EXPECT_LT(took, 1.5);
    const std::string got = run.File();
    if (r.fileMade) {
      // What was read before the cancel, and nothing after it.
      EXPECT_EQ(G().CancelRequested, vbTrue);
      EXPECT_GE(got.size(), 4096u);
      EXPECT_LT(got.size(), 40960u);
    } else {
      EXPECT_EQ(got, kNoFile);
    }
  }
}

// A modal box is open for longer than the server waits for a client that
// takes nothing: the window lets no events run, and the body is moved on by
// Receive alone. After the box the file arrives whole, through a scratch
// file that is gone at the end, with no more memory held. Without Receive
// the same server breaks the body. Silence still counts meanwhile: a server
// that stops sending under the box is timed out before the box closes.
TEST_F(InetContract, TheBodyKeepsArrivingWhileABoxIsOpen) {
  // Far more than the buffer and the sockets' own buffers hold.
  const std::size_t size = 32 * 1024 * 1024;
  const std::string big = http + "/gen/" + std::to_string(size);
  const double box = 3.5;  // seconds without window events
  const struct {
    const char* name;
    std::string url;
    bool receive;
    bool whole;
  } rows[] = {
      {"Receive while the box is open", big + "?sendtimeout=2", true, true},
      {"nobody reads", big + "?sendtimeout=2", false, false},
      {"the server falls silent under the box", big + "?stallafter=1000000", true, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    ShortInet inet;
    AgentRun<> run(inet, r.url);
    States states;
    int scratchDuring = 0;
    long grew = 0;
    inet.StateChanged = [&](std::int16_t s) {
      states.push_back(s);
      if (s == icResponseCompleted) {
        const long before = RssKiB();
        for (const auto until = Clock::now() + std::chrono::duration<double>(box);
             Clock::now() < until;) {
          if (r.receive) inet.Receive();
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        grew = RssKiB() - before;
        scratchDuring = run.fs.ScratchLeft();
      }
      run.form.Inet1_StateChanged(s);
    };
    const double took = run.Run();
    const std::string got = run.File();
    if (r.whole) {
      EXPECT_EQ(states, kRead);
      EXPECT_TRUE(got == support::Pattern(size)) << got.size() << " bytes";
      EXPECT_EQ(run.window.SubItem(1, 2), "100%");
      EXPECT_EQ(scratchDuring, 1);
    } else {
      EXPECT_EQ(states, kBroken);
      EXPECT_LT(got.size(), size);
      EXPECT_EQ(G().CancelRequested, vbTrue);
    }
    EXPECT_LT(grew, 8 * 1024);
    // The stall was timed out under the box, not after it.
    EXPECT_LT(took, box + 1.5);
    EXPECT_EQ(run.fs.ScratchLeft(), 0);
  }
}

// Every request runs on a connection of its own: a quick file after a slow
// one arrives (a reused connection that the server had closed would fail
// its probe), also from a server that closes after every answer without
// saying so.
TEST_F(InetContract, EveryRequestHasAConnectionOfItsOwn) {
  const std::vector<std::size_t> sizes = {20000, 6144, 30000};
  const struct {
    const char* name;
    std::vector<std::string> urls;
  } rows[] = {
      {"quick, slow at 1 KiB/s, quick",
       {http + "/gen/20000", http + "/gen/6144?rate=1024", http + "/gen/30000"}},
      {"a server that closes without saying so",
       {http + "/gen/20000?silentclose=1", http + "/gen/6144?rate=1024&silentclose=1",
        http + "/gen/30000?silentclose=1"}},
  };
  ShortInet inet;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    AgentRun<> run(inet, r.urls);
    run.Run();
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(run.window.SubItem(i + 1, 2), "100%") << "row " << i + 1;
      EXPECT_TRUE(run.File(i) == support::Pattern(sizes[static_cast<std::size_t>(i)]))
          << "row " << i + 1 << ": " << run.File(i).size() << " bytes";
    }
  }
}

// Which URLs are taken and what goes on the wire, for a list's URL and for
// a redirect's Location: the targets as the server saw them.
TEST_F(InetContract, UrlsGoOnTheWireAsTheCoreWritesThem) {
  // Marks this run's requests among those of other tests.
  const std::string mark = std::to_string(Clock::now().time_since_epoch().count() % 1000000007);
  const struct {
    const char* name;
    std::string url;
    std::string target;  // the last request's, as the server read it
  } rows[] = {
      {"blanks, non-ASCII, bare and encoded %, a fragment",
       http + "/u" + mark + "/a b\xE8%41%zz.dat?x=1 2#frag",
       "/u" + mark + "/a%20b%E8%41%25zz.dat?x=1%202"},
      {"relative Location with dot segments and a blank",
       http + "/redirect?to=../r" + mark + "/./x%20y/../z w.dat", "/r" + mark + "/z%20w.dat"},
      {"absolute Location with a byte beyond ASCII and a fragment",
       http + "/redirect?to=" + http + "/a" + mark + "/caf%E8%23x.dat", "/a" + mark + "/caf%E8"},
      {"the scheme and host in capitals", "HTTP://" + http.substr(7) + "/C" + mark, "/C" + mark},
  };
  ShortInet inet;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    {
      AgentRun<> run(inet, r.url);
      run.Run();
    }
    AgentRun<> log(inet, http + "/__requests");
    log.Run();
    const std::string lines = log.File();
    std::string last;
    for (std::size_t at = 0; (at = lines.find("GET ", at)) != std::string::npos; at += 4) {
      const std::string line = lines.substr(at + 4, lines.find('\n', at) - at - 4);
      if (line.find(mark) != std::string::npos && line.compare(0, 9, "/redirect") != 0) last = line;
    }
    EXPECT_EQ(last, r.target);
  }
  // The agent names itself the same on every platform.
  AgentRun<> agent(inet, http + "/agent");
  agent.Run();
  EXPECT_EQ(agent.File(), "OVLiveUpdate/7.00");
  // Refused before anything is sent.
  for (const std::string url :
       {"ftp://127.0.0.1/x", "http:///x", "http://", "http://a b/x", "http//127.0.0.1/x",
        "http://127.0.0.1:80a/x", "http://127.0.0.1:99999/x", "http://127.0.0.1:0/x",
        "file:///C:/x", ""}) {
    SCOPED_TRACE(url);
    EXPECT_THROW(inet.Execute(url, "GET"), VbError);
    EXPECT_FALSE(inet.StillExecuting());
    EXPECT_THROW(inet.OpenURL(url), VbError);
  }
}

// A request dropped while the platform is still opening it (the agent's
// cancel, or a time-out before the platform has made its request) leaves no
// connection behind once the next request has run.
TEST_F(InetContract, ADroppedRequestLeavesNoConnectionBehind) {
  const std::string mark = "d" + std::to_string(Clock::now().time_since_epoch().count() % 1000003);
  ShortInet inet;
  for (int i = 0; i < 3; ++i) {
    // The server holds the connection until the client lets it go.
    inet.Execute(http + "/gen/10?keepopen=1&mark=" + mark, "GET");
    inet.Cancel();
  }
  const auto held = [&] {
    AgentRun<> run(inet, http + "/__open?mark=" + mark);
    run.Run();
    return run.File();
  };
  std::string open = held();
  for (const auto until = Clock::now() + std::chrono::seconds(3);
       open != "0" && Clock::now() < until;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    open = held();
  }
  EXPECT_EQ(open, "0");
}

// The platform's own callback ends the transfer: the control refuses what
// it reports (more body than there was room for, a header block too long)
// and asks for the close from inside the report. The platform carries it
// out once its library has returned: a clean 11, no crash (the Linux build
// runs with AddressSanitizer).
TEST_F(InetContract, ClosingFromInsideThePlatformsCallbackEndsCleanly) {
  // Tells the platform there is always room, so that it overruns the buffer.
  struct OverrunInet : ShortInet {
    std::size_t Room() const override { return 4 * kBufferSize; }
  };
  struct Row {
    const char* name;
    std::string url;
    bool overrun;
    States states;
  } rows[] = {
      {"more body than room", http + "/gen/8000000", true, kBroken},
      {"header block too long", http + "/gen/10000?headers=80000", false, kRefusedAnswer},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ShortInet plain;
    OverrunInet overrun;
    PlatformInet& inet = r.overrun ? static_cast<PlatformInet&>(overrun) : plain;
    AgentRun<> run(inet, r.url);
    States states;
    inet.StateChanged = [&](std::int16_t s) {
      states.push_back(s);
      // The buffer fills before the reader takes its first chunk.
      if (s == icResponseCompleted)
        for (const auto until = Clock::now() + std::chrono::milliseconds(300);
             Clock::now() < until;)
          inet.Poll();
      run.form.Inet1_StateChanged(s);
    };
    run.Run();
    EXPECT_EQ(states, r.states);
    EXPECT_EQ(G().CancelRequested, vbTrue);
    EXPECT_NE(run.window.SubItem(1, 2), "100%");
  }
}

}  // namespace
}  // namespace ovlu::test
