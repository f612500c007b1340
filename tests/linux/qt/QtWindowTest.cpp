#include <gtest/gtest.h>

#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTreeWidget>
#include <string>
#include <vector>

#include "ports/linux/qt/QtWindow.h"

namespace ovlu {
namespace {

// Stands for the agent's core: counts the events the window hands over.
struct CountingEvents : FormEvents {
  int activate = 0, get = 0, chiudi = 0, closeBox = 0, timer1 = 0, timeOut = 0;
  void Form_Activate() override { ++activate; }
  void cmdGET_Click() override { ++get; }
  void CmdChiudi_Click() override { ++chiudi; }
  void Form_CloseBox() override { ++closeBox; }
  void Timer1_Timer() override { ++timer1; }
  void TimerTimeOut_Timer() override { ++timeOut; }
};

// The run-time error a call raises, or 0.
template <class F>
int ErrorOf(F f) {
  try {
    f();
  } catch (const VbError& e) {
    return e.number;
  }
  return 0;
}

class QtWindowTest : public testing::Test {
 protected:
  void SetUp() override { w.Load(&events); }

  QTreeWidget* List() { return qobject_cast<QTreeWidget*>(w.Widget(Control::FileList)); }
  QProgressBar* Bar() { return qobject_cast<QProgressBar*>(w.Widget(Control::ProgressBar1)); }
  std::intptr_t ListStyle(std::uintptr_t mask = 0, std::intptr_t bits = 0, bool set = false) {
    return w.SendMessageA(w.WindowHandle(Control::FileList),
                          set ? LVM_SETEXTENDEDLISTVIEWSTYLE_ : LVM_GETEXTENDEDLISTVIEWSTYLE_, mask,
                          bits);
  }
  // Pumps the window for about ms milliseconds, as the agent's waits do.
  void PumpFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) w.DoEvents();
  }
  void ClickCell(int row, int column) {
    QTreeWidget* l = List();
    QRect r = l->visualItemRect(l->topLevelItem(row - 1));
    int x = l->header()->sectionViewportPosition(column) + l->header()->sectionSize(column) / 2;
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, QPoint(x, r.center().y()));
  }
  int SelectedCells() { return int(List()->selectionModel()->selectedIndexes().size()); }

  CountingEvents events;
  QtWindow w;
};

TEST_F(QtWindowTest, ControlsStandAtTheirDesignGeometryInPixels) {
  struct Row {
    Control c;
    int left, top, width, height;  // twips
  } rows[] = {
      {Control::Picture1, 60, 45, 1950, 5460},
      {Control::LblMesg, 60, 2670, 1890, 1005},
      {Control::LabelTitle, 2265, 240, 5565, 465},
      {Control::FileList, 2280, 810, 5625, 3015},
      {Control::LabelStatus1, 3090, 1590, 2775, 480},
      {Control::Label3, 2280, 3825, 2100, 255},
      {Control::LabelST, 2280, 4095, 5670, 240},
      {Control::ProgressBar1, 2205, 4395, 5700, 300},
      {Control::cmdGET, 2235, 5085, 3870, 450},
      {Control::CmdChiudi, 6285, 5085, 1620, 450},
      {Control::Frame1, 9630, 420, 7035, 300},
      {Control::LabelFName, 75, 2895, 9060, 225},
      {Control::LabelDest, 45, 3135, 9690, 225},
      {Control::Label1, 75, 2670, 975, 225},
      {Control::LabelFS, 1080, 2670, 4065, 225},
  };
  for (const Row& r : rows) {
    QWidget* wd = w.Widget(r.c);
    ASSERT_NE(wd, nullptr);
    EXPECT_EQ(wd->geometry(), QRect(r.left / 15, r.top / 15, r.width / 15, r.height / 15))
        << wd->objectName().toStdString();
  }
  QWidget* form = w.Widget(Control::MainForm);
  EXPECT_EQ(form->size(), QSize(536, 378));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // cannot be resized
  EXPECT_EQ(w.Widget(Control::LblMesg)->parentWidget(), w.Widget(Control::Picture1));
  EXPECT_EQ(w.Widget(Control::LabelFS)->parentWidget(), w.Widget(Control::Frame1));
  // Frame1 lies beyond the right edge of the client area.
  EXPECT_FALSE(form->rect().intersects(w.Widget(Control::Frame1)->geometry()));
}

TEST_F(QtWindowTest, ControlsHaveTheirDesignFontsAndColours) {
  struct Row {
    Control c;
    const char* family;
    double points;
    bool bold;
  } rows[] = {
      {Control::LblMesg, "Arial", 9, true},           {Control::LabelTitle, "Calibri", 18, true},
      {Control::FileList, "Calibri", 12, false},      {Control::LabelST, "Calibri", 12, false},
      {Control::cmdGET, "MS Sans Serif", 8.25, true},
  };
  for (const Row& r : rows) {
    QFont f = w.Widget(r.c)->font();
    SCOPED_TRACE(w.Widget(r.c)->objectName().toStdString());
    EXPECT_EQ(f.family().toStdString(), r.family);
    EXPECT_DOUBLE_EQ(f.pointSizeF(), r.points);
    EXPECT_EQ(f.bold(), r.bold);
  }
  EXPECT_EQ(w.Widget(Control::MainForm)->palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(w.Widget(Control::LblMesg)->palette().color(QPalette::WindowText), QColor(0, 128, 128));
}

TEST_F(QtWindowTest, TabKeyFollowsTheDesignOrder) {
  w.Show();
  w.Widget(Control::MainForm)->activateWindow();
  w.Widget(Control::cmdGET)->setFocus(Qt::OtherFocusReason);
  w.DoEvents();
  ASSERT_EQ(QApplication::focusWidget(), w.Widget(Control::cmdGET));
  // Only the two buttons and the list take the focus; a disabled button is passed over.
  for (Control c : {Control::CmdChiudi, Control::FileList, Control::cmdGET}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w.Widget(c)) << w.Widget(c)->objectName().toStdString();
  }
  w.SetEnabled(Control::cmdGET, false);
  w.Widget(Control::FileList)->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), w.Widget(Control::CmdChiudi));
}

TEST_F(QtWindowTest, CaptionsShowAnsiTextLiterallyAndReadBackUnchanged) {
  struct Row {
    Control c;
    std::string ansi;
    QString shown;
  } rows[] = {
      {Control::LabelST, "Citt\xE0 \x80 5", QString::fromUtf8("Città € 5")},
      {Control::LabelTitle, "<b>x</b>", "<b>x</b>"},
      {Control::LabelStatus1, "riga 1\r\nriga 2", "riga 1\nriga 2"},
  };
  for (const Row& r : rows) {
    w.SetCaption(r.c, r.ansi);
    EXPECT_EQ(w.Caption(r.c), r.ansi);
    EXPECT_EQ(qobject_cast<QLabel*>(w.Widget(r.c))->text(), r.shown);
  }
  w.SetCaption(Control::CmdChiudi, "&Annulla");
  EXPECT_EQ(qobject_cast<QPushButton*>(w.Widget(Control::CmdChiudi))->shortcut(),
            QKeySequence(Qt::ALT | Qt::Key_A));
}

TEST_F(QtWindowTest, HiddenColumnsKeepTheirData) {
  QTreeWidget* l = List();
  // The widths start-up gives them, rounded to pixels.
  w.SetColumnWidth(2, 0);
  w.SetColumnWidth(3, 2600);
  w.SetColumnWidth(4, 0);
  const int twips[] = {2440, 0, 2600, 0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(w.ColumnWidth(i + 1), twips[i]);
    EXPECT_EQ(l->header()->sectionSize(i), (twips[i] + 7) / 15);
  }

  EXPECT_EQ(w.AddRow("Componente"), 1);
  w.SetSubItem(1, 1, "R");
  w.SetSubItem(1, 3, "C:\\Programmi\\OrVento\\a.dll");
  EXPECT_EQ(w.SubItem(1, 1), "R");
  EXPECT_EQ(w.SubItem(1, 3), "C:\\Programmi\\OrVento\\a.dll");

  const std::pair<int, int> bad[] = {{0, 1}, {2, 1}, {-1, 0}, {1, 4}, {1, -1}};
  for (auto [row, sub] : bad) {
    EXPECT_THROW(w.SetSubItem(row, sub, "x"), VbError) << row << "," << sub;
    EXPECT_THROW(w.SubItem(row, sub), VbError) << row << "," << sub;
  }
  EXPECT_EQ(ErrorOf([&] { w.SelectRow(2); }), 35600);

  // Rewriting the same text must not repaint the list on every pump.
  int changes = 0;
  QObject::connect(l->model(), &QAbstractItemModel::dataChanged, [&changes] { ++changes; });
  w.SetSubItem(1, 2, "50%");
  const int once = changes;
  for (int i = 0; i < 100; ++i) w.SetSubItem(1, 2, "50%");
  EXPECT_EQ(changes, once);
  EXPECT_GT(once, 0);
}

TEST_F(QtWindowTest, FullRowSelectionStartsWithTheExtendedStyleBit) {
  w.Show();
  w.DoEvents();
  w.AddRow("Applicazione");
  w.AddRow("Componente");
  EXPECT_EQ(ListStyle(), 0);

  // Before: a click beside the first column selects nothing, and a selected
  // row is selected in its first column only.
  ClickCell(2, 2);
  EXPECT_EQ(w.SelectedRow(), 0);
  ClickCell(2, 0);
  EXPECT_EQ(w.SelectedRow(), 2);
  EXPECT_EQ(SelectedCells(), 1);

  ListStyle(0, ListStyle() | LVS_EX_FULLROWSELECT_, true);
  EXPECT_TRUE(w.FullRowSelect());
  EXPECT_EQ(SelectedCells(), 4);  // kept, whole row
  ClickCell(1, 2);
  EXPECT_EQ(w.SelectedRow(), 1);
  EXPECT_EQ(SelectedCells(), 4);

  // A mask limits the change to its bits; the previous style comes back.
  EXPECT_EQ(ListStyle(0x1, 0x21, true), LVS_EX_FULLROWSELECT_);
  EXPECT_EQ(ListStyle(), 0x21);
  ListStyle(LVS_EX_FULLROWSELECT_, 0, true);
  EXPECT_EQ(ListStyle(), 0x1);
  EXPECT_FALSE(w.FullRowSelect());
}

TEST_F(QtWindowTest, ProgressColoursComeOnlyFromTheTwoMessages) {
  const QColor themeBar = Bar()->palette().color(QPalette::Highlight);
  // Sent to the list instead, the bar colour changes nothing.
  w.SendMessageA(w.WindowHandle(Control::FileList), PBM_SETBARCOLOR_, 0,
                 32 + 256 * 43 + 65536 * 136);
  EXPECT_EQ(Bar()->palette().color(QPalette::Highlight), themeBar);

  Handle bar = w.WindowHandle(Control::ProgressBar1);
  EXPECT_EQ(w.SendMessageA(bar, PBM_SETBKCOLOR_, 0, 240 + 256 * 240 + 65536 * 255), 0xFF000000);
  EXPECT_EQ(Bar()->palette().color(QPalette::Highlight), themeBar);
  w.SendMessageA(bar, PBM_SETBARCOLOR_, 0, 32 + 256 * 43 + 65536 * 136);
  EXPECT_EQ(Bar()->palette().color(QPalette::Highlight), QColor(32, 43, 136));
  EXPECT_EQ(Bar()->palette().color(QPalette::Base), QColor(240, 240, 255));

  // On screen: dark bar on the left half, pale background on the right.
  w.SetProgressValue(50);
  QImage img = w.Grab();
  QRect g = Bar()->geometry();
  QColor left = img.pixelColor(g.left() + g.width() / 4, g.center().y());
  QColor right = img.pixelColor(g.left() + 3 * g.width() / 4, g.center().y());
  EXPECT_LT(left.lightness(), 110) << left.name().toStdString();
  EXPECT_GT(right.lightness(), 220) << right.name().toStdString();
  EXPECT_GT(right.blue(), right.red());

  // Sizes in bytes go beyond the bar's own integer range.
  w.SetProgressMax(3e9f);
  w.SetProgressValue(1.5e9f);
  EXPECT_EQ(w.ProgressValue(), 1.5e9f);
  EXPECT_EQ(Bar()->value(), Bar()->maximum() / 2);
  for (float bad : {-1.0f, 3.1e9f}) EXPECT_THROW(w.SetProgressValue(bad), VbError);
  EXPECT_THROW(w.SetProgressMax(0), VbError);
  EXPECT_EQ(w.ProgressMax(), 3e9f);
}

TEST_F(QtWindowTest, MessageBoxesAnswerYesOrNo) {
  // Return takes the default, Yes; a click on No answers No.
  for (bool clickNo : {false, true}) {
    QString text;
    QMessageBox::StandardButton def = QMessageBox::NoButton;
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      text = box->text() + "|" + box->windowTitle();
      EXPECT_EQ(box->icon(), QMessageBox::Information);
      EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
      def = box->standardButton(box->defaultButton());
      if (clickNo)
        box->button(QMessageBox::No)->click();
      else
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(w.MsgBox("Avviare l'aggiornamento?", 68, "OrVento"), clickNo ? vbNo : vbYes);
    EXPECT_EQ(text, "Avviare l'aggiornamento?|OrVento");
    EXPECT_EQ(def, QMessageBox::Yes);
  }
}

TEST_F(QtWindowTest, TimersTickOnlyWhileEnabled) {
  PumpFor(60);
  EXPECT_EQ(events.timeOut + events.timer1, 0);
  w.SetEnabled(Control::TimerTimeOut, true);
  PumpFor(150);
  EXPECT_GE(events.timeOut, 3);
  w.SetEnabled(Control::TimerTimeOut, false);
  const int stopped = events.timeOut;

  w.SetEnabled(Control::Timer1, true);
  PumpFor(1150);
  EXPECT_EQ(events.timer1, 1);
  EXPECT_EQ(events.timeOut, stopped);
}

TEST_F(QtWindowTest, EventPumpRunsPendingEventsThenTheTransfer) {
  std::vector<std::string> order;
  QTimer::singleShot(0, [&] { order.push_back("event"); });
  w.onPump = [&] { order.push_back("pump"); };
  w.DoEvents();
  EXPECT_EQ(order, (std::vector<std::string>{"event", "pump"}));

  // Activation comes from the loop, once per load; clicks reach the agent;
  // the close box only asks.
  w.Show();
  EXPECT_EQ(events.activate, 0);
  PumpFor(30);
  EXPECT_EQ(events.activate, 1);
  w.Widget(Control::MainForm)->close();
  EXPECT_EQ(events.closeBox, 1);
  EXPECT_TRUE(w.Widget(Control::MainForm)->isVisible());
  QTest::mouseClick(w.Widget(Control::CmdChiudi), Qt::LeftButton);
  EXPECT_EQ(events.chiudi, 1);
}

TEST_F(QtWindowTest, UnloadedFormNoLongerSpeaksForTheWindow) {
  w.SetEnabled(Control::TimerTimeOut, true);
  QPushButton* oldGet = qobject_cast<QPushButton*>(w.Widget(Control::cmdGET));
  w.Unload();
  EXPECT_THROW(w.AddRow("x"), VbError);
  oldGet->click();
  PumpFor(30);
  EXPECT_EQ(events.get + events.timeOut, 0);
}

TEST_F(QtWindowTest, SmallIconsNeedTheBoundImageList) {
  w.AddRow("Applicazione");
  w.AddRow("Componente");
  EXPECT_EQ(ErrorOf([&] { w.SetRowSmallIcon(1, 1); }), 35613);  // not bound yet
  w.BindSmallIcons();
  w.SetRowSmallIcon(2, 1);
  EXPECT_EQ(w.RowSmallIcon(1), 0);
  EXPECT_THROW(w.SetRowSmallIcon(1, 2), VbError);
  // The check mark is green where it is opaque; no icon is transparent.
  QImage check = List()->topLevelItem(1)->icon(0).pixmap(16, 16).toImage();
  int green = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      QColor c = check.pixelColor(x, y);
      if (c.alpha() > 200 && c.green() > c.red() + 40 && c.green() > c.blue() + 40) ++green;
    }
  EXPECT_GT(green, 15);
  EXPECT_EQ(List()->topLevelItem(0)->icon(0).pixmap(16, 16).toImage().pixelColor(8, 8).alpha(), 0);
}

TEST_F(QtWindowTest, SharedIconsGoToTheWindowInBothSizes) {
  Handle big = w.LoadImageA("AAA", IMAGE_ICON_, 32, 32, LR_SHARED_);
  Handle small = w.LoadImageA("aaa", IMAGE_ICON_, 16, 16, LR_SHARED_);
  EXPECT_NE(big, 0);
  EXPECT_NE(big, small);
  for (int size : {16, 24, 32, 48})
    EXPECT_EQ(w.IconImage(w.LoadImageA("AAA", IMAGE_ICON_, size, size, LR_SHARED_)).size(),
              QSize(size, size));
  EXPECT_NE(w.LoadImageA("AAA", IMAGE_ICON_, 32, 32, 0), big);  // not shared: a new one
  EXPECT_EQ(w.LoadImageA("BBB", IMAGE_ICON_, 32, 32, LR_SHARED_), 0);

  Handle form = w.WindowHandle(Control::MainForm);
  EXPECT_EQ(w.SendMessageA(form, WM_SETICON_, ICON_BIG_, big), 0);
  EXPECT_EQ(w.SendMessageA(form, WM_SETICON_, ICON_BIG_, big), big);
  w.SendMessageA(form, WM_SETICON_, ICON_SMALL_, small);
  QList<QSize> sizes = w.Widget(Control::MainForm)->windowIcon().availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(32, 32)));
  EXPECT_TRUE(sizes.contains(QSize(16, 16)));
  // A null handle takes that icon away.
  w.SendMessageA(form, WM_SETICON_, ICON_BIG_, 0);
  sizes = w.Widget(Control::MainForm)->windowIcon().availableSizes();
  EXPECT_FALSE(sizes.contains(QSize(32, 32)));
  EXPECT_TRUE(sizes.contains(QSize(16, 16)));
}

}  // namespace
}  // namespace ovlu
