// Program entry of OVLiveUpdate on Linux: the Qt window, the libcurl
// transfer and the POSIX file layer under the agent's main window.
#include <QApplication>

#include "ports/linux/crypto/OpenSslCrypto.h"
#include "ports/linux/net/CurlInet.h"
#include "ports/linux/posix/Posix.h"
#include "ports/linux/qt/QtWindow.h"
#include "shell/EventDispatch.h"
#include "shell/MainForm.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);

  ovlu::PosixFileSystem fs;
  ovlu::PosixSystem sys(argc, argv);
  ovlu::SetHost(&fs, &sys);
  ovlu::OpenSslCrypto crypto;
  ovlu::SetCrypto(&crypto);

  ovlu::QtWindow window;
  ovlu::CurlInet inet;
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
