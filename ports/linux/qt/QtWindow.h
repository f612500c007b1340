// The agent's main window on Linux, built with Qt 6 Widgets: every control of
// MainForm at its design position, the list view, the progress bar, the two
// timers, message boxes, the screen pointer and the few window messages the
// agent sends. The QApplication belongs to the program; this class never
// creates one.
#pragma once

#include <QtGui/QImage>
#include <functional>
#include <memory>
#include <string>

#include "shell/FormModel.h"

class QWidget;
class QTimer;

namespace ovlu {

class QtWindow : public Window {
 public:
  QtWindow();
  ~QtWindow() override;
  QtWindow(const QtWindow&) = delete;
  QtWindow& operator=(const QtWindow&) = delete;

  void Load(FormEvents* events) override;
  bool Loaded() const override;
  void Show() override;
  void Unload() override;

  void SetCaption(Control c, const std::string& text) override;
  std::string Caption(Control c) const override;
  void SetEnabled(Control c, bool enabled) override;
  bool Enabled(Control c) const override;

  void SetProgressMax(float max) override;
  float ProgressMax() const override;
  void SetProgressValue(float value) override;
  float ProgressValue() const override;

  void SetColumnWidth(int column, int twips) override;
  int ColumnWidth(int column) const override;
  int AddRow(const std::string& text) override;
  int RowCount() const override;
  void SetSubItem(int row, int subItem, const std::string& text) override;
  std::string SubItem(int row, int subItem) const override;
  void SelectRow(int row) override;
  int SelectedRow() const override;
  void SetRowSmallIcon(int row, int image) override;
  int RowSmallIcon(int row) const override;
  void BindSmallIcons() override;

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

  // When set, answers message boxes instead of showing them (tests).
  std::function<int(const std::string& text, int flags, const std::string& title)> msgBoxHook;

  // The widget or timer behind a control; nullptr when the window is not
  // loaded or the control has none of that kind.
  QWidget* Widget(Control c) const;
  QTimer* Timer(Control c) const;
  // The state of the controls, as the agent set it.
  const FormModel& model() const;
  // The image behind an icon handle of LoadImageA; null for others.
  QImage IconImage(Handle icon) const;
  // The client area as drawn now.
  QImage Grab() const;
  bool SaveScreenshot(const std::string& pngPath) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace ovlu
