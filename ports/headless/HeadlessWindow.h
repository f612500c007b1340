// A window without a screen: it keeps every control's state, records what
// the agent writes, answers message boxes from a script and runs its timers
// on the real clock whenever events are let through.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "shell/Window.h"

namespace ovlu {

class HeadlessWindow : public Window {
 public:
  struct Row {
    std::string text;
    std::vector<std::string> sub = std::vector<std::string>(4);  // index 1..3 used
    int icon = 0;
  };
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

  HeadlessWindow();

  void Load(FormEvents* events) override;
  bool Loaded() const override { return loaded_; }
  void Show() override;
  void Unload() override;

  void SetCaption(Control c, const std::string& text) override;
  std::string Caption(Control c) const override;
  void SetEnabled(Control c, bool enabled) override;
  bool Enabled(Control c) const override;

  void SetProgressMax(float max) override;
  float ProgressMax() const override { return max_; }
  void SetProgressValue(float value) override;
  float ProgressValue() const override { return value_; }

  void SetColumnWidth(int column, int twips) override;
  int ColumnWidth(int column) const override;
  int AddRow(const std::string& text) override;
  int RowCount() const override { return static_cast<int>(rows_.size()); }
  void SetSubItem(int row, int subItem, const std::string& text) override;
  std::string SubItem(int row, int subItem) const override;
  void SelectRow(int row) override;
  int SelectedRow() const override { return selected_; }
  void SetRowSmallIcon(int row, int image) override;
  int RowSmallIcon(int row) const override;
  void BindSmallIcons() override { iconsBound_ = true; }

  Handle WindowHandle(Control c) const override;
  std::intptr_t SendMessageA(Handle window, unsigned msg, std::uintptr_t wParam,
                             std::intptr_t lParam) override;
  Handle GetWindow(Handle window, unsigned relation) override;
  int GetSystemMetrics(int index) override;
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
  // Called on every DoEvents after the timers (the transfer is driven here).
  std::function<void()> onPump;
  // Called on every DoEvents first: a test can click buttons from here.
  std::function<void()> onIdle;
  // Timers tick from the real clock unless manualTimers is set; then only
  // Tick() makes them tick.
  bool manualTimers = false;
  void Tick(Control timer);
  void Click(Control button);
  void PressCloseBox();

  // What happened.
  std::vector<Box> boxes;
  std::vector<Message> messages;
  std::map<Control, std::vector<std::string>> captionHistory;
  std::vector<int> pointerHistory;
  std::map<Control, int> timerEnables;  // how often each timer was switched on
  int showCount = 0;
  int unloadCount = 0;
  long long pumpCount = 0;
  bool iconsBound() const { return iconsBound_; }
  std::intptr_t extendedStyle() const { return exStyle_; }
  std::intptr_t bigIcon = 0, smallIcon = 0;
  std::intptr_t barColor = -1, backColor = -1;
  const std::vector<Row>& rows() const { return rows_; }
  int pointer() const { return pointer_; }

 private:
  void Require() const;
  Row& RowAt(int row);
  const Row& RowAt(int row) const;
  void Design();

  FormEvents* events_ = nullptr;
  bool loaded_ = false;
  bool shown_ = false;
  bool activated_ = false;
  std::map<Control, std::string> captions_;
  std::map<Control, bool> enabled_;
  float max_ = 100, value_ = 0;
  int widths_[5] = {0, 0, 0, 0, 0};
  std::vector<Row> rows_;
  int selected_ = 0;
  bool iconsBound_ = false;
  std::intptr_t exStyle_ = 0;
  int pointer_ = 0;
  bool inPump_ = false;
  using Clock = std::chrono::steady_clock;
  std::map<Control, Clock::time_point> nextTick_;
};

}  // namespace ovlu
