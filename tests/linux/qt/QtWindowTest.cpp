#include <gtest/gtest.h>

#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QGroupBox>
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

class QtWindowTest : public testing::Test {
 protected:
  void SetUp() override { w.Load(&events); }

  template <class T>
  T* Get(Control c) {
    T* p = qobject_cast<T*>(w.Widget(c));
    EXPECT_NE(p, nullptr) << "control " << int(c);
    return p;
  }
  QTreeWidget* List() { return Get<QTreeWidget>(Control::FileList); }
  QProgressBar* Bar() { return Get<QProgressBar>(Control::ProgressBar1); }
  QString LabelText(Control c) { return Get<QLabel>(c)->text(); }
  // Pumps the window for about ms milliseconds, as the agent's waits do.
  void PumpFor(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) w.DoEvents();
  }
  void EnableFullRow() {
    Handle h = w.WindowHandle(Control::FileList);
    auto style = w.SendMessageA(h, LVM_GETEXTENDEDLISTVIEWSTYLE_, 0, 0);
    w.SendMessageA(h, LVM_SETEXTENDEDLISTVIEWSTYLE_, 0, style | LVS_EX_FULLROWSELECT_);
  }
  void ClickCell(int row, int column) {
    QTreeWidget* l = List();
    QRect r = l->visualItemRect(l->topLevelItem(row - 1));
    int x = l->header()->sectionViewportPosition(column) + l->header()->sectionSize(column) / 2;
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, QPoint(x, r.center().y()));
  }

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
  for (Control c : {Control::LabelFName, Control::LabelDest, Control::Label1, Control::LabelFS})
    EXPECT_EQ(w.Widget(c)->parentWidget(), w.Widget(Control::Frame1));
  // Frame1 lies beyond the right edge of the client area.
  EXPECT_FALSE(form->rect().intersects(w.Widget(Control::Frame1)->geometry()));
}

TEST_F(QtWindowTest, ControlsUseTheirDesignFonts) {
  struct Row {
    Control c;
    const char* family;
    double points;
    bool bold;
  } rows[] = {
      {Control::LblMesg, "Arial", 9, true},
      {Control::LabelTitle, "Calibri", 18, true},
      {Control::FileList, "Calibri", 12, false},
      {Control::Label3, "Calibri", 12, false},
      {Control::LabelST, "Calibri", 12, false},
      {Control::cmdGET, "MS Sans Serif", 8.25, true},
      {Control::CmdChiudi, "MS Sans Serif", 8.25, true},
  };
  for (const Row& r : rows) {
    QFont f = w.Widget(r.c)->font();
    SCOPED_TRACE(w.Widget(r.c)->objectName().toStdString());
    EXPECT_EQ(f.family().toStdString(), r.family);
    EXPECT_DOUBLE_EQ(f.pointSizeF(), r.points);
    EXPECT_EQ(f.bold(), r.bold);
  }
}

TEST_F(QtWindowTest, DesignTextsAndColours) {
  struct Row {
    Control c;
    const char* text;
  } rows[] = {
      {Control::MainForm, " OV Live Update"},
      {Control::LblMesg, "OrVento Live Update"},
      {Control::LabelTitle, "Aggionamento OrVento"},
      {Control::LabelStatus1, ""},
      {Control::Label3, "Tempo rimanente: "},
      {Control::LabelST, "0 Kb di 0Kb"},
      {Control::cmdGET, "Avvia Aggiornamento"},
      {Control::CmdChiudi, "&Chiudi"},
      {Control::Frame1, "Stato del Download"},
      {Control::LabelFName, "Nome File:"},
      {Control::LabelDest, "Destinazione:"},
      {Control::Label1, "Dimensione:"},
      {Control::LabelFS, "0 Kb"},
  };
  for (const Row& r : rows) EXPECT_EQ(w.Caption(r.c), r.text);
  EXPECT_EQ(w.Widget(Control::MainForm)->windowTitle(), " OV Live Update");
  EXPECT_EQ(Get<QPushButton>(Control::CmdChiudi)->text(), "&Chiudi");
  EXPECT_EQ(Get<QGroupBox>(Control::Frame1)->title(), "Stato del Download");
  EXPECT_EQ(LabelText(Control::LabelTitle), "Aggionamento OrVento");
  EXPECT_EQ(w.Widget(Control::MainForm)->palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(w.Widget(Control::LblMesg)->palette().color(QPalette::WindowText), QColor(0, 128, 128));
  EXPECT_EQ(w.ProgressMax(), 100.0f);
  EXPECT_EQ(w.ProgressValue(), 0.0f);
  EXPECT_TRUE(w.Enabled(Control::cmdGET));
  EXPECT_FALSE(w.Enabled(Control::Timer1));
  EXPECT_FALSE(w.Enabled(Control::TimerTimeOut));
  EXPECT_EQ(w.Timer(Control::Timer1)->interval(), 1000);
  EXPECT_EQ(w.Timer(Control::TimerTimeOut)->interval(), 10);
}

TEST_F(QtWindowTest, CaptionsShowAnsiTextLiterallyAndReadBackUnchanged) {
  struct Row {
    Control c;
    std::string ansi;
    QString shown;
  } rows[] = {
      {Control::LblMesg, "Download completato.", "Download completato."},
      {Control::LabelST, "Citt\xE0 \x80 5", QString::fromUtf8("Città € 5")},
      {Control::LabelDest, "<TMPPATH>\\a.dll", "<TMPPATH>\\a.dll"},
      {Control::LabelTitle, "<b>x</b>", "<b>x</b>"},
      {Control::LabelStatus1, "riga 1\r\nriga 2", "riga 1\nriga 2"},
  };
  for (const Row& r : rows) {
    w.SetCaption(r.c, r.ansi);
    EXPECT_EQ(w.Caption(r.c), r.ansi);
    EXPECT_EQ(LabelText(r.c), r.shown);
  }
  w.SetCaption(Control::MainForm, "Titolo \xE8");
  EXPECT_EQ(w.Widget(Control::MainForm)->windowTitle(), QString::fromUtf8("Titolo è"));
  EXPECT_EQ(w.Caption(Control::MainForm), "Titolo \xE8");
  EXPECT_THROW(w.SetCaption(Control::FileList, "x"), VbError);
  EXPECT_THROW(w.Caption(Control::Timer1), VbError);
}

TEST_F(QtWindowTest, ButtonCaptionsCarryTheirAccessKey) {
  auto* chiudi = Get<QPushButton>(Control::CmdChiudi);
  EXPECT_EQ(chiudi->shortcut(), QKeySequence(Qt::ALT | Qt::Key_C));
  w.SetCaption(Control::CmdChiudi, "&Annulla");
  EXPECT_EQ(chiudi->text(), "&Annulla");
  EXPECT_EQ(chiudi->shortcut(), QKeySequence(Qt::ALT | Qt::Key_A));
  EXPECT_EQ(w.Caption(Control::CmdChiudi), "&Annulla");
}

TEST_F(QtWindowTest, ColumnsHaveTheirHeadersAndWidthsInTwips) {
  QTreeWidget* l = List();
  ASSERT_EQ(l->columnCount(), 4);
  const char* headers[] = {"", "Reg", "% download file", "Destinazione"};
  const int design[] = {2440, 800, 2440, 4440};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(l->headerItem()->text(i), headers[i]);
    EXPECT_EQ(w.ColumnWidth(i + 1), design[i]);
    EXPECT_EQ(l->header()->sectionSize(i), (design[i] + 7) / 15);
  }
  // The widths start-up gives them.
  w.SetColumnWidth(2, 0);
  w.SetColumnWidth(3, 2600);
  w.SetColumnWidth(4, 0);
  const int after[] = {2440, 0, 2600, 0};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(w.ColumnWidth(i + 1), after[i]);
    EXPECT_EQ(l->header()->sectionSize(i), (after[i] + 7) / 15);
  }
  EXPECT_FALSE(l->header()->stretchLastSection());
  EXPECT_THROW(w.SetColumnWidth(0, 100), VbError);
  EXPECT_THROW(w.SetColumnWidth(5, 100), VbError);
  EXPECT_THROW(w.ColumnWidth(5), VbError);
}

TEST_F(QtWindowTest, HiddenColumnsKeepTheirData) {
  w.SetColumnWidth(2, 0);
  w.SetColumnWidth(4, 0);
  EXPECT_EQ(w.AddRow("Componente"), 1);
  w.SetSubItem(1, 1, "R");
  w.SetSubItem(1, 2, "");
  w.SetSubItem(1, 3, "C:\\Programmi\\OrVento\\a.dll");
  EXPECT_EQ(w.SubItem(1, 0), "Componente");
  EXPECT_EQ(w.SubItem(1, 1), "R");
  EXPECT_EQ(w.SubItem(1, 3), "C:\\Programmi\\OrVento\\a.dll");
  QTreeWidgetItem* item = List()->topLevelItem(0);
  EXPECT_EQ(item->text(1), "R");
  EXPECT_EQ(item->text(3), "C:\\Programmi\\OrVento\\a.dll");
}

TEST_F(QtWindowTest, RowsAndSubItemsOutOfRangeThrow) {
  EXPECT_EQ(w.RowCount(), 0);
  EXPECT_EQ(w.AddRow("Applicazione"), 1);
  EXPECT_EQ(w.AddRow("Archivio"), 2);
  EXPECT_EQ(w.RowCount(), 2);
  EXPECT_EQ(List()->topLevelItemCount(), 2);
  struct Bad {
    int row, sub;
  } bad[] = {{0, 1}, {3, 1}, {-1, 0}, {1, 4}, {1, -1}};
  for (const Bad& b : bad) {
    SCOPED_TRACE(std::to_string(b.row) + "," + std::to_string(b.sub));
    EXPECT_THROW(w.SetSubItem(b.row, b.sub, "x"), VbError);
    EXPECT_THROW(w.SubItem(b.row, b.sub), VbError);
  }
  for (int row : {0, 3}) {
    EXPECT_THROW(w.SelectRow(row), VbError);
    try {
      w.SelectRow(row);
    } catch (const VbError& e) {
      EXPECT_EQ(e.number, 35600);
    }
  }
  EXPECT_EQ(w.SelectedRow(), 0);
  w.SelectRow(2);
  EXPECT_EQ(w.SelectedRow(), 2);
}

TEST_F(QtWindowTest, UnchangedTextsDoNotTouchTheWidgets) {
  w.AddRow("Applicazione");
  int changes = 0;
  QObject::connect(List()->model(), &QAbstractItemModel::dataChanged, [&changes] { ++changes; });
  w.SetSubItem(1, 2, "50%");
  int once = changes;
  EXPECT_GT(once, 0);
  for (int i = 0; i < 100; ++i) w.SetSubItem(1, 2, "50%");
  EXPECT_EQ(changes, once);
  w.SetSubItem(1, 2, "51%");
  EXPECT_GT(changes, once);
}

TEST_F(QtWindowTest, FullRowSelectionStartsWithTheExtendedStyleBit) {
  w.Show();
  w.DoEvents();
  w.AddRow("Applicazione");
  w.AddRow("Componente");
  Handle h = w.WindowHandle(Control::FileList);
  EXPECT_EQ(w.SendMessageA(h, LVM_GETEXTENDEDLISTVIEWSTYLE_, 0, 0), 0);

  // Before: a click beside the first column selects nothing, and a selected
  // row is selected in its first column only.
  ClickCell(2, 2);
  EXPECT_EQ(w.SelectedRow(), 0);
  ClickCell(2, 0);
  EXPECT_EQ(w.SelectedRow(), 2);
  EXPECT_EQ(List()->selectionModel()->selectedIndexes().size(), 1);

  EnableFullRow();
  EXPECT_TRUE(w.FullRowSelect());
  EXPECT_EQ(w.SendMessageA(h, LVM_GETEXTENDEDLISTVIEWSTYLE_, 0, 0), LVS_EX_FULLROWSELECT_);
  EXPECT_EQ(List()->selectionModel()->selectedIndexes().size(), 4);  // kept, whole row
  ClickCell(1, 2);
  EXPECT_EQ(w.SelectedRow(), 1);
  EXPECT_EQ(List()->selectionModel()->selectedIndexes().size(), 4);
  w.SelectRow(2);
  EXPECT_EQ(w.SelectedRow(), 2);
  EXPECT_EQ(List()->selectionModel()->selectedIndexes().size(), 4);

  // A mask limits the change to its bits; the previous style comes back.
  EXPECT_EQ(w.SendMessageA(h, LVM_SETEXTENDEDLISTVIEWSTYLE_, 0x1, 0x21), LVS_EX_FULLROWSELECT_);
  EXPECT_EQ(w.SendMessageA(h, LVM_GETEXTENDEDLISTVIEWSTYLE_, 0, 0), 0x21);
  w.SendMessageA(h, LVM_SETEXTENDEDLISTVIEWSTYLE_, LVS_EX_FULLROWSELECT_, 0);
  EXPECT_EQ(w.SendMessageA(h, LVM_GETEXTENDEDLISTVIEWSTYLE_, 0, 0), 0x1);
  EXPECT_FALSE(w.FullRowSelect());
  // List-view messages mean nothing to other windows.
  EXPECT_EQ(
      w.SendMessageA(w.WindowHandle(Control::ProgressBar1), LVM_GETEXTENDEDLISTVIEWSTYLE_, 0, 0),
      0);
}

TEST_F(QtWindowTest, ProgressColoursComeOnlyFromTheTwoMessages) {
  const QPalette before = Bar()->palette();
  EXPECT_EQ(before.color(QPalette::Highlight),
            QApplication::palette(Bar()).color(QPalette::Highlight));
  w.SendMessageA(w.WindowHandle(Control::FileList), PBM_SETBARCOLOR_, 0,
                 32 + 256 * 43 + 65536 * 136);
  EXPECT_EQ(Bar()->palette().color(QPalette::Highlight), before.color(QPalette::Highlight));

  Handle bar = w.WindowHandle(Control::ProgressBar1);
  EXPECT_EQ(w.SendMessageA(bar, PBM_SETBKCOLOR_, 0, 240 + 256 * 240 + 65536 * 255), 0xFF000000);
  EXPECT_EQ(Bar()->palette().color(QPalette::Base), QColor(240, 240, 255));
  EXPECT_EQ(Bar()->palette().color(QPalette::Highlight), before.color(QPalette::Highlight));
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
}

TEST_F(QtWindowTest, ProgressTakesSinglePrecisionMaximumAndValue) {
  w.SetProgressMax(2500);
  w.SetProgressValue(0);
  for (float v : {1024.0f, 2048.0f, 2500.0f}) {
    w.SetProgressValue(v);
    EXPECT_EQ(w.ProgressValue(), v);
    EXPECT_EQ(Bar()->value(), qRound(v / 2500.0 * Bar()->maximum()));
  }
  EXPECT_EQ(w.ProgressMax(), 2500.0f);
  w.SetProgressMax(3e9f);  // beyond any integer range of the bar itself
  w.SetProgressValue(1.5e9f);
  EXPECT_EQ(w.ProgressValue(), 1.5e9f);
  EXPECT_EQ(Bar()->value(), Bar()->maximum() / 2);
  for (float bad : {-1.0f, 3.1e9f}) EXPECT_THROW(w.SetProgressValue(bad), VbError);
  EXPECT_THROW(w.SetProgressMax(0), VbError);
  EXPECT_EQ(w.ProgressMax(), 3e9f);
}

TEST_F(QtWindowTest, MessageBoxHookAnswersInsteadOfTheBox) {
  std::vector<std::string> seen;
  w.msgBoxHook = [&](const std::string& text, int flags, const std::string& title) {
    seen.push_back(text + "|" + std::to_string(flags) + "|" + title);
    return vbNo;
  };
  EXPECT_EQ(w.MsgBox("Interrompre l'aggiornamento?", 68, "OrVento"), vbNo);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], "Interrompre l'aggiornamento?|68|OrVento");
}

TEST_F(QtWindowTest, RealMessageBoxHasYesAndNoWithYesAsDefault) {
  struct Case {
    Qt::Key key;  // 0: click No
    int answer;
  } cases[] = {{Qt::Key_Return, vbYes}, {Qt::Key_unknown, vbNo}};
  for (const Case& c : cases) {
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton def = QMessageBox::NoButton;
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      text = box->text();
      title = box->windowTitle();
      icon = box->icon();
      buttons = box->standardButtons();
      def = box->standardButton(box->defaultButton());
      if (c.key == Qt::Key_unknown)
        box->button(QMessageBox::No)->click();
      else
        QTest::keyClick(box, c.key);
    });
    EXPECT_EQ(w.MsgBox("Avviare l'aggiornamento di OrVento?", 68, "OrVento"), c.answer);
    EXPECT_EQ(text, "Avviare l'aggiornamento di OrVento?");
    EXPECT_EQ(title, "OrVento");
    EXPECT_EQ(icon, QMessageBox::Information);
    EXPECT_EQ(buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(def, QMessageBox::Yes);
  }
}

TEST_F(QtWindowTest, TimersTickOnlyWhileEnabled) {
  PumpFor(60);
  EXPECT_EQ(events.timeOut, 0);
  EXPECT_EQ(events.timer1, 0);
  w.SetEnabled(Control::TimerTimeOut, true);
  EXPECT_TRUE(w.Enabled(Control::TimerTimeOut));
  PumpFor(150);
  EXPECT_GE(events.timeOut, 3);
  w.SetEnabled(Control::TimerTimeOut, false);
  int stopped = events.timeOut;
  PumpFor(60);
  EXPECT_EQ(events.timeOut, stopped);

  w.SetEnabled(Control::Timer1, true);
  PumpFor(1150);
  EXPECT_EQ(events.timer1, 1);
  w.SetEnabled(Control::Timer1, false);
  EXPECT_EQ(events.timeOut, stopped);
}

TEST_F(QtWindowTest, ActivationIsReportedOncePerLoad) {
  w.Show();
  EXPECT_EQ(events.activate, 0);  // only once the event loop has run
  w.DoEvents();
  EXPECT_EQ(events.activate, 1);
  w.Widget(Control::MainForm)->activateWindow();
  w.Show();
  PumpFor(30);
  EXPECT_EQ(events.activate, 1);
  w.Unload();
  w.Load(&events);
  w.Show();
  PumpFor(30);
  EXPECT_EQ(events.activate, 2);
}

TEST_F(QtWindowTest, ClicksAndTheCloseBoxReachTheEvents) {
  w.Show();
  w.DoEvents();
  Get<QPushButton>(Control::cmdGET)->click();
  Get<QPushButton>(Control::CmdChiudi)->click();
  EXPECT_EQ(events.get, 1);
  EXPECT_EQ(events.chiudi, 1);
  w.SetEnabled(Control::cmdGET, false);
  QTest::mouseClick(w.Widget(Control::cmdGET), Qt::LeftButton);
  EXPECT_EQ(events.get, 1);
  EXPECT_FALSE(w.Widget(Control::cmdGET)->isEnabled());

  w.Widget(Control::MainForm)->close();
  EXPECT_EQ(events.closeBox, 1);
  EXPECT_TRUE(w.Loaded());
  EXPECT_TRUE(w.Widget(Control::MainForm)->isVisible());  // the agent decides
}

TEST_F(QtWindowTest, UnloadAndLoadGiveTheDesignStateBack) {
  w.SetCaption(Control::LabelTitle, "OV Live Update");
  w.SetCaption(Control::CmdChiudi, "&Annulla");
  w.SetEnabled(Control::cmdGET, false);
  w.SetColumnWidth(3, 2600);
  w.AddRow("Applicazione");
  w.BindSmallIcons();
  w.SetRowSmallIcon(1, 1);
  EnableFullRow();
  w.SendMessageA(w.WindowHandle(Control::ProgressBar1), PBM_SETBARCOLOR_, 0, 0x880000);
  w.SetProgressMax(10);
  w.SetProgressValue(5);
  w.SetEnabled(Control::TimerTimeOut, true);
  QPushButton* oldGet = Get<QPushButton>(Control::cmdGET);

  w.Unload();
  EXPECT_FALSE(w.Loaded());
  EXPECT_EQ(w.Widget(Control::FileList), nullptr);
  EXPECT_THROW(w.Caption(Control::LabelTitle), VbError);
  EXPECT_EQ(w.WindowHandle(Control::FileList), 0);
  oldGet->click();  // the old form no longer speaks for the window
  PumpFor(30);
  EXPECT_EQ(events.get, 0);
  EXPECT_EQ(events.timeOut, 0);

  w.Load(&events);
  EXPECT_TRUE(w.Loaded());
  EXPECT_EQ(w.Caption(Control::LabelTitle), "Aggionamento OrVento");
  EXPECT_EQ(w.Caption(Control::CmdChiudi), "&Chiudi");
  EXPECT_TRUE(w.Enabled(Control::cmdGET));
  EXPECT_EQ(w.ColumnWidth(3), 2440);
  EXPECT_EQ(w.RowCount(), 0);
  EXPECT_FALSE(w.FullRowSelect());
  EXPECT_EQ(w.ProgressMax(), 100.0f);
  EXPECT_EQ(w.ProgressValue(), 0.0f);
  EXPECT_FALSE(w.Enabled(Control::TimerTimeOut));
  EXPECT_EQ(Bar()->palette().color(QPalette::Highlight),
            QApplication::palette(Bar()).color(QPalette::Highlight));
  w.AddRow("Applicazione");
  EXPECT_THROW(w.SetRowSmallIcon(1, 1), VbError);  // not bound any more
}

TEST_F(QtWindowTest, SmallIconsNeedTheBoundImageList) {
  w.AddRow("Applicazione");
  w.AddRow("Componente");
  try {
    w.SetRowSmallIcon(1, 1);
    ADD_FAILURE() << "no error before binding";
  } catch (const VbError& e) {
    EXPECT_EQ(e.number, 35613);
  }
  w.BindSmallIcons();
  w.SetRowSmallIcon(2, 1);
  EXPECT_EQ(w.RowSmallIcon(1), 0);
  EXPECT_EQ(w.RowSmallIcon(2), 1);
  EXPECT_THROW(w.SetRowSmallIcon(3, 1), VbError);
  EXPECT_THROW(w.SetRowSmallIcon(1, 2), VbError);
  QImage check = List()->topLevelItem(1)->icon(0).pixmap(16, 16).toImage();
  ASSERT_EQ(check.size(), QSize(16, 16));
  // The check mark is green where it is opaque.
  int green = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      QColor c = check.pixelColor(x, y);
      if (c.alpha() > 200 && c.green() > c.red() + 40 && c.green() > c.blue() + 40) ++green;
    }
  EXPECT_GT(green, 15);
  QImage blank = List()->topLevelItem(0)->icon(0).pixmap(16, 16).toImage();
  EXPECT_EQ(blank.pixelColor(8, 8).alpha(), 0);
}

TEST_F(QtWindowTest, LoadImageGivesSharedIconHandles) {
  Handle big = w.LoadImageA("AAA", IMAGE_ICON_, 32, 32, LR_SHARED_);
  Handle small = w.LoadImageA("AAA", IMAGE_ICON_, 16, 16, LR_SHARED_);
  EXPECT_NE(big, 0);
  EXPECT_NE(small, 0);
  EXPECT_NE(big, small);
  EXPECT_EQ(w.LoadImageA("AAA", IMAGE_ICON_, 32, 32, LR_SHARED_), big);
  EXPECT_EQ(w.LoadImageA("aaa", IMAGE_ICON_, 16, 16, LR_SHARED_), small);
  EXPECT_EQ(w.IconImage(big).size(), QSize(32, 32));
  EXPECT_EQ(w.IconImage(small).size(), QSize(16, 16));
  EXPECT_EQ(w.IconImage(w.LoadImageA("AAA", IMAGE_ICON_, 48, 48, LR_SHARED_)).size(),
            QSize(48, 48));
  EXPECT_EQ(w.IconImage(w.LoadImageA("AAA", IMAGE_ICON_, 24, 24, LR_SHARED_)).size(),
            QSize(24, 24));
  Handle own = w.LoadImageA("AAA", IMAGE_ICON_, 32, 32, 0);
  EXPECT_NE(own, big);
  EXPECT_EQ(w.LoadImageA("BBB", IMAGE_ICON_, 32, 32, LR_SHARED_), 0);
  EXPECT_EQ(w.LoadImageA("AAA", 0, 32, 32, LR_SHARED_), 0);
  // The shared handles outlive the window.
  w.Unload();
  w.Load(&events);
  EXPECT_EQ(w.LoadImageA("AAA", IMAGE_ICON_, 32, 32, LR_SHARED_), big);
  EXPECT_EQ(w.GetSystemMetrics(SM_CXICON_), 32);
  EXPECT_EQ(w.GetSystemMetrics(SM_CYICON_), 32);
  EXPECT_EQ(w.GetSystemMetrics(SM_CXSMICON_), 16);
  EXPECT_EQ(w.GetSystemMetrics(SM_CYSMICON_), 16);
  EXPECT_EQ(w.GetWindow(w.WindowHandle(Control::MainForm), GW_OWNER_), 0);
}

TEST_F(QtWindowTest, SetIconGivesTheWindowBothSizes) {
  Handle form = w.WindowHandle(Control::MainForm);
  Handle big = w.LoadImageA("AAA", IMAGE_ICON_, 32, 32, LR_SHARED_);
  Handle small = w.LoadImageA("AAA", IMAGE_ICON_, 16, 16, LR_SHARED_);
  EXPECT_TRUE(w.Widget(Control::MainForm)->windowIcon().isNull());
  EXPECT_EQ(w.SendMessageA(form, WM_SETICON_, ICON_BIG_, big), 0);
  EXPECT_EQ(w.SendMessageA(form, WM_SETICON_, ICON_BIG_, big), big);
  EXPECT_EQ(w.SendMessageA(form, WM_SETICON_, ICON_SMALL_, small), 0);
  EXPECT_EQ(w.IconHandle(ICON_BIG_), big);
  EXPECT_EQ(w.IconHandle(ICON_SMALL_), small);
  QList<QSize> sizes = w.Widget(Control::MainForm)->windowIcon().availableSizes();
  EXPECT_TRUE(sizes.contains(QSize(32, 32)));
  EXPECT_TRUE(sizes.contains(QSize(16, 16)));
  // A null handle takes that icon away.
  w.SendMessageA(form, WM_SETICON_, ICON_BIG_, 0);
  sizes = w.Widget(Control::MainForm)->windowIcon().availableSizes();
  EXPECT_FALSE(sizes.contains(QSize(32, 32)));
  EXPECT_TRUE(sizes.contains(QSize(16, 16)));
}

TEST_F(QtWindowTest, WindowHandlesAreDistinct) {
  std::vector<Handle> seen;
  for (int i = 0; i <= int(Control::ImageList1); ++i) {
    Handle h = w.WindowHandle(static_cast<Control>(i));
    EXPECT_NE(h, 0);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), h), 0);
    seen.push_back(h);
  }
  EXPECT_EQ(w.SendMessageA(w.WindowHandle(Control::MainForm), 0x1234, 0, 0), 0);
}

TEST_F(QtWindowTest, ScreenPointerIsAStateNotAStack) {
  ASSERT_EQ(QGuiApplication::overrideCursor(), nullptr);
  w.SetScreenPointer(vbHourglass);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  w.SetScreenPointer(vbHourglass);
  w.SetScreenPointer(vbDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  w.SetScreenPointer(vbDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(QtWindowTest, DoEventsRunsPendingEventsThenThePump) {
  std::vector<std::string> order;
  QTimer::singleShot(0, [&] { order.push_back("event"); });
  w.onPump = [&] { order.push_back("pump"); };
  w.DoEvents();
  EXPECT_EQ(order, (std::vector<std::string>{"event", "pump"}));
}

TEST_F(QtWindowTest, DecorationBannerAndStackingAsDrawn) {
  QImage img = w.Grab();
  ASSERT_EQ(img.size(), QSize(536, 378));
  struct Px {
    int x, y;
    QColor c;
  } px[] = {
      {3, 2, QColor(192, 192, 255)},      {134, 368, QColor(192, 192, 255)},
      {151, 100, QColor(192, 192, 255)},  {527, 53, QColor(192, 192, 255)},
      {146, 300, QColor(192, 192, 255)},  {300, 313, QColor(192, 192, 255)},
      {300, 323, QColor(192, 192, 192)},  {300, 324, QColor(128, 128, 128)},
      {540 - 10, 370, QColor(Qt::white)},
  };
  for (const Px& p : px) EXPECT_EQ(img.pixelColor(p.x, p.y), p.c) << p.x << "," << p.y;

  // The banner stands unscaled at the top-left of Picture1.
  QImage banner(QStringLiteral(":/ovlu/banner.jpg"));
  ASSERT_EQ(banner.size(), QSize(130, 400));
  for (QPoint at : {QPoint(65, 72), QPoint(10, 10), QPoint(120, 300), QPoint(65, 363)}) {
    EXPECT_EQ(img.pixelColor(at + QPoint(4, 3)).rgb(), banner.pixelColor(at).rgb())
        << at.x() << "," << at.y();
  }

  // LabelStatus1 lies beneath the list, which covers it.
  QWidget* form = w.Widget(Control::MainForm);
  QWidget* top = form->childAt(w.Widget(Control::LabelStatus1)->geometry().center());
  ASSERT_NE(top, nullptr);
  EXPECT_TRUE(w.Widget(Control::FileList)->isAncestorOf(top) || top == w.Widget(Control::FileList));
}

TEST_F(QtWindowTest, TabKeyFollowsTheDesignOrder) {
  w.Show();
  w.DoEvents();
  QWidget* form = w.Widget(Control::MainForm);
  form->activateWindow();
  w.Widget(Control::cmdGET)->setFocus(Qt::OtherFocusReason);
  w.DoEvents();
  ASSERT_EQ(QApplication::focusWidget(), w.Widget(Control::cmdGET));
  // Tab index 1, 8 and 12 take the focus; the labels, bar and picture never.
  const Control order[] = {Control::CmdChiudi, Control::FileList, Control::cmdGET};
  for (Control c : order) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w.Widget(c)) << w.Widget(c)->objectName().toStdString();
  }
  // With cmdGET disabled the focus goes from the list straight to CmdChiudi.
  w.SetEnabled(Control::cmdGET, false);
  w.Widget(Control::FileList)->setFocus(Qt::OtherFocusReason);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), w.Widget(Control::CmdChiudi));
}

TEST_F(QtWindowTest, OperationsNeedALoadedWindow) {
  w.Unload();
  EXPECT_THROW(w.SetCaption(Control::LabelST, "x"), VbError);
  EXPECT_THROW(w.AddRow("x"), VbError);
  EXPECT_THROW(w.SetProgressValue(1), VbError);
  EXPECT_THROW(w.Show(), VbError);
  EXPECT_EQ(w.SendMessageA(0x10010, LVM_GETEXTENDEDLISTVIEWSTYLE_, 0, 0), 0);
  w.Unload();  // a second unload changes nothing
  EXPECT_FALSE(w.Loaded());
}

}  // namespace
}  // namespace ovlu
