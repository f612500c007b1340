// The Qt window: the window contract through a rig that reads the widgets
// and queues input to them, and what only this window does (fonts, palette,
// keys, selection, colours, boxes, icons). One QApplication serves the
// whole run; without a display it draws offscreen.
#include <gtest/gtest.h>

#include <QtTest/QtTest>
#include <QtWidgets/QtWidgets>
#include <cstdlib>
#include <string>

#include "ports/linux/qt/QtWindow.h"
#include "shell/Vb.h"
#include "tests/contract/WindowContract.h"

namespace ovlu {

using enum Control;

namespace contract {
namespace {

struct QtRig : RigOf<QtWindow> {
  // A mouse click through the window system, made with the next round of
  // events: a disabled button refuses it, and a window that a box blocks
  // never gets it.
  void PostClick(Control button) override {
    QWidget* widget = w.Widget(button);
    QTimer::singleShot(0, widget, [widget] {
      QWidget* form = widget->window();
      if (QWindow* window = form->windowHandle())
        QTest::mouseClick(window, Qt::LeftButton, {}, widget->mapTo(form, widget->rect().center()));
    });
  }
  void AnswerBoxAfter(int ms, int answer) override {
    QTimer::singleShot(ms, qApp, [answer] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
        box->button(answer == vbYes ? QMessageBox::Yes : QMessageBox::No)->click();
    });
  }
  void CloseBox() override { QCoreApplication::postEvent(w.Widget(MainForm), new QCloseEvent); }
  std::string Drawn(Control c) override {
    const char* shown = c == MainForm ? "windowTitle" : c == Frame1 ? "title" : "text";
    return Utf8ToAnsi(w.Widget(c)->property(shown).toString().toStdString());
  }
  std::string DrawnCell(int row, int subItem) override {
    auto* list = qobject_cast<QTreeWidget*>(w.Widget(FileList));
    return Utf8ToAnsi(list->topLevelItem(row - 1)->text(subItem).toStdString());
  }
  double DrawnBar() override {
    auto* bar = qobject_cast<QProgressBar*>(w.Widget(ProgressBar1));
    return double(bar->value() - bar->minimum()) / (bar->maximum() - bar->minimum());
  }
  std::optional<std::array<int, 4>> DrawnRect(Control c) override {
    // Within the container, whatever the widget's parent is.
    QWidget *widget = w.Widget(c), *form = w.Widget(MainForm);
    const QPoint at =
        widget->mapTo(form, QPoint()) - w.Widget(DesignOf(c)->container)->mapTo(form, QPoint());
    return std::array{at.x(), at.y(), widget->width(), widget->height()};
  }
};

}  // namespace

std::unique_ptr<WindowRig> MakeRig() { return std::make_unique<QtRig>(); }

}  // namespace contract

namespace {

class QtWindowTest : public contract::WindowTest {
 protected:
  QWidget* W(Control c) { return qt.Widget(c); }
  QTreeWidget* List() { return qobject_cast<QTreeWidget*>(W(FileList)); }
  std::intptr_t Send(Control c, unsigned msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0) {
    return w.SendMessageA(w.WindowHandle(c), msg, wParam, lParam);
  }
  void ClickCell(int row, int column) {
    QRect cell = List()->visualRect(List()->model()->index(row - 1, column));
    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, cell.center());
  }
  int SelectedCells() { return int(List()->selectionModel()->selectedIndexes().size()); }

  QtWindow& qt = static_cast<contract::QtRig&>(*rig).w;
};

TEST_F(QtWindowTest, FontsAndColoursOfTheDesign) {
  QWidget* form = W(MainForm);
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // cannot be resized

  QStringList fonts;
  for (Control c : {LblMesg, LabelTitle, FileList, LabelST, cmdGET}) {
    QFont f = W(c)->font();
    fonts << QString("%1 %2%3").arg(f.family()).arg(f.pointSizeF()).arg(f.bold() ? " bold" : "");
  }
  EXPECT_EQ(fonts.join(", "),
            "Arial 9 bold, Calibri 18 bold, Calibri 12, Calibri 12, MS Sans Serif 8.25 bold");
  EXPECT_EQ(form->palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(W(LblMesg)->palette().color(QPalette::WindowText), QColor(0, 128, 128));
  // The other labels: the system's window text on its window background.
  const QPalette system = QGuiApplication::palette();
  for (Control c : {LabelTitle, LabelST, LabelFS}) {
    EXPECT_EQ(W(c)->palette().color(QPalette::WindowText), system.color(QPalette::Text));
    EXPECT_EQ(W(c)->palette().color(QPalette::Window), system.color(QPalette::Base));
  }
}

TEST_F(QtWindowTest, TabKeyFollowsTheDesignOrder) {
  w.Show();  // the focus starts on the first control that takes it
  W(MainForm)->activateWindow();
  w.DoEvents();
  ASSERT_EQ(QApplication::focusWidget(), W(cmdGET));
  // Only the two buttons and the list take the focus. (Qt passes over a
  // disabled button; the contract sees the button disabled.)
  for (Control c : {CmdChiudi, FileList, cmdGET}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), W(c)) << ControlName(c);
  }
}

// An access key comes with the button's text, which the contract reads back
// with its ampersand.
TEST_F(QtWindowTest, CaptionsShowPlainTextWithLineBreaks) {
  w.SetCaption(LabelStatus1, "riga 1\r\nriga 2");
  EXPECT_EQ(qobject_cast<QLabel*>(W(LabelStatus1))->text(), "riga 1\nriga 2");
  w.SetCaption(LabelTitle, "<b>x</b>");  // shown as written, not as markup
  EXPECT_GE(W(LabelTitle)->sizeHint().width(),
            W(LabelTitle)->fontMetrics().horizontalAdvance("<b>x</b>"));
}

TEST_F(QtWindowTest, FullRowSelectionAndBarColoursFollowTheMessages) {
  w.Show();
  w.DoEvents();
  w.AddRow("Applicazione");
  w.AddRow("Componente");
  // Before: a row is picked and selected in its first column only.
  ClickCell(2, 0);
  EXPECT_EQ(w.SelectedRow(), 2);
  EXPECT_EQ(SelectedCells(), 1);
  Send(FileList, LVM_SETEXTENDEDLISTVIEWSTYLE_, 0, LVS_EX_FULLROWSELECT_);
  EXPECT_EQ(SelectedCells(), 4);  // kept, whole row
  ClickCell(1, 2);
  EXPECT_EQ(w.SelectedRow(), 1);
  EXPECT_EQ(SelectedCells(), 4);

  // Switched off, a click beside the first column selects nothing.
  Send(FileList, LVM_SETEXTENDEDLISTVIEWSTYLE_, LVS_EX_FULLROWSELECT_, 0);
  ClickCell(2, 2);
  EXPECT_EQ(w.SelectedRow(), 1);

  // The bar's colours come only from the two messages.
  QWidget* bar = W(ProgressBar1);
  const QColor themeBar = bar->palette().color(QPalette::Highlight);
  Send(ProgressBar1, PBM_SETBKCOLOR_, 0, contract::kPale);
  EXPECT_EQ(bar->palette().color(QPalette::Highlight), themeBar);  // the background alone
  Send(ProgressBar1, PBM_SETBARCOLOR_, 0, contract::kNavy);
  // On screen: dark bar on the left half, pale background on the right.
  w.SetProgressValue(50);
  w.DoEvents();
  QImage img = qt.Grab();
  QRect g = bar->geometry();
  QColor left = img.pixelColor(g.x() + g.width() / 4, g.center().y()),
         right = img.pixelColor(g.x() + 3 * g.width() / 4, g.center().y());
  EXPECT_LT(left.lightness(), 110) << left.name().toStdString();
  EXPECT_GT(right.lightness(), 220) << right.name().toStdString();
  EXPECT_GT(right.blue(), right.red());
}

TEST_F(QtWindowTest, MessageBoxesAnswerYesOrNoInItalian) {
  // Return takes the default, Yes; Escape answers No.
  for (auto [key, answer] : {std::pair{Qt::Key_Return, vbYes}, {Qt::Key_Escape, vbNo}}) {
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->text() + "|" + box->windowTitle(), "Avviare l'aggiornamento?|OrVento");
      EXPECT_EQ(box->icon(), QMessageBox::Information);
      EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
      EXPECT_EQ(box->button(QMessageBox::Yes)->text(), QString::fromUtf8("&S\u00EC"));
      EXPECT_EQ(box->button(QMessageBox::No)->text(), "&No");
      QTest::keyClick(box, key);
    });
    EXPECT_EQ(w.MsgBox("Avviare l'aggiornamento?", 68, "OrVento"), answer);
  }
}

TEST_F(QtWindowTest, ListIconsAndSharedWindowIconsInBothSizes) {
  w.AddRow("Applicazione");
  w.AddRow("Componente");
  w.BindSmallIcons();
  w.SetRowSmallIcon(2, 1);
  // The check mark is green where it is opaque; no icon is transparent.
  auto icon = [&](int row) { return List()->topLevelItem(row)->icon(0).pixmap(16).toImage(); };
  int green = 0;
  for (int i = 0; i < 256; ++i) {
    QColor c = icon(1).pixelColor(i % 16, i / 16);
    green += c.alpha() > 200 && c.green() > c.red() + 40 && c.green() > c.blue() + 40;
  }
  EXPECT_GT(green, 15);
  EXPECT_EQ(icon(0).pixelColor(8, 8).alpha(), 0);
  auto load = [&](const char* name, int size, unsigned flags = LR_SHARED_) {
    return w.LoadImageA(name, IMAGE_ICON_, size, size, flags);
  };
  Handle big = load("AAA", 32), small = load("aaa", 16);  // the name in any case
  for (int size : {16, 24, 32, 48})
    EXPECT_EQ(qt.IconImage(load("AAA", size)).size(), QSize(size, size));
  EXPECT_NE(load("AAA", 32, 0), big);  // not shared: a new one

  auto has = [&](int size) {
    return W(MainForm)->windowIcon().availableSizes().contains(QSize(size, size));
  };
  Send(MainForm, WM_SETICON_, ICON_BIG_, big);
  Send(MainForm, WM_SETICON_, ICON_SMALL_, small);
  EXPECT_TRUE(has(32) && has(16));
  // A null handle takes that icon away.
  Send(MainForm, WM_SETICON_, ICON_BIG_, 0);
  EXPECT_TRUE(!has(32) && has(16));
}

}  // namespace
}  // namespace ovlu

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
