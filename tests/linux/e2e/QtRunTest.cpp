// An update run through the real Qt window (offscreen) against nginx: the
// button is clicked as a person would, the question answered Yes, and the
// files are checked on disk afterwards.
#include <gtest/gtest.h>

#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <cstdlib>

#include "Machine.h"
#include "TestServer.h"
#include "ports/linux/qt/QtWindow.h"

namespace ovlu::e2e {
namespace {

TEST(QtRunTest, ButtonAndYesBringEveryFileInPlace) {
  Machine m;
  const std::string body = Pattern(150000, 9);
  Put(m.Www() + "/Listino.dat", body);
  test::NginxServer ng(m.Www());
  m.WriteList({"<v-R><s-" + ng.Url("/Listino.dat") + "><ARCPATH-\\Listino.dat>"});

  ResetProcessValues();
  SetHost(&m.fs, &m.sys);
  QtWindow window;
  CurlInet inet([&window] { window.DoEvents(); });
  window.onPump = [&inet] { inet.Poll(); };
  int questions = 0;
  window.msgBoxHook = [&](const std::string&, int flags, const std::string&) {
    EXPECT_EQ(flags, 68);
    ++questions;
    return vbYes;
  };
  MainForm form(window, inet);
  form.Form_Initialize();
  window.DoEvents();

  auto* button = qobject_cast<QAbstractButton*>(window.Widget(Control::cmdGET));
  ASSERT_NE(button, nullptr);
  ASSERT_TRUE(button->isEnabled());
  button->click();

  EXPECT_EQ(questions, 1);
  EXPECT_EQ(Slurp(m.DataFolder() + "/Listino.dat"), body);
  EXPECT_FALSE(Exists(m.DataFolder() + "/Listino.dat.tmp"));
  EXPECT_EQ(window.Caption(Control::LblMesg), "Aggiornamento completato.");
  EXPECT_FALSE(button->isEnabled());
  EXPECT_FALSE(m.ListExists());
  window.onPump = nullptr;
}

}  // namespace
}  // namespace ovlu::e2e

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
