// A slow download through the real Qt window (offscreen): in the middle of
// it the window is saved as a PNG for a person to look at, and what it
// shows then is checked.
#include <gtest/gtest.h>

#include <QtGui/QImage>
#include <QtWidgets/QApplication>
#include <cstdlib>
#include <regex>

#include "NetRig.h"
#include "ports/linux/qt/QtWindow.h"
#include "shell/Globals.h"

#ifndef OVLU_SHOT_DIR
#define OVLU_SHOT_DIR "."
#endif

namespace ovlu::nettest {
namespace {

using test::PatternBytes;
using test::TempDir;
using test::TestServer;

TEST(QtDownloadTest, WindowInTheMiddleOfASlowDownload) {
  TempDir www("ovlu-net-www"), dest("ovlu-net-dest");
  test::WriteFile(www / "done.dat", PatternBytes(5000, 1));
  test::WriteFile(www / "slow.dat", PatternBytes(300000, 2));
  TestServer ts(www.Path());

  PosixHost host;
  ResetProcessValues();
  QtWindow window;
  CurlInet inet([&window] { window.DoEvents(); });
  window.onPump = [&inet] { inet.Poll(); };
  MainForm form(window, inet);
  window.Load(&form);
  window.SetCaption(Control::LabelTitle, "OV Live Update");
  AddItem(window, ts.Url("/file/done.dat"), ts.Root(), dest.Path(), "Listino.dat");
  AddItem(window, ts.Url("/file/slow.dat?rate=60000"), ts.Root(), dest.Path(), "OrVento.exe", "R");
  window.Show();

  const std::string shot = std::string(OVLU_SHOT_DIR) + "/download-running.png";
  std::remove(shot.c_str());
  bool taken = false;
  std::string mesg, status, forecast, percent;
  auto pump = window.onPump;
  window.onPump = [&] {
    pump();
    // Once the second file is half in and the times have been computed.
    if (taken || form.CurrentRow != 2 || window.ProgressValue() < 150000 ||
        window.Caption(Control::Label3).find("Tempo previsto: ") != 0)
      return;
    taken = true;
    form.SetPercent();
    mesg = window.Caption(Control::LblMesg);
    status = window.Caption(Control::LabelST);
    forecast = window.Caption(Control::Label3);
    percent = window.SubItem(2, 2);
    window.SaveScreenshot(shot);
  };
  form.DownloadAllFiles();
  window.onPump = nullptr;

  ASSERT_TRUE(taken);
  EXPECT_EQ(mesg, "Download...");
  EXPECT_TRUE(std::regex_match(status, std::regex("Tempo restante: \\d+ sec \\([0-9.,]+ MB di "
                                                  "0[.,]3 MB\\)")))
      << status;
  // 300 kB at 60 kB a second: about five seconds, and never much less, as
  // the server cannot send faster.
  std::smatch m;
  ASSERT_TRUE(std::regex_match(forecast, m, std::regex("Tempo previsto: (\\d+) sec"))) << forecast;
  EXPECT_GE(std::stoi(m[1]), 4);
  EXPECT_LE(std::stoi(m[1]), 10);
  EXPECT_TRUE(std::regex_match(percent, std::regex("(5\\d|6\\d)%"))) << percent;
  QImage img(QString::fromStdString(shot));
  ASSERT_FALSE(img.isNull()) << shot;
  EXPECT_GT(img.width(), 300);

  EXPECT_EQ(window.SubItem(1, 2), "100%");
  EXPECT_EQ(window.SubItem(2, 2), "100%");
  EXPECT_TRUE(test::ReadFile(dest / "OrVento.exe.tmp.remove") == PatternBytes(300000, 2));
  EXPECT_EQ(window.Caption(Control::LblMesg), "Download completato.");
  window.Unload();
}

}  // namespace
}  // namespace ovlu::nettest

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
