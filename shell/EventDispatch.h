// How every window hands its events to the agent. The windows differ only
// in how they learn of a click, a timer's tick, activation or the close
// box; what then reaches the agent, and when, is decided here once:
// - a round of window events runs at most once per kEventGap, so a caller
//   that pumps after every kilobyte does not pay for one each time;
// - Form_Activate comes once per load of the form;
// - a timer's tick is dropped while that timer's own handler runs (a
//   handler that lets events run, or shows a box, is not entered again);
// - an error escaping a handler ends there: nothing unwinds into the
//   toolkit's event loop, and the program goes on;
// - while a message box is open, the background hook runs every
//   kBackgroundGap, so the network keeps moving although the agent cannot
//   take its events.
#pragma once

#include <chrono>
#include <functional>

#include "shell/Window.h"

namespace ovlu {

class EventDispatch {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kEventGap{4};
  static constexpr std::chrono::milliseconds kBackgroundGap{5};

  // A form was loaded: it is not activated yet and no handler of it runs.
  void Attach(FormEvents* events);
  // The form is gone: nothing reaches the agent until the next Attach.
  void Detach();

  // True when a round of window events is due; the caller runs one then.
  bool RoundDue();

  void Activate();
  // cmdGET or CmdChiudi.
  void Click(Control button);
  void CloseBox();
  // Timer1 or TimerTimeOut.
  void Tick(Control timer);
  // Runs the window's background hook, if any, under the same catch-all.
  static void Background(const std::function<void()>& hook);
  // Runs f; any error but the end of the process stops there.
  static void Guarded(const std::function<void()>& f);

 private:
  void Run(void (FormEvents::*handler)());

  FormEvents* events_ = nullptr;
  bool activated_ = false;
  bool inTimer1_ = false;
  bool inTimerTimeOut_ = false;
  Clock::time_point nextRound_{};
};

// Ties a window and a transfer together: every round of window events
// hands the transfer its turn (its states are raised there), the
// transfer's waits let window events run, and while a message box is open
// the transfer keeps receiving.
template <class Transfer>
void ConnectPump(Window& window, Transfer& inet) {
  window.onPump = [&inet] { inet.Poll(); };
  window.onBackground = [&inet] { inet.Receive(); };
  inet.SetPump([&window] { window.DoEvents(); });
}

// Undoes ConnectPump, before either of the two goes away.
template <class Transfer>
void DisconnectPump(Window& window, Transfer& inet) {
  window.onPump = nullptr;
  window.onBackground = nullptr;
  inet.SetPump(nullptr);
}

}  // namespace ovlu
