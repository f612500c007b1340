// The main window as the agent sees it: its controls by name and the few
// operations the procedures use on them. Each platform supplies one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Host.h"

namespace ovlu {

enum class Control : int {
  MainForm,
  Picture1,
  LblMesg,
  LabelTitle,
  FileList,
  LabelStatus1,
  Label3,
  LabelST,
  ProgressBar1,
  cmdGET,
  CmdChiudi,
  Frame1,
  LabelFName,
  LabelDest,
  Label1,
  LabelFS,
  Timer1,
  TimerTimeOut,
  ImageList1,
};
const char* ControlName(Control c);

// Handlers of the window's events. The window calls them on its own thread,
// only from its event loop or from DoEvents.
struct FormEvents {
  virtual ~FormEvents() = default;
  virtual void Form_Activate() = 0;  // the window is activated on being shown
  virtual void cmdGET_Click() = 0;
  virtual void CmdChiudi_Click() = 0;
  virtual void Form_CloseBox() = 0;  // the window's own close box
  virtual void Timer1_Timer() = 0;
  virtual void TimerTimeOut_Timer() = 0;
};

// Window messages the agent sends.
enum : unsigned {
  WM_SETICON_ = 0x80,
  LVM_SETEXTENDEDLISTVIEWSTYLE_ = 0x1036,
  LVM_GETEXTENDEDLISTVIEWSTYLE_ = 0x1037,
  PBM_SETBARCOLOR_ = 0x409,
  PBM_SETBKCOLOR_ = 0x2001,
  LVS_EX_FULLROWSELECT_ = 0x20,
  ICON_SMALL_ = 0,
  ICON_BIG_ = 1,
  GW_OWNER_ = 4,
  SM_CXICON_ = 11,
  SM_CYICON_ = 12,
  SM_CXSMICON_ = 49,
  SM_CYSMICON_ = 50,
  IMAGE_ICON_ = 1,
  LR_SHARED_ = 0x8000,
};

// Message box answers and pointers.
enum : int { vbYes = 6, vbNo = 7, vbHourglass = 11, vbDefault = 0 };

// All texts are in the system ANSI code page. Rows and sub-items count from
// 1 as in the list view (sub-item 0 is the row text). An operation on a row
// or column that does not exist throws VbError.
struct Window {
  virtual ~Window() = default;

  // Creates the window and every control in its design state, not shown.
  virtual void Load(FormEvents* events) = 0;
  virtual bool Loaded() const = 0;
  virtual void Show() = 0;  // shows it; activation calls Form_Activate once
  // Closes it; a later Load makes it anew. May be called from inside one of
  // the window's own event handlers (a click), so widgets must outlive the
  // handler that is running.
  virtual void Unload() = 0;

  virtual void SetCaption(Control c, const std::string& text) = 0;
  virtual std::string Caption(Control c) const = 0;
  // Buttons and timers.
  virtual void SetEnabled(Control c, bool enabled) = 0;
  virtual bool Enabled(Control c) const = 0;

  virtual void SetProgressMax(float max) = 0;
  virtual float ProgressMax() const = 0;
  virtual void SetProgressValue(float value) = 0;  // throws when above Max or below 0
  virtual float ProgressValue() const = 0;

  // FileList
  virtual void SetColumnWidth(int column, int twips) = 0;
  virtual int ColumnWidth(int column) const = 0;
  virtual int AddRow(const std::string& text) = 0;  // returns the new row's number
  virtual int RowCount() const = 0;
  virtual void SetSubItem(int row, int subItem, const std::string& text) = 0;
  virtual std::string SubItem(int row, int subItem) const = 0;
  virtual void SelectRow(int row) = 0;
  virtual int SelectedRow() const = 0;  // 0 when none
  virtual void SetRowSmallIcon(int row, int image) = 0;
  virtual int RowSmallIcon(int row) const = 0;  // 0 when none
  virtual void BindSmallIcons() = 0;            // ImageList1 becomes FileList's small icons

  // Raw window calls used by the list-view, progress-bar and icon code.
  virtual Handle WindowHandle(Control c) const = 0;
  virtual std::intptr_t SendMessageA(Handle window, unsigned msg, std::uintptr_t wParam,
                                     std::intptr_t lParam) = 0;
  virtual Handle GetWindow(Handle window, unsigned relation) = 0;
  virtual int GetSystemMetrics(int index) = 0;
  virtual Handle LoadImageA(const std::string& name, unsigned type, int cx, int cy,
                            unsigned flags) = 0;

  // Modal message box; flags as MsgBox (4 Yes/No + 64 information). While it
  // is open the timers tick, clicks on the window go nowhere and
  // onBackground runs.
  virtual int MsgBox(const std::string& text, int flags, const std::string& title) = 0;
  // Mouse pointer for the whole screen: 11 hourglass, 0 default.
  virtual void SetScreenPointer(int pointer) = 0;

  // Lets pending window events run (clicks, timer ticks, painting), then
  // calls onPump.
  virtual void DoEvents() = 0;
  // Runs the event loop until the process ends.
  virtual int Run() = 0;

  // Called by every DoEvents, after the window's events when they were due:
  // the network transfer is driven, and raises its states, from here.
  std::function<void()> onPump;
  // Called every few milliseconds while a message box is open, when the
  // agent cannot take events: the transfer keeps receiving from here.
  std::function<void()> onBackground;
};

}  // namespace ovlu
