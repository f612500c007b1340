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

namespace ovlu::nettest {
namespace {

TEST(QtDownloadTest, WindowInTheMiddleOfASlowDownload) {
  test::TempDir www("ovlu-net-www"), dest("ovlu-net-dest");
  test::WritePatternFile(www / "done.dat", 5000, 1);
  test::WritePatternFile(www / "slow.dat", 300000, 2);
  test::TestServer ts(www.Path());

  WindowRig<QtWindow> rig;
  QtWindow& window = rig.window;
  // The window as start-up leaves it with a list: columns, title, colours.
  rig.form.WindowSetUp();
  window.SetCaption(Control::LabelTitle, "OV Live Update");
  SetProgressBarColors(window, window.WindowHandle(Control::ProgressBar1), 240, 240, 255, 32, 43,
                       136, PBM_SETBARCOLOR_, PBM_SETBKCOLOR_);
  AddItem(window, ts.Url("/file/done.dat"), dest.Path(), "Listino.dat");
  AddItem(window, ts.Url("/file/slow.dat?rate=60000"), dest.Path(), "OrVento.exe", "R");
  window.Show();

  const std::string shot = OVLU_SHOT_DIR "/download-running.png";
  std::remove(shot.c_str());
  bool taken = false;
  std::string mesg, status, percent;
  window.onPump = [&] {
    rig.inet.Poll();
    // Once the second file is half in and the times have been computed.
    if (taken || rig.form.CurrentRow != 2 || window.ProgressValue() < 150000 ||
        window.Caption(Control::Label3).find("Tempo previsto: ") != 0)
      return;
    taken = true;
    rig.form.SetPercent();
    mesg = window.Caption(Control::LblMesg);
    status = window.Caption(Control::LabelST);
    percent = window.SubItem(2, 2);
    window.SaveScreenshot(shot);
  };
  rig.form.DownloadAllFiles();

  ASSERT_TRUE(taken);
  EXPECT_EQ(mesg, "Download...");
  EXPECT_TRUE(std::regex_match(
      status, std::regex("Tempo restante: \\d+ sec \\([0-9.,]+ MB di 0[.,]3 MB\\)")))
      << status;
  EXPECT_TRUE(std::regex_match(percent, std::regex("[56]\\d%"))) << percent;
  QImage img(QString::fromStdString(shot));
  ASSERT_FALSE(img.isNull()) << shot;
  EXPECT_GT(img.width(), 300);

  EXPECT_EQ(window.SubItem(1, 2), "100%");
  EXPECT_EQ(window.SubItem(2, 2), "100%");
  EXPECT_TRUE(Slurp(dest / "OrVento.exe.tmp.remove") == Pattern(300000, 2));
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
