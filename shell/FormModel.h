// The state of every control of MainForm and the rules of the operations on
// it, for every window: what each call may be given, the error it raises
// otherwise, and what the window messages the agent sends mean. A window
// keeps one model, asks it first, and draws only what the model says has
// changed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "shell/FormDesign.h"

namespace ovlu {

// Errors of the controls, as the form and its common controls raise them.
enum : int {
  errObjectUnloaded = 364,      // a control of a window that is not loaded
  errNoSuchProperty = 438,      // a caption on a control that shows none
  errIndexOutOfBounds = 35600,  // a list row, list column or image that does not exist
  errImageListUnbound = 35613,  // a row icon before the image list is bound
};

// The colour a progress bar has until it is told one (CLR_DEFAULT).
constexpr std::intptr_t kDefaultColour = 0xFF000000;

class FormModel {
 public:
  static constexpr int kControls = static_cast<int>(Control::ImageList1) + 1;
  static constexpr int kColumns = 4;
  static constexpr int kImages = 1;  // ImageList1 holds the check mark

  struct Row {
    std::array<std::string, kColumns> text;  // [0] is the row's own text
    int icon = 0;
  };

  // Design state, loaded; Unload forgets every control.
  void Load();
  void Unload() { loaded_ = false; }
  bool Loaded() const { return loaded_; }
  void RequireLoaded() const;

  // Setters return true when what the control shows changes; the window
  // then draws it. Rewriting the current value costs nothing.
  bool SetCaption(Control c, const std::string& text);
  const std::string& Caption(Control c) const;
  bool SetEnabled(Control c, bool enabled);
  bool Enabled(Control c) const;

  bool SetProgressMax(float max);
  float ProgressMax() const;
  bool SetProgressValue(float value);
  float ProgressValue() const;
  // The bar's position in whole steps of a control that counts 0..steps.
  int BarPosition(int steps) const;

  bool SetColumnWidth(int column, int twips);
  int ColumnWidth(int column) const;
  int AddRow(const std::string& text);
  int RowCount() const;
  bool SetSubItem(int row, int subItem, const std::string& text);
  const std::string& SubItem(int row, int subItem) const;
  void SelectRow(int row);
  int SelectedRow() const;
  bool SetRowSmallIcon(int row, int image);
  int RowSmallIcon(int row) const;
  bool BindSmallIcons();
  bool IconsBound() const { return iconsBound_; }

  // A message sent to a control. decoded is false for one that the agent's
  // windows do not interpret (result 0); otherwise result is the message's
  // answer and the window draws the new state.
  struct Reply {
    bool decoded = false;
    std::intptr_t result = 0;
  };
  Reply Message(Control target, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
  std::intptr_t ListStyle() const { return listStyle_; }
  bool FullRowSelect() const;
  std::intptr_t BarColour() const { return barColour_; }
  std::intptr_t BackColour() const { return backColour_; }
  Handle Icon(unsigned which) const { return which == ICON_BIG_ ? bigIcon_ : smallIcon_; }

  // Stand-in window handles for the windows that have none of their own.
  static Handle HandleOf(Control c) { return kFirstHandle + 0x10 * static_cast<Handle>(c); }
  // The control behind a stand-in handle; false for any other value.
  static bool ControlOf(Handle h, Control* c);
  static int TimerInterval(Control timer) { return timer == Control::Timer1 ? 1000 : 10; }
  static bool IsTimer(Control c) { return c == Control::Timer1 || c == Control::TimerTimeOut; }
  // The sizes GetSystemMetrics gives for the icon metrics; 0 for others.
  static int IconMetric(int index);

 private:
  static constexpr Handle kFirstHandle = 0x10010;
  static int Index(Control c) { return static_cast<int>(c); }
  const Row& RowAt(int row) const;
  Row& RowRef(int row);
  static void CheckSubItem(int subItem);

  bool loaded_ = false;
  std::array<std::string, kControls> captions_{};
  std::array<bool, kControls> enabled_{};
  float max_ = 100, value_ = 0;
  std::array<int, kColumns> widths_{};
  std::vector<Row> rows_;
  int selected_ = 0;
  bool iconsBound_ = false;
  std::intptr_t listStyle_ = 0;
  std::intptr_t barColour_ = kDefaultColour, backColour_ = kDefaultColour;
  Handle bigIcon_ = 0, smallIcon_ = 0;
};

}  // namespace ovlu
