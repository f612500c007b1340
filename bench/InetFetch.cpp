// Times one download through the agent's sequence over this platform's
// transfer control: "ovlu_inet_fetch URL" prints the bytes received, the
// seconds, the rate and the row's percentage; it fails unless the row
// reads "100%". On Windows the agent's real window is shown and pumped.
#include "tests/contract/InetRig.h"
// (first: it brings the Windows headers)
#include <cstdio>

#ifdef _WIN32
#include "ports/windows/Win32Window.h"
using Window = ovlu::win::Win32Window;
#else
using Window = ovlu::HeadlessWindow;
#endif

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ovlu_inet_fetch URL\n");
    return 2;
  }
  ovlu::test::PlatformInet inet;
  ovlu::test::AgentRun<Window> run(inet, argv[1]);
  run.window.Show();
  const double seconds = run.Run();
  const std::string percent = run.window.SubItem(1, 2);
  const double bytes = static_cast<double>(run.File().size());
  std::printf("%.0f bytes in %.2f s (%.1f MiB/s), row %s\n", bytes, seconds,
              bytes / 1048576.0 / seconds, percent.c_str());
  return percent == "100%" ? 0 : 1;
}
