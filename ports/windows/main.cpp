// Program entry of OVLiveUpdate.exe: the Windows platform under the agent's
// main window.
#include "ports/windows/WinApi.h"
// (the Windows headers first: see WinApi.h)
#include "ports/windows/CngCrypto.h"
#include "ports/windows/Win32Host.h"
#include "ports/windows/Win32Window.h"
#include "ports/windows/WinInetTransfer.h"
#include "shell/EventDispatch.h"
#include "shell/MainForm.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ovlu::win::Win32FileSystem fs;
  ovlu::win::Win32System sys;
  ovlu::SetHost(&fs, &sys);
  ovlu::win::CngCrypto crypto;
  ovlu::SetCrypto(&crypto);

  ovlu::win::Win32Window window;
  ovlu::win::WinInetTransfer inet;
  ovlu::ConnectPump(window, inet);

  ovlu::MainForm form(window, inet);
  try {
    form.Form_Initialize();
  } catch (...) {
    // Start-up traps its own errors; whatever still escapes leaves the
    // window as far as it got.
  }
  return window.Run();
}
