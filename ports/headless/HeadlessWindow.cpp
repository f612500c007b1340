#include "ports/headless/HeadlessWindow.h"

#include <thread>

#include "shell/ScopedFlag.h"

namespace ovlu {

void HeadlessWindow::Load(FormEvents* events) {
  if (model_.Loaded()) return;
  model_.Load();
  dispatch_.Attach(events);
  shown_ = false;
}

void HeadlessWindow::Show() {
  model_.RequireLoaded();
  ++showCount;
  shown_ = true;
}

void HeadlessWindow::Unload() {
  if (!model_.Loaded()) return;
  model_.Unload();
  dispatch_.Detach();
  ++unloadCount;
}

void HeadlessWindow::SetCaption(Control c, const std::string& text) {
  model_.SetCaption(c, text);
  captionHistory[c].push_back(text);
}

void HeadlessWindow::SetEnabled(Control c, bool enabled) {
  if (model_.SetEnabled(c, enabled) && enabled && FormModel::IsTimer(c)) {
    ++timerEnables[c];
    nextTick_[c] = Clock::now() + std::chrono::milliseconds(FormModel::TimerInterval(c));
  }
}

Handle HeadlessWindow::WindowHandle(Control c) const {
  return model_.Loaded() ? FormModel::HandleOf(c) : 0;
}

std::intptr_t HeadlessWindow::SendMessageA(Handle window, unsigned msg, std::uintptr_t wParam,
                                           std::intptr_t lParam) {
  messages.push_back({window, msg, wParam, lParam});
  Control c;
  if (!FormModel::ControlOf(window, &c)) return 0;
  return model_.Message(c, msg, wParam, lParam).result;
}

Handle HeadlessWindow::GetWindow(Handle, unsigned) { return 0; }

Handle HeadlessWindow::LoadImageA(const std::string& name, unsigned type, int cx, int, unsigned) {
  if (name != "AAA" || type != IMAGE_ICON_) return 0;
  return 0x7000 + cx;  // one shared handle per size
}

int HeadlessWindow::MsgBox(const std::string& text, int flags, const std::string& title) {
  Box b{text, flags, title};
  boxes.push_back(b);
  ++boxesOpen_;
  struct Close {
    int& open;
    ~Close() { --open; }
  } close{boxesOpen_};
  if (onBox) onBox(b);
  // The box's own modal loop: timers tick and the network keeps moving.
  const Clock::time_point end = Clock::now() + boxHold;
  Clock::time_point background{};
  for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
    RunDueTimers();
    if (now >= background) {
      background = now + EventDispatch::kBackgroundGap;
      EventDispatch::Background(onBackground);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (answers.empty()) return boxDefault;
  const int a = answers.front();
  answers.pop_front();
  return a;
}

void HeadlessWindow::SetScreenPointer(int pointer) {
  pointer_ = pointer;
  pointerHistory.push_back(pointer);
}

void HeadlessWindow::Tick(Control timer) {
  if (model_.Loaded() && model_.Enabled(timer)) dispatch_.Tick(timer);
}

void HeadlessWindow::Click(Control button) {
  if (model_.Loaded() && model_.Enabled(button) && !BoxOpen()) dispatch_.Click(button);
}

void HeadlessWindow::PressCloseBox() {
  if (model_.Loaded() && !BoxOpen()) dispatch_.CloseBox();
}

void HeadlessWindow::RunDueTimers() {
  if (manualTimers || !model_.Loaded()) return;
  const auto now = Clock::now();
  for (Control t : {Control::Timer1, Control::TimerTimeOut}) {
    if (!model_.Enabled(t) || now < nextTick_[t]) continue;
    nextTick_[t] = now + std::chrono::milliseconds(FormModel::TimerInterval(t));
    Tick(t);
  }
}

void HeadlessWindow::DoEvents() {
  ++pumpCount;
  if (dispatch_.RoundDue()) {
    if (onIdle && !inIdle_) {
      // A click made from here may itself pump; it must not click again.
      const ScopedFlag leave(inIdle_);
      auto idle = onIdle;
      idle();
    }
    // The window is activated on being shown, by the first round of events.
    if (shown_ && model_.Loaded()) dispatch_.Activate();
    RunDueTimers();
  }
  if (onPump) onPump();
}

int HeadlessWindow::Run() {
  for (;;) {
    DoEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace ovlu
