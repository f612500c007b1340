#include "ports/headless/HeadlessWindow.h"

#include <cmath>
#include <thread>

#include "shell/FormDesign.h"

namespace ovlu {

namespace {
int IntervalOf(Control c) { return c == Control::Timer1 ? 1000 : 10; }
bool IsTimer(Control c) { return c == Control::Timer1 || c == Control::TimerTimeOut; }
constexpr Handle kBase = 0x1000;
}  // namespace

HeadlessWindow::HeadlessWindow() = default;

void HeadlessWindow::Design() {
  captions_.clear();
  for (int i = 0; i <= static_cast<int>(Control::ImageList1); ++i) {
    const Control c = static_cast<Control>(i);
    if (DesignOf(c) != nullptr) captions_[c] = DesignCaption(c);
  }
  enabled_.clear();
  enabled_[Control::cmdGET] = true;
  enabled_[Control::CmdChiudi] = true;
  enabled_[Control::Timer1] = false;
  enabled_[Control::TimerTimeOut] = false;
  max_ = 100;
  value_ = 0;
  for (int i = 0; i < 4; ++i) widths_[i + 1] = kFileListColumns[i].twips;
  rows_.clear();
  selected_ = 0;
  iconsBound_ = false;
  exStyle_ = 0;
  barColor = backColor = -1;
  bigIcon = smallIcon = 0;
}

void HeadlessWindow::Load(FormEvents* events) {
  events_ = events;
  Design();
  loaded_ = true;
  shown_ = false;
  activated_ = false;
}

void HeadlessWindow::Show() {
  Require();
  shown_ = true;
  ++showCount;
  if (!activated_) {
    activated_ = true;
    if (events_) events_->Form_Activate();
  }
}

void HeadlessWindow::Unload() {
  if (!loaded_) return;
  loaded_ = false;
  shown_ = false;
  ++unloadCount;
}

void HeadlessWindow::Require() const {
  if (!loaded_) throw VbError(errInvalidCall, "window not loaded");
}

void HeadlessWindow::SetCaption(Control c, const std::string& text) {
  Require();
  captions_[c] = text;
  captionHistory[c].push_back(text);
}

std::string HeadlessWindow::Caption(Control c) const {
  Require();
  auto it = captions_.find(c);
  return it == captions_.end() ? std::string() : it->second;
}

void HeadlessWindow::SetEnabled(Control c, bool enabled) {
  Require();
  if (IsTimer(c)) {
    if (enabled && !enabled_[c]) {
      ++timerEnables[c];
      nextTick_[c] = Clock::now() + std::chrono::milliseconds(IntervalOf(c));
    }
  }
  enabled_[c] = enabled;
}

bool HeadlessWindow::Enabled(Control c) const {
  Require();
  auto it = enabled_.find(c);
  return it != enabled_.end() && it->second;
}

void HeadlessWindow::SetProgressMax(float max) {
  Require();
  // As the progress bar control: the maximum must lie above the minimum (0).
  if (!(max > 0) || !std::isfinite(max))
    throw VbError(errInvalidProperty, "Invalid property value");
  max_ = max;
  if (value_ > max_) value_ = max_;
}

void HeadlessWindow::SetProgressValue(float value) {
  Require();
  if (!(value >= 0) || value > max_) throw VbError(errInvalidProperty, "Invalid property value");
  value_ = value;
}

void HeadlessWindow::SetColumnWidth(int column, int twips) {
  Require();
  if (column < 1 || column > 4) throw VbError(errInvalidCall, "no such column");
  widths_[column] = twips;
}

int HeadlessWindow::ColumnWidth(int column) const {
  Require();
  if (column < 1 || column > 4) throw VbError(errInvalidCall, "no such column");
  return widths_[column];
}

int HeadlessWindow::AddRow(const std::string& text) {
  Require();
  Row r;
  r.text = text;
  rows_.push_back(r);
  return static_cast<int>(rows_.size());
}

HeadlessWindow::Row& HeadlessWindow::RowAt(int row) {
  Require();
  if (row < 1 || row > static_cast<int>(rows_.size())) throw VbError(errInvalidCall, "no such row");
  return rows_[static_cast<std::size_t>(row - 1)];
}

const HeadlessWindow::Row& HeadlessWindow::RowAt(int row) const {
  return const_cast<HeadlessWindow*>(this)->RowAt(row);
}

void HeadlessWindow::SetSubItem(int row, int subItem, const std::string& text) {
  Row& r = RowAt(row);
  if (subItem < 1 || subItem > 3) throw VbError(errInvalidCall, "no such sub-item");
  r.sub[static_cast<std::size_t>(subItem)] = text;
}

std::string HeadlessWindow::SubItem(int row, int subItem) const {
  const Row& r = RowAt(row);
  if (subItem == 0) return r.text;
  if (subItem < 1 || subItem > 3) throw VbError(errInvalidCall, "no such sub-item");
  return r.sub[static_cast<std::size_t>(subItem)];
}

void HeadlessWindow::SelectRow(int row) {
  RowAt(row);
  selected_ = row;
}

void HeadlessWindow::SetRowSmallIcon(int row, int image) {
  Row& r = RowAt(row);
  if (!iconsBound_ || image != 1) throw VbError(errInvalidCall, "no such image");
  r.icon = image;
}

int HeadlessWindow::RowSmallIcon(int row) const { return RowAt(row).icon; }

Handle HeadlessWindow::WindowHandle(Control c) const {
  Require();
  return kBase + static_cast<Handle>(c);
}

std::intptr_t HeadlessWindow::SendMessageA(Handle window, unsigned msg, std::uintptr_t wParam,
                                           std::intptr_t lParam) {
  messages.push_back({window, msg, wParam, lParam});
  if (!loaded_) return 0;
  const Handle list = WindowHandle(Control::FileList);
  const Handle bar = WindowHandle(Control::ProgressBar1);
  const Handle form = WindowHandle(Control::MainForm);
  if (window == list && msg == LVM_GETEXTENDEDLISTVIEWSTYLE_) return exStyle_;
  if (window == list && msg == LVM_SETEXTENDEDLISTVIEWSTYLE_) {
    const std::intptr_t old = exStyle_;
    const std::intptr_t mask = wParam == 0 ? ~std::intptr_t{0} : static_cast<std::intptr_t>(wParam);
    exStyle_ = (exStyle_ & ~mask) | (lParam & mask);
    return old;
  }
  if (window == bar && msg == PBM_SETBARCOLOR_) {
    const std::intptr_t old = barColor;
    barColor = lParam;
    return old;
  }
  if (window == bar && msg == PBM_SETBKCOLOR_) {
    const std::intptr_t old = backColor;
    backColor = lParam;
    return old;
  }
  if (window == form && msg == WM_SETICON_) {
    std::intptr_t& slot = wParam == ICON_BIG_ ? bigIcon : smallIcon;
    const std::intptr_t old = slot;
    slot = lParam;
    return old;
  }
  return 0;
}

Handle HeadlessWindow::GetWindow(Handle, unsigned) { return 0; }

int HeadlessWindow::GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXICON_:
    case SM_CYICON_:
      return 32;
    case SM_CXSMICON_:
    case SM_CYSMICON_:
      return 16;
    default:
      return 0;
  }
}

Handle HeadlessWindow::LoadImageA(const std::string& name, unsigned type, int cx, int, unsigned) {
  if (name != "AAA" || type != IMAGE_ICON_) return 0;
  return 0x7000 + cx;  // one shared handle per size
}

int HeadlessWindow::MsgBox(const std::string& text, int flags, const std::string& title) {
  Box b{text, flags, title};
  boxes.push_back(b);
  if (onBox) onBox(b);
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
  if (loaded_ && events_ && Enabled(timer)) {
    if (timer == Control::Timer1)
      events_->Timer1_Timer();
    else
      events_->TimerTimeOut_Timer();
  }
}

void HeadlessWindow::Click(Control button) {
  if (!loaded_ || !events_ || !Enabled(button)) return;
  if (button == Control::cmdGET) events_->cmdGET_Click();
  if (button == Control::CmdChiudi) events_->CmdChiudi_Click();
}

void HeadlessWindow::PressCloseBox() {
  if (loaded_ && events_) events_->Form_CloseBox();
}

void HeadlessWindow::DoEvents() {
  ++pumpCount;
  if (onIdle && !inPump_) {
    // A click made from here may itself pump; it must not click again.
    inPump_ = true;
    auto idle = onIdle;
    idle();
    inPump_ = false;
  }
  if (!manualTimers && loaded_) {
    const auto now = Clock::now();
    for (Control t : {Control::Timer1, Control::TimerTimeOut}) {
      if (!enabled_[t] || now < nextTick_[t]) continue;
      nextTick_[t] = now + std::chrono::milliseconds(IntervalOf(t));
      Tick(t);
    }
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
