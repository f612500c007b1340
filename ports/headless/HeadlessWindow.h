// A window without a screen: it keeps every control's state, records what
// the agent writes, answers message boxes from a script (holding each open
// for a while if asked) and runs its timers on the real clock whenever
// events are let through.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "shell/EventDispatch.h"
#include "shell/FormModel.h"

namespace ovlu {

class HeadlessWindow : public Window {
 public:
  struct Message {
    Handle window;
    unsigned msg;
    std::uintptr_t wParam;
    std::intptr_t lParam;
  };
  struct Box {
    std::string text;
    int flags;
    std::string title;
  };

  void Load(FormEvents* events) override;
  bool Loaded() const override { return model_.Loaded(); }
  void Show() override;
  void Unload() override;

  void SetCaption(Control c, const std::string& text) override;
  std::string Caption(Control c) const override { return model_.Caption(c); }
  void SetEnabled(Control c, bool enabled) override;
  bool Enabled(Control c) const override { return model_.Enabled(c); }

  void SetProgressMax(float max) override { model_.SetProgressMax(max); }
  float ProgressMax() const override { return model_.ProgressMax(); }
  void SetProgressValue(float value) override { model_.SetProgressValue(value); }
  float ProgressValue() const override { return model_.ProgressValue(); }

  void SetColumnWidth(int column, int twips) override { model_.SetColumnWidth(column, twips); }
  int ColumnWidth(int column) const override { return model_.ColumnWidth(column); }
  int AddRow(const std::string& text) override { return model_.AddRow(text); }
  int RowCount() const override { return model_.RowCount(); }
  void SetSubItem(int row, int subItem, const std::string& text) override {
    model_.SetSubItem(row, subItem, text);
  }
  std::string SubItem(int row, int subItem) const override { return model_.SubItem(row, subItem); }
  void SelectRow(int row) override { model_.SelectRow(row); }
  int SelectedRow() const override { return model_.SelectedRow(); }
  void SetRowSmallIcon(int row, int image) override { model_.SetRowSmallIcon(row, image); }
  int RowSmallIcon(int row) const override { return model_.RowSmallIcon(row); }
  void BindSmallIcons() override { model_.BindSmallIcons(); }

  Handle WindowHandle(Control c) const override;
  std::intptr_t SendMessageA(Handle window, unsigned msg, std::uintptr_t wParam,
                             std::intptr_t lParam) override;
  Handle GetWindow(Handle window, unsigned relation) override;
  int GetSystemMetrics(int index) override { return FormModel::IconMetric(index); }
  Handle LoadImageA(const std::string& name, unsigned type, int cx, int cy,
                    unsigned flags) override;

  int MsgBox(const std::string& text, int flags, const std::string& title) override;
  void SetScreenPointer(int pointer) override;
  void DoEvents() override;
  int Run() override;

  // Test controls.
  // Answers for the coming message boxes, in order; with none left a box
  // answers with boxDefault.
  std::deque<int> answers;
  int boxDefault = vbYes;
  // Called for a box before it answers (a test can act "while it is shown").
  std::function<void(const Box&)> onBox;
  // How long each box stays open after onBox, as a person taking time to
  // answer: the timers tick and onBackground runs meanwhile, and clicks go
  // nowhere.
  std::chrono::milliseconds boxHold{0};
  // Called first in every round of window events: a test can click buttons
  // from here.
  std::function<void()> onIdle;
  // Timers tick from the real clock unless manualTimers is set; then only
  // Tick() makes them tick.
  bool manualTimers = false;
  void Tick(Control timer);
  // A click on a button, as the mouse gives it: refused by a disabled
  // button and while a box is open.
  void Click(Control button);
  void PressCloseBox();
  bool BoxOpen() const { return boxesOpen_ > 0; }

  // What happened.
  std::vector<Box> boxes;
  std::vector<Message> messages;
  std::map<Control, std::vector<std::string>> captionHistory;  // every caption written
  std::vector<int> pointerHistory;
  std::map<Control, int> timerEnables;  // how often each timer was switched on
  int showCount = 0;
  int unloadCount = 0;
  long long pumpCount = 0;
  const FormModel& model() const { return model_; }
  int pointer() const { return pointer_; }

 private:
  void RunDueTimers();

  EventDispatch dispatch_;
  FormModel model_;
  bool shown_ = false;
  int pointer_ = 0;
  int boxesOpen_ = 0;
  bool inIdle_ = false;
  using Clock = std::chrono::steady_clock;
  std::map<Control, Clock::time_point> nextTick_;
};

}  // namespace ovlu
