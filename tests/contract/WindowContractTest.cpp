// The same control operations and misuses against every window: the values
// read back, what is drawn once events have run, the error each misuse
// raises, the answers to the window messages, and the events that reach the
// agent.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "shell/FormModel.h"
#include "tests/ErrorOf.h"
#include "tests/contract/WindowContract.h"

namespace ovlu::contract {
namespace {

using enum Control;
using WindowContract = WindowTest;

TEST_F(WindowContract, LoadGivesTheDesignStateAndPlaces) {
  for (int i = 0; i <= static_cast<int>(ImageList1); ++i) {
    const auto c = static_cast<Control>(i);
    SCOPED_TRACE(ControlName(c));
    if (HasCaption(c)) {
      EXPECT_EQ(w.Caption(c), DesignCaption(c));
      EXPECT_EQ(rig->Drawn(c), DesignCaption(c));
    } else {
      EXPECT_EQ(ErrorOf([&] { w.Caption(c); }), errNoSuchProperty);
    }
    if (c == ImageList1) continue;
    EXPECT_EQ(w.Enabled(c), !FormModel::IsTimer(c));
  }
  // The bar's range and the empty list: the misuse test below finds them
  // unchanged.
  for (int column = 1; column <= 4; ++column)
    EXPECT_EQ(w.ColumnWidth(column), kFileListColumns[column - 1].twips);
  EXPECT_EQ(w.SelectedRow(), 0);
  // Where the controls sit, in pixels: 15 twips to the pixel at 96 dots per
  // inch.
  const std::pair<Control, std::array<int, 4>> cases[] = {
      {MainForm, {0, 0, 536, 378}},        {Picture1, {4, 3, 130, 364}},
      {LblMesg, {4, 178, 126, 67}},        {LabelTitle, {151, 16, 371, 31}},
      {FileList, {152, 54, 375, 201}},     {LabelStatus1, {206, 106, 185, 32}},
      {Label3, {152, 255, 140, 17}},       {LabelST, {152, 273, 378, 16}},
      {ProgressBar1, {147, 293, 380, 20}}, {cmdGET, {149, 339, 258, 30}},
      {CmdChiudi, {419, 339, 108, 30}},    {Frame1, {642, 28, 469, 20}},
      {LabelFName, {5, 193, 604, 15}},     {LabelFS, {72, 178, 271, 15}}};
  for (const auto& [c, rect] : cases) {
    const std::optional<std::array<int, 4>> drawn = rig->DrawnRect(c);
    EXPECT_EQ(drawn.value_or(rect), rect) << ControlName(c);
  }
}

TEST_F(WindowContract, MisusesRaiseOneErrorEverywhereAndChangeNothing) {
  w.AddRow("Applicazione");
  w.AddRow("Componente");
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::tuple<const char*, std::function<void()>, int> cases[] = {
      {"caption of the list", [&] { w.SetCaption(FileList, "x"); }, errNoSuchProperty},
      {"image list enabled", [&] { w.SetEnabled(ImageList1, true); }, errNoSuchProperty},
      {"row 0", [&] { w.SetSubItem(0, 1, "x"); }, errIndexOutOfBounds},
      {"row past the end", [&] { w.SubItem(3, 1); }, errIndexOutOfBounds},
      {"select past the end", [&] { w.SelectRow(3); }, errIndexOutOfBounds},
      {"sub-item 4", [&] { w.SetSubItem(1, 4, "x"); }, errInvalidProperty},
      {"sub-item -1", [&] { w.SubItem(1, -1); }, errInvalidProperty},
      {"column 0", [&] { w.SetColumnWidth(0, 10); }, errIndexOutOfBounds},
      {"column 5", [&] { w.ColumnWidth(5); }, errIndexOutOfBounds},
      {"negative width", [&] { w.SetColumnWidth(2, -1); }, errInvalidProperty},
      {"icon before binding", [&] { w.SetRowSmallIcon(1, 1); }, errImageListUnbound},
      {"bar above the maximum", [&] { w.SetProgressValue(100.5f); }, errInvalidProperty},
      {"bar below 0", [&] { w.SetProgressValue(-1); }, errInvalidProperty},
      {"bar not a number", [&] { w.SetProgressValue(nan); }, errInvalidProperty},
      {"maximum 0", [&] { w.SetProgressMax(0); }, errInvalidProperty},
      {"maximum infinite", [&] { w.SetProgressMax(inf); }, errInvalidProperty},
      {"bind", [&] { w.BindSmallIcons(); }, 0},
      {"image 2 of 1", [&] { w.SetRowSmallIcon(1, 2); }, errIndexOutOfBounds},
      {"image -1", [&] { w.SetRowSmallIcon(2, -1); }, errIndexOutOfBounds},
      {"unbound row", [&] { w.SetRowSmallIcon(3, 1); }, errIndexOutOfBounds},
  };
  for (const auto& [what, call, error] : cases) EXPECT_EQ(ErrorOf(call), error) << what;
  EXPECT_EQ(w.ProgressMax(), 100.0f);
  EXPECT_EQ(w.ProgressValue(), 0.0f);
  EXPECT_EQ(w.RowCount(), 2);
  EXPECT_EQ(w.ColumnWidth(2), kFileListColumns[1].twips);
  EXPECT_EQ(w.RowSmallIcon(1) + w.RowSmallIcon(2), 0);

  // A window that is not loaded has no controls; questions about the
  // screen and message boxes still work.
  w.Unload();
  EXPECT_FALSE(w.Loaded());
  const std::function<void()> unloaded[] = {
      [&] { w.SetCaption(LblMesg, "x"); },
      [&] { w.SetEnabled(cmdGET, true); },
      [&] { w.SetProgressValue(1); },
      [&] { w.ProgressMax(); },
      [&] { w.AddRow("x"); },
      [&] { w.RowCount(); },
      [&] { w.SubItem(1, 0); },
      [&] { w.SelectedRow(); },
      [&] { w.BindSmallIcons(); },
      [&] { w.Show(); },
  };
  for (const auto& call : unloaded) EXPECT_EQ(ErrorOf(call), errObjectUnloaded);
  EXPECT_EQ(w.WindowHandle(FileList), 0);
  EXPECT_EQ(w.GetSystemMetrics(SM_CXSMICON_), 16);
}

TEST_F(WindowContract, WhatIsWrittenIsReadBackAndDrawnOnceEventsRun) {
  const std::pair<Control, const char*> captions[] = {
      {LblMesg, " Verifica disponibilit\xE0 del server (\x80)."},
      {LabelST, "Tempo restante: 12 sec (0.5 MB di 1.23 MB)"},
      {CmdChiudi, "&Annulla"},
      {MainForm, " OV Live Update - 50%"},
      {LabelFS, ""}};
  for (auto [c, text] : captions) w.SetCaption(c, text);
  EXPECT_EQ(w.AddRow("Applicazione"), 1);
  EXPECT_EQ(w.AddRow("Archivio"), 2);
  w.SetSubItem(2, 2, "52%");
  w.SetSubItem(2, 3, "C:\\Programmi\\OrVento\\\xE0.dll");
  w.SetColumnWidth(4, 0);  // hidden, the data kept
  w.SelectRow(2);
  w.SetProgressMax(3e9f);  // sizes in bytes go beyond a control's own range
  w.SetProgressValue(7.5e8f);
  w.SetEnabled(cmdGET, false);
  PumpFor(60);  // changes are drawn within some tens of milliseconds

  for (auto [c, text] : captions) {
    EXPECT_EQ(w.Caption(c), text);
    EXPECT_EQ(rig->Drawn(c), text);
  }
  EXPECT_EQ(w.SubItem(2, 3), "C:\\Programmi\\OrVento\\\xE0.dll");
  EXPECT_EQ(rig->DrawnCell(2, 3), "C:\\Programmi\\OrVento\\\xE0.dll");
  EXPECT_EQ(rig->DrawnCell(2, 2), "52%");
  EXPECT_EQ(rig->DrawnCell(1, 0), "Applicazione");
  EXPECT_EQ(w.SubItem(2, 0), "Archivio");
  EXPECT_EQ(w.ColumnWidth(4), 0);
  EXPECT_EQ(w.SelectedRow(), 2);
  EXPECT_NEAR(rig->DrawnBar(), 0.25, 0.001);
  EXPECT_FALSE(w.Enabled(cmdGET));

  // A lower maximum pulls the value down with it.
  w.SetProgressMax(5e8f);
  EXPECT_EQ(w.ProgressValue(), 5e8f);
  PumpFor(60);
  EXPECT_NEAR(rig->DrawnBar(), 1.0, 0.001);
}

TEST_F(WindowContract, WindowMessagesAnswerWithThePreviousState) {
  const Handle icon = w.LoadImageA("AAA", IMAGE_ICON_, 32, 32, LR_SHARED_);
  EXPECT_NE(icon, 0);
  EXPECT_EQ(w.LoadImageA("AAA", IMAGE_ICON_, 32, 32, LR_SHARED_), icon);  // shared
  EXPECT_EQ(w.LoadImageA("BBB", IMAGE_ICON_, 32, 32, LR_SHARED_), 0);     // no such icon
  // To, message, wParam, lParam and the answer.
  const std::tuple<Control, unsigned, std::uintptr_t, std::intptr_t, std::intptr_t> cases[] = {
      {FileList, LVM_SETEXTENDEDLISTVIEWSTYLE_, 0, LVS_EX_FULLROWSELECT_, 0},
      {FileList, LVM_SETEXTENDEDLISTVIEWSTYLE_, 0x1, 0x21, LVS_EX_FULLROWSELECT_},  // masked
      {FileList, LVM_SETEXTENDEDLISTVIEWSTYLE_, LVS_EX_FULLROWSELECT_, 0, 0x21},
      {FileList, LVM_GETEXTENDEDLISTVIEWSTYLE_, 0, 0, 0x1},
      {FileList, PBM_SETBARCOLOR_, 0, kNavy, 0},  // not a bar: nothing
      {ProgressBar1, PBM_SETBKCOLOR_, 0, kPale, kDefaultColour},
      {ProgressBar1, PBM_SETBKCOLOR_, 0, kPale, kPale},
      {ProgressBar1, PBM_SETBARCOLOR_, 0, kNavy, kDefaultColour},
      {ProgressBar1, PBM_SETBARCOLOR_, 0, kDefaultColour, kNavy},
      {MainForm, WM_SETICON_, ICON_BIG_, icon, 0},
      {MainForm, WM_SETICON_, ICON_BIG_, icon, icon},
      {MainForm, WM_SETICON_, ICON_SMALL_, 0, 0},
  };
  for (auto [to, msg, wParam, lParam, answer] : cases)
    EXPECT_EQ(w.SendMessageA(w.WindowHandle(to), msg, wParam, lParam), answer)
        << ControlName(to) << " " << std::hex << msg << " " << lParam;
}

TEST_F(WindowContract, TimersTickAtTheirIntervalsOnlyWhileEnabledAndWhileEventsRun) {
  w.SetEnabled(TimerTimeOut, true);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(events.timeOut, 0);
  // TimerTimeOut every 10 ms: ten ticks take at least 90 ms.
  w.SetEnabled(TimerTimeOut, false);
  w.SetEnabled(TimerTimeOut, true);
  const double tenTicks = MsUntil([&] { return events.timeOut >= 10; });
  EXPECT_GT(tenTicks, 85);
  EXPECT_LT(tenTicks, 500);
  w.SetEnabled(TimerTimeOut, false);
  const int stopped = events.timeOut;
  // Timer1 every second: the first tick after 1000 ms, then none for a while.
  w.SetEnabled(Timer1, true);
  const double first = MsUntil([&] { return events.timer1 == 1; });
  EXPECT_GT(first, 900);
  EXPECT_LT(first, 1500);
  PumpFor(300);
  EXPECT_EQ(events.timer1, 1);
  EXPECT_EQ(events.timeOut, stopped);
  // An unloaded form's timers and buttons no longer reach the agent.
  w.SetEnabled(TimerTimeOut, true);
  rig->PostClick(cmdGET);
  w.Unload();
  PumpFor(30);
  EXPECT_EQ(events.timeOut, stopped);
  EXPECT_EQ(events.get, 0);
}

TEST_F(WindowContract, ClicksActivationAndTheCloseBoxReachTheAgent) {
  ShowActivated();
  // A click is answered within 50 ms while the agent pumps.
  rig->PostClick(CmdChiudi);
  EXPECT_LT(MsUntil([&] { return events.chiudi == 1; }), 50);
  // A disabled button takes no click; the close box only asks the agent,
  // and the window stays; a second Show activates nothing.
  w.SetEnabled(cmdGET, false);
  rig->PostClick(cmdGET);
  rig->CloseBox();
  w.Show();
  PumpFor(30);
  EXPECT_EQ(events.get, 0);
  EXPECT_EQ(events.closeBox, 1);
  EXPECT_TRUE(w.Loaded());
  EXPECT_EQ(events.activate, 1);
  w.SetEnabled(cmdGET, true);
  rig->PostClick(cmdGET);
  PumpFor(30);
  EXPECT_EQ(events.get, 1);
  // Activation once per load.
  w.Unload();
  w.Load(&events);
  w.Show();
  PumpFor(100);
  EXPECT_EQ(events.activate, 2);
}

TEST_F(WindowContract, APumpWithNothingDueCostsNextToNothing) {
  long long turns = 0;
  rig->OnPump([&turns] { ++turns; });
  const int kPumps = 100000;
  std::vector<Clock::duration> pumps(kPumps);
  for (auto& took : pumps) {
    // What a chunk of a transfer does when nothing it shows has changed.
    w.SetCaption(LabelST, "0 bytes di 1234567 bytes");
    w.SetProgressValue(50);
    const auto start = Clock::now();
    w.DoEvents();
    took = Clock::now() - start;
  }
  rig->OnPump(nullptr);
  EXPECT_EQ(turns, kPumps);  // the transfer gets every turn
  // The median pump, which a busy machine's pauses do not move: a round of
  // the event loop costs several microseconds, a pump with nothing due far
  // less than one.
  std::nth_element(pumps.begin(), pumps.begin() + kPumps / 2, pumps.end());
  const std::chrono::duration<double, std::micro> median = pumps[kPumps / 2];
  EXPECT_LT(median.count(), 1.0);
}

// While a box is open the agent cannot take events: the timers still tick
// (their handlers run), the background hook runs every few milliseconds,
// the transfer's own turn waits, and a click on the window goes nowhere.
TEST_F(WindowContract, ABoxOpenKeepsTimersAndBackgroundGoingAndTakesNoClick) {
  ShowActivated();
  int background = 0, pumps = 0;
  w.onBackground = [&] {
    if (++background == 3) rig->PostClick(cmdGET);
  };
  rig->OnPump([&] { ++pumps; });
  w.SetEnabled(TimerTimeOut, true);
  rig->AnswerBoxAfter(300, vbNo);
  const auto start = Clock::now();
  EXPECT_EQ(w.MsgBox("Interrompre l'aggiornamento?", 68, "OrVento"), vbNo);
  const double open = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  w.SetEnabled(TimerTimeOut, false);
  const int ticks = events.timeOut, backgroundInBox = background;
  EXPECT_GT(open, 250);
  EXPECT_GE(backgroundInBox, 10);  // every few ms; a system timer may take 15
  EXPECT_GE(ticks, 5);             // the 10 ms timer
  EXPECT_EQ(pumps, 0);
  PumpFor(60);
  rig->OnPump(nullptr);
  w.onBackground = nullptr;
  EXPECT_EQ(background, backgroundInBox);  // only while a box is open
  EXPECT_EQ(events.get, 0);                // the click made during the box is lost
  rig->PostClick(cmdGET);
  PumpFor(60);
  EXPECT_EQ(events.get, 1);
}

// A timer is not entered again while its handler shows a box, and an error
// escaping a handler stops there: the window and its events go on.
TEST_F(WindowContract, HandlersAreNotReenteredAndTheirErrorsStopThere) {
  ShowActivated();
  int depth = 0, deepest = 0;
  events.inTimeOut = [&] {
    deepest = std::max(deepest, ++depth);
    if (events.timeOut == 1) {
      rig->AnswerBoxAfter(100, vbYes);
      w.MsgBox("Avviare l'aggiornamento di OrVento?", 68, "OrVento");
    }
    --depth;
  };
  w.SetEnabled(TimerTimeOut, true);
  EXPECT_LT(MsUntil([&] { return events.timeOut >= 4; }, 1000), 1000);
  w.SetEnabled(TimerTimeOut, false);
  EXPECT_EQ(deepest, 1);

  int thrown = 0;
  events.inChiudi = [&] {
    ++thrown;
    if (thrown == 1) throw VbError(errInvalidProperty, "from a handler");
    throw std::runtime_error("not the agent's own error");
  };
  for (int i = 0; i < 2; ++i) {
    rig->PostClick(CmdChiudi);
    PumpFor(40);
  }
  EXPECT_EQ(thrown, 2);
  rig->PostClick(cmdGET);
  PumpFor(40);
  EXPECT_EQ(events.get, 1);
  EXPECT_TRUE(w.Loaded());
}

// The close box while a completion handler (raised from the transfer's
// turn) is on the stack and lets events run, as a body being read does:
// the close handler unloads the window under it, the completion finds the
// controls gone, and events go on running.
TEST_F(WindowContract, CloseDuringTheCompletionUnloadsUnderIt) {
  ShowActivated();
  events.inCloseBox = [&] { w.Unload(); };
  bool completing = false, completed = false, goneInside = false;
  int errorAfter = 0;
  rig->OnPump([&] {
    if (completing || completed) return;
    completing = true;
    w.SetCaption(LabelST, "1024 bytes");
    rig->CloseBox();
    MsUntil([&] { return events.closeBox == 1; }, 1000);
    goneInside = !w.Loaded();
    errorAfter = ErrorOf([&] { w.SetCaption(LabelST, "2048 bytes"); });
    completing = false;
    completed = true;
  });
  PumpFor(100);
  EXPECT_TRUE(completed);
  EXPECT_TRUE(goneInside);
  EXPECT_EQ(errorAfter, errObjectUnloaded);
  PumpFor(60);
  rig->OnPump(nullptr);
  EXPECT_EQ(events.closeBox, 1);
  EXPECT_FALSE(w.Loaded());
}

}  // namespace
}  // namespace ovlu::contract
