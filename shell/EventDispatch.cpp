#include "shell/EventDispatch.h"

#include "platform/Host.h"
#include "shell/ScopedFlag.h"

namespace ovlu {

void EventDispatch::Attach(FormEvents* events) {
  events_ = events;
  activated_ = inTimer1_ = inTimerTimeOut_ = false;
}

void EventDispatch::Detach() { events_ = nullptr; }

bool EventDispatch::RoundDue() {
  const Clock::time_point now = Clock::now();
  if (now < nextRound_) return false;
  nextRound_ = now + kEventGap;
  return true;
}

void EventDispatch::Guarded(const std::function<void()>& f) {
  try {
    f();
  } catch (const ProcessEnding&) {
    throw;
  } catch (...) {
    // The handlers trap what they expect; anything else is dropped here
    // rather than taking the program down from inside the event loop.
  }
}

void EventDispatch::Run(void (FormEvents::*handler)()) {
  if (events_ == nullptr) return;
  FormEvents* events = events_;
  Guarded([&] { (events->*handler)(); });
}

void EventDispatch::Activate() {
  if (events_ == nullptr || activated_) return;
  activated_ = true;
  Run(&FormEvents::Form_Activate);
}

void EventDispatch::Click(Control button) {
  if (button == Control::cmdGET) Run(&FormEvents::cmdGET_Click);
  if (button == Control::CmdChiudi) Run(&FormEvents::CmdChiudi_Click);
}

void EventDispatch::CloseBox() { Run(&FormEvents::Form_CloseBox); }

void EventDispatch::Tick(Control timer) {
  const bool one = timer == Control::Timer1;
  if (!one && timer != Control::TimerTimeOut) return;
  bool& inside = one ? inTimer1_ : inTimerTimeOut_;
  if (inside || events_ == nullptr) return;
  const ScopedFlag leave(inside);
  Run(one ? &FormEvents::Timer1_Timer : &FormEvents::TimerTimeOut_Timer);
}

void EventDispatch::Background(const std::function<void()>& hook) {
  if (hook) Guarded(hook);
}

}  // namespace ovlu
