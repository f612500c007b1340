// The contract every window keeps: the same table of control operations and
// misuses runs against the headless, Qt and Win32 windows. Each platform's
// test program supplies a rig that reads back what its window draws and
// feeds it input as a person would.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "shell/Window.h"

namespace ovlu::contract {

// The bar's colours the agent sends, as the messages carry them (0x00BBGGRR).
constexpr std::intptr_t kPale = 240 + 256 * 240 + 65536 * 255, kNavy = 32 + 256 * 43 + 65536 * 136;

// Stands for the agent's main form: counts the events the window hands over
// and, where a test asks, does more inside the handler.
struct CountingEvents : FormEvents {
  int activate = 0, get = 0, chiudi = 0, closeBox = 0, timer1 = 0, timeOut = 0;
  std::function<void()> inChiudi, inCloseBox, inTimeOut;
  void Form_Activate() override { ++activate; }
  void cmdGET_Click() override { ++get; }
  void CmdChiudi_Click() override {
    ++chiudi;
    if (inChiudi) inChiudi();
  }
  void Form_CloseBox() override {
    ++closeBox;
    if (inCloseBox) inCloseBox();
  }
  void Timer1_Timer() override { ++timer1; }
  void TimerTimeOut_Timer() override {
    ++timeOut;
    if (inTimeOut) inTimeOut();
  }
};

struct WindowRig {
  virtual ~WindowRig() = default;
  virtual Window& window() = 0;
  // Queues a click on a button, as the mouse would; it reaches the agent
  // when events are let through. While a message box is open the window
  // takes no clicks.
  virtual void PostClick(Control button) = 0;
  // Answers the next message box, as a person would, ms milliseconds from
  // now (vbYes or vbNo).
  virtual void AnswerBoxAfter(int ms, int answer) = 0;
  // Sets what the window calls on every DoEvents (the transfer's turn).
  virtual void OnPump(std::function<void()> f) = 0;
  // The window's own close box.
  virtual void CloseBox() = 0;
  // What is on screen: a control's caption, a list cell (sub-item 0 is the
  // row's text), and the bar's filled share from 0 to 1.
  virtual std::string Drawn(Control c) = 0;
  virtual std::string DrawnCell(int row, int subItem) = 0;
  virtual double DrawnBar() = 0;
  // Left, top, width and height in pixels within the control's container
  // (the form: its client size); none for a window without a screen.
  virtual std::optional<std::array<int, 4>> DrawnRect(Control c) = 0;
};

// A rig around a window W of the platform, whose onPump the rig sets.
template <class W>
struct RigOf : WindowRig {
  Window& window() override { return w; }
  void OnPump(std::function<void()> f) override { w.onPump = std::move(f); }
  W w;
};

// Made by each platform's test program; the window comes without a form
// loaded.
std::unique_ptr<WindowRig> MakeRig();

// A loaded window of the platform and the events that reach the agent.
class WindowTest : public testing::Test {
 protected:
  using Clock = std::chrono::steady_clock;
  void SetUp() override { w.Load(&events); }
  void TearDown() override { w.Unload(); }

  // Lets events run, as the agent's waits do, until done() holds or ms
  // milliseconds have passed; the time it took.
  double MsUntil(const std::function<bool()>& done, int ms = 2000) {
    const auto start = Clock::now();
    while (!done() && Clock::now() - start < std::chrono::milliseconds(ms)) w.DoEvents();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
  // Lets events run for ms milliseconds, the last round at least one gap
  // after the others, however the machine schedules this thread.
  void PumpFor(int ms) {
    MsUntil([] { return false; }, ms);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    w.DoEvents();
  }

  // Shows the window, activated at the latest by the next round of events.
  void ShowActivated() {
    w.Show();
    ASSERT_LT(MsUntil([&] { return events.activate == 1; }), 500);
  }

  std::unique_ptr<WindowRig> rig = MakeRig();
  Window& w = rig->window();
  CountingEvents events;
};

}  // namespace ovlu::contract
