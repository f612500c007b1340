// The agent's main window on Windows: a top-level window with the standard
// controls and the common controls (list view, progress bar, image list),
// laid out in twips and driven through the ANSI functions of user32.
#pragma once

#include <array>
#include <climits>
#include <functional>
#include <string>

#include "shell/EventDispatch.h"
#include "shell/FormModel.h"

namespace ovlu::win {

// Design of a windowed control (container and rectangle in twips); throws
// VbError for controls that have no window (timers, image list).
const ControlDesign& DesignRect(Control c);
// Twips to pixels at the given dots per inch (1440 twips per inch).
int TwipsToPixels(int twips, int dpi);

class Win32Window : public Window {
 public:
  Win32Window();
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

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

  // Dots per inch used for the layout.
  int DpiX() const { return dpiX_; }
  int DpiY() const { return dpiY_; }
  const FormModel& model() const { return model_; }
  // True once the banner picture was decoded from the resources.
  bool BannerLoaded() const { return banner_ != nullptr; }

  // Window procedures (public so that the class registration can name them).
  std::intptr_t HandleMain(void* hwnd, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
  std::intptr_t HandlePicture(void* hwnd, unsigned msg, std::uintptr_t wParam,
                              std::intptr_t lParam);

 private:
  static constexpr int kControls = FormModel::kControls;

  void* Hwnd(Control c) const { return hwnds_[static_cast<int>(c)]; }
  void CreateControls();
  void DestroyResources();
  void LoadBanner();
  void PaintDecoration(void* hdc);
  void DrawSoon();
  void Draw();
  // The list view learns of new rows, and redraws changed ones, on Draw.
  void SyncRows() const;
  void RowChanged(int row);
  // Answers the list view's question for a row's text or image
  // (NMLVDISPINFOA or, when wide, NMLVDISPINFOW).
  void ShowRow(void* info, bool wide) const;

  EventDispatch dispatch_;
  FormModel model_;
  std::array<void*, kControls> hwnds_{};
  std::array<bool, kControls> captionDue_{};
  bool drawPosted_ = false;
  int barShown_ = 0;
  mutable bool rowsDue_ = false;
  int firstRowDue_ = INT_MAX;  // rows to redraw, from 1; none while first > last
  int lastRowDue_ = 0;
  bool comInitialised_ = false;
  int dpiX_ = 96;
  int dpiY_ = 96;
  bool quit_ = false;
  int quitCode_ = 0;
  void* focus_ = nullptr;

  // GDI objects owned while the window exists.
  void* fontArial9Bold_ = nullptr;
  void* fontCalibri18Bold_ = nullptr;
  void* fontCalibri12_ = nullptr;
  void* fontSansBold_ = nullptr;
  void* fontDefault_ = nullptr;
  void* banner_ = nullptr;       // HBITMAP
  void* bannerBrush_ = nullptr;  // pattern brush of the banner, behind LblMesg
  void* imageList_ = nullptr;    // HIMAGELIST
  int bannerWidth_ = 0;
  int bannerHeight_ = 0;
};

}  // namespace ovlu::win
