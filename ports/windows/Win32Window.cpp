#include "ports/windows/WinApi.h"
// (the Windows headers first: see WinApi.h)
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <cmath>
#include <cstring>

#include "ports/windows/Win32Window.h"
#include "ports/windows/resource.h"

namespace ovlu::win {

namespace {

constexpr char kMainClass[] = "OVLiveUpdateMain";
constexpr char kPictureClass[] = "OVLiveUpdatePicture";
constexpr UINT_PTR kTimer1Id = 1;
constexpr UINT_PTR kTimerTimeOutId = 2;
constexpr UINT kTimer1Interval = 1000;
constexpr UINT kTimerTimeOutInterval = 10;
// Posted by Show: the window may have become active before it was visible.
constexpr UINT kCheckActivation = WM_APP + 3;

// Child control identifiers; 1 and 2 are left to IDOK and IDCANCEL, which
// the dialog keyboard handling sends for Enter and Escape.
int ControlId(Control c) { return 100 + static_cast<int>(c); }

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kShapeColour = RGB(192, 192, 255);
constexpr COLORREF kLineLight = RGB(192, 192, 192);
constexpr COLORREF kLineDark = RGB(128, 128, 128);
constexpr COLORREF kLblMesgText = RGB(0, 128, 128);

bool IsTimer(Control c) { return c == Control::Timer1 || c == Control::TimerTimeOut; }

Win32Window* FromHwnd(HWND h) {
  return reinterpret_cast<Win32Window*>(::GetWindowLongPtrA(h, GWLP_USERDATA));
}

// The dialog manager moves the focus with Tab and the arrows and takes Alt
// with a letter as an access key. A letter typed alone must not: on a
// focused button it would click the button whose caption underlines that
// letter, so plain characters go to the control itself.
bool ByDialogManager(HWND main, MSG& msg) {
  if (main == nullptr) return false;
  if (msg.message == WM_CHAR && msg.wParam >= 0x20) return false;
  return ::IsDialogMessageA(main, &msg) != FALSE;
}

LRESULT CALLBACK MainProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
    ::SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  Win32Window* self = FromHwnd(h);
  if (self == nullptr) return ::DefWindowProcA(h, msg, wp, lp);
  return self->HandleMain(h, msg, wp, lp);
}

LRESULT CALLBACK PictureProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
    ::SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  Win32Window* self = FromHwnd(h);
  if (self == nullptr) return ::DefWindowProcA(h, msg, wp, lp);
  return self->HandlePicture(h, msg, wp, lp);
}

void RegisterClasses() {
  static bool done = false;
  if (done) return;
  HINSTANCE inst = ::GetModuleHandleA(nullptr);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = MainProc;
  wc.hInstance = inst;
  wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = kMainClass;
  ::RegisterClassExA(&wc);

  WNDCLASSEXA pc{};
  pc.cbSize = sizeof pc;
  pc.lpfnWndProc = PictureProc;
  pc.hInstance = inst;
  pc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  pc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  pc.lpszClassName = kPictureClass;
  ::RegisterClassExA(&pc);
  done = true;
}

// Font of the given size in points (times 100) at the given vertical dpi.
HFONT MakeFont(const char* face, int points100, bool bold, int dpiY) {
  const int height = -::MulDiv(points100, dpiY, 7200);
  return ::CreateFontA(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, face);
}

// Decodes a JPEG (or any picture OLE can read) held in a resource into a
// bitmap of our own. GDI cannot read JPEG, OLE's picture object can.
HBITMAP DecodePictureResource(const char* name, int* width, int* height) {
  HINSTANCE inst = ::GetModuleHandleA(nullptr);
  HRSRC res = ::FindResourceA(inst, name, reinterpret_cast<LPCSTR>(RT_RCDATA));
  if (res == nullptr) return nullptr;
  const DWORD size = ::SizeofResource(inst, res);
  HGLOBAL loaded = ::LoadResource(inst, res);
  const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (bytes == nullptr || size == 0) return nullptr;

  HGLOBAL copy = ::GlobalAlloc(GMEM_MOVEABLE, size);
  if (copy == nullptr) return nullptr;
  void* dst = ::GlobalLock(copy);
  std::memcpy(dst, bytes, size);
  ::GlobalUnlock(copy);

  IStream* stream = nullptr;
  if (FAILED(::CreateStreamOnHGlobal(copy, TRUE, &stream))) {
    ::GlobalFree(copy);
    return nullptr;
  }
  IPicture* picture = nullptr;
  HRESULT hr = ::OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                                reinterpret_cast<void**>(&picture));
  stream->Release();
  if (FAILED(hr) || picture == nullptr) return nullptr;

  HBITMAP result = nullptr;
  OLE_HANDLE handle = 0;
  SHORT type = PICTYPE_UNINITIALIZED;
  if (SUCCEEDED(picture->get_Type(&type)) && type == PICTYPE_BITMAP &&
      SUCCEEDED(picture->get_Handle(&handle))) {
    HBITMAP source = reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle));
    result = static_cast<HBITMAP>(::CopyImage(source, IMAGE_BITMAP, 0, 0, 0));
    BITMAP bm{};
    if (result != nullptr && ::GetObjectA(result, sizeof bm, &bm) != 0) {
      *width = bm.bmWidth;
      *height = bm.bmHeight;
    }
  }
  picture->Release();
  return result;
}

}  // namespace

// ---------------------------------------------------------------- layout

const ControlDesign& DesignRect(Control c) {
  const ControlDesign* d = DesignOf(c);
  if (d == nullptr) throw VbError(errInvalidProperty, std::string("no window: ") + ControlName(c));
  return *d;
}

int TwipsToPixels(int twips, int dpi) { return ::MulDiv(twips, dpi, 1440); }

// ---------------------------------------------------------------- life cycle

Win32Window::Win32Window() {
  const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  comInitialised_ = SUCCEEDED(hr);
  HDC screen = ::GetDC(nullptr);
  if (screen != nullptr) {
    dpiX_ = ::GetDeviceCaps(screen, LOGPIXELSX);
    dpiY_ = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
  }
  if (dpiX_ <= 0) dpiX_ = 96;
  if (dpiY_ <= 0) dpiY_ = 96;
  ResetDesignState();
}

Win32Window::~Win32Window() {
  if (loaded_) Unload();
  if (comInitialised_) ::CoUninitialize();
}

void Win32Window::ResetDesignState() {
  for (int i = 0; i < kControls; ++i) {
    const auto c = static_cast<Control>(i);
    controls_[i].caption = DesignCaption(c);
    controls_[i].enabled = !IsTimer(c);
    controls_[i].hwnd = nullptr;
  }
  for (int i = 0; i < 4; ++i) columnTwips_[i] = kFileListColumns[i].twips;
  rows_.clear();
  selectedRow_ = 0;
  progressMax_ = 100.0f;
  progressValue_ = 0.0f;
  activated_ = false;
  focus_ = nullptr;
  inTimer1_ = inTimerTimeOut_ = false;
}

bool Win32Window::Loaded() const { return loaded_; }

void Win32Window::Load(FormEvents* events) {
  if (loaded_) return;
  events_ = events;
  ResetDesignState();
  RegisterClasses();

  fontArial9Bold_ = MakeFont("Arial", 900, true, dpiY_);
  fontCalibri18Bold_ = MakeFont("Calibri", 1800, true, dpiY_);
  fontCalibri12_ = MakeFont("Calibri", 1200, false, dpiY_);
  fontSansBold_ = MakeFont("MS Sans Serif", 825, true, dpiY_);
  fontDefault_ = MakeFont("MS Sans Serif", 825, false, dpiY_);
  LoadBanner();

  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT rc{0, 0, TwipsToPixels(kFormClientWidth, dpiX_), TwipsToPixels(kFormClientHeight, dpiY_)};
  ::AdjustWindowRectEx(&rc, style, FALSE, 0);
  const int w = rc.right - rc.left;
  const int h = rc.bottom - rc.top;
  RECT work{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  ::SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + ((work.right - work.left) - w) / 2;
  const int y = work.top + ((work.bottom - work.top) - h) / 2;

  HWND main = ::CreateWindowExA(0, kMainClass, State(Control::MainForm).caption.c_str(), style,
                                x > 0 ? x : 0, y > 0 ? y : 0, w, h, nullptr, nullptr,
                                ::GetModuleHandleA(nullptr), this);
  if (main == nullptr) {
    DestroyResources();
    throw VbError(errInvalidCall, "CreateWindowExA failed");
  }
  State(Control::MainForm).hwnd = main;
  loaded_ = true;
  CreateControls();
}

void Win32Window::CreateControls() {
  HINSTANCE inst = ::GetModuleHandleA(nullptr);
  auto create = [&](Control c, DWORD exStyle, const char* cls, DWORD style, void* param) {
    const ControlDesign& r = DesignRect(c);
    HWND parent = static_cast<HWND>(Hwnd(r.container));
    HWND h = ::CreateWindowExA(
        exStyle, cls, HasCaption(c) ? State(c).caption.c_str() : "",
        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, TwipsToPixels(r.left, dpiX_),
        TwipsToPixels(r.top, dpiY_), TwipsToPixels(r.width, dpiX_), TwipsToPixels(r.height, dpiY_),
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(c))), inst, param);
    State(c).hwnd = h;
    return h;
  };
  auto font = [](HWND h, void* f) {
    if (h != nullptr && f != nullptr) ::SendMessageA(h, WM_SETFONT, reinterpret_cast<WPARAM>(f), 0);
  };
  const DWORD label = SS_LEFT | SS_NOPREFIX;

  // Creation order is the tab order: the buttons first, then the list.
  font(create(Control::cmdGET, 0, "BUTTON", BS_PUSHBUTTON | WS_TABSTOP, nullptr), fontSansBold_);
  font(create(Control::Frame1, 0, "BUTTON", BS_GROUPBOX, nullptr), fontDefault_);
  font(create(Control::LabelFName, 0, "STATIC", label, nullptr), fontDefault_);
  font(create(Control::LabelDest, 0, "STATIC", label, nullptr), fontDefault_);
  font(create(Control::Label1, 0, "STATIC", label, nullptr), fontDefault_);
  font(create(Control::LabelFS, 0, "STATIC", label, nullptr), fontDefault_);
  font(create(Control::LabelTitle, 0, "STATIC", label, nullptr), fontCalibri18Bold_);
  font(create(Control::LabelStatus1, 0, "STATIC", label, nullptr), fontDefault_);
  font(create(Control::CmdChiudi, 0, "BUTTON", BS_PUSHBUTTON | WS_TABSTOP, nullptr), fontSansBold_);
  create(Control::ProgressBar1, 0, PROGRESS_CLASSA, 0, nullptr);
  font(create(Control::Label3, 0, "STATIC", label, nullptr), fontCalibri12_);
  font(create(Control::LabelST, 0, "STATIC", label, nullptr), fontCalibri12_);
  HWND list = create(
      Control::FileList, 0, WC_LISTVIEWA,
      LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS | WS_BORDER | WS_TABSTOP,
      nullptr);
  font(list, fontCalibri12_);
  create(Control::Picture1, 0, kPictureClass, 0, this);
  font(create(Control::LblMesg, 0, "STATIC", SS_CENTER | SS_NOPREFIX, nullptr), fontArial9Bold_);

  // LabelStatus1 lies inside the list's rectangle, beneath it.
  if (HWND status = static_cast<HWND>(Hwnd(Control::LabelStatus1)); status != nullptr)
    ::SetWindowPos(status, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  if (list != nullptr) {
    for (int i = 0; i < 4; ++i) {
      LVCOLUMNA col{};
      col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
      col.fmt = LVCFMT_LEFT;
      col.cx = TwipsToPixels(kFileListColumns[i].twips, dpiX_);
      col.pszText = const_cast<char*>(kFileListColumns[i].header);
      col.iSubItem = i;
      ::SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&col));
    }
  }
  if (HWND bar = static_cast<HWND>(Hwnd(Control::ProgressBar1)); bar != nullptr) {
    ::SendMessageA(bar, PBM_SETRANGE32, 0, 100);
    ::SendMessageA(bar, PBM_SETPOS, 0, 0);
  }

  imageList_ = ::ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
  if (imageList_ != nullptr) {
    HBITMAP check = static_cast<HBITMAP>(
        ::LoadImageA(inst, MAKEINTRESOURCEA(IDB_CHECK), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (check != nullptr) {
      // The check mark is stored on white; white is the transparent colour.
      ::ImageList_AddMasked(static_cast<HIMAGELIST>(imageList_), check, kWhite);
      ::DeleteObject(check);
    }
  }
}

void Win32Window::LoadBanner() {
  banner_ = DecodePictureResource(MAKEINTRESOURCEA(IDR_BANNER), &bannerWidth_, &bannerHeight_);
  if (banner_ != nullptr) bannerBrush_ = ::CreatePatternBrush(static_cast<HBITMAP>(banner_));
}

void Win32Window::Show() {
  HWND main = static_cast<HWND>(Hwnd(Control::MainForm));
  if (main == nullptr) return;
  ::ShowWindow(main, SW_SHOWNORMAL);
  ::UpdateWindow(main);
  ::SetForegroundWindow(main);
  // A window activated while still hidden (a control took the focus) gets
  // no new activation when shown; the event loop then catches up.
  if (!activated_) ::PostMessageA(main, kCheckActivation, 0, 0);
}

void Win32Window::DestroyResources() {
  for (void** obj : {&fontArial9Bold_, &fontCalibri18Bold_, &fontCalibri12_, &fontSansBold_,
                     &fontDefault_, &banner_, &bannerBrush_}) {
    if (*obj != nullptr) ::DeleteObject(static_cast<HGDIOBJ>(*obj));
    *obj = nullptr;
  }
  if (imageList_ != nullptr) ::ImageList_Destroy(static_cast<HIMAGELIST>(imageList_));
  imageList_ = nullptr;
}

void Win32Window::Unload() {
  if (!loaded_) return;
  HWND main = static_cast<HWND>(Hwnd(Control::MainForm));
  loaded_ = false;
  if (main != nullptr && ::IsWindow(main)) ::DestroyWindow(main);
  DestroyResources();
  for (auto& s : controls_) s.hwnd = nullptr;
  if (pointer_ != 0) ApplyPointer();
}

// ---------------------------------------------------------------- captions and states

void Win32Window::SetCaption(Control c, const std::string& text) {
  if (!HasCaption(c))
    throw VbError(errInvalidProperty, std::string("no caption: ") + ControlName(c));
  State(c).caption = text;
  HWND h = static_cast<HWND>(Hwnd(c));
  if (h == nullptr) return;
  ::SetWindowTextA(h, text.c_str());
  if (c == Control::LblMesg) {
    // The label's background is the banner: repaint it as a whole.
    ::InvalidateRect(h, nullptr, TRUE);
  }
}

std::string Win32Window::Caption(Control c) const {
  if (!HasCaption(c))
    throw VbError(errInvalidProperty, std::string("no caption: ") + ControlName(c));
  return State(c).caption;
}

void Win32Window::SetEnabled(Control c, bool enabled) {
  ControlState& s = State(c);
  if (IsTimer(c)) {
    const bool was = s.enabled;
    s.enabled = enabled;
    HWND main = static_cast<HWND>(Hwnd(Control::MainForm));
    if (main == nullptr || was == enabled) return;
    const UINT_PTR id = c == Control::Timer1 ? kTimer1Id : kTimerTimeOutId;
    if (enabled)
      ::SetTimer(main, id, c == Control::Timer1 ? kTimer1Interval : kTimerTimeOutInterval, nullptr);
    else
      ::KillTimer(main, id);
    return;
  }
  s.enabled = enabled;
  HWND h = static_cast<HWND>(s.hwnd);
  if (h == nullptr) return;
  if (!enabled && ::GetFocus() == h) {
    // A disabled control cannot keep the focus: pass it on, as the tab key would.
    HWND main = static_cast<HWND>(Hwnd(Control::MainForm));
    HWND next = ::GetNextDlgTabItem(main, h, FALSE);
    ::EnableWindow(h, FALSE);
    if (next != nullptr && next != h) ::SetFocus(next);
    return;
  }
  ::EnableWindow(h, enabled ? TRUE : FALSE);
}

bool Win32Window::Enabled(Control c) const { return State(c).enabled; }

// ---------------------------------------------------------------- progress bar

void Win32Window::SetProgressMax(float max) {
  // The maximum must lie above the minimum, which is 0.
  if (std::isnan(max) || max <= 0.0f) throw VbError(errInvalidProperty, "bad progress maximum");
  progressMax_ = max;
  if (progressValue_ > max) progressValue_ = max;
  if (HWND bar = static_cast<HWND>(Hwnd(Control::ProgressBar1)); bar != nullptr) {
    // The control counts in whole numbers; the agent's own values stay floats.
    const double top = std::fmin(static_cast<double>(max), 2147483647.0);
    ::SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(top));
    ::SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(progressValue_), 0);
  }
}

float Win32Window::ProgressMax() const { return progressMax_; }

void Win32Window::SetProgressValue(float value) {
  if (value < 0.0f || value > progressMax_ || std::isnan(value))
    throw VbError(errInvalidProperty, "progress value out of range");
  progressValue_ = value;
  if (HWND bar = static_cast<HWND>(Hwnd(Control::ProgressBar1)); bar != nullptr)
    ::SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

float Win32Window::ProgressValue() const { return progressValue_; }

// ---------------------------------------------------------------- list view

void Win32Window::CheckColumn(int column) const {
  if (column < 1 || column > 4) throw VbError(errSubscript, "no such column");
}

void Win32Window::CheckRow(int row) const {
  if (row < 1 || row > static_cast<int>(rows_.size()))
    throw VbError(errSubscript, "no such row: " + std::to_string(row));
}

void Win32Window::SetColumnWidth(int column, int twips) {
  CheckColumn(column);
  if (twips < 0) throw VbError(errInvalidProperty, "negative column width");
  columnTwips_[column - 1] = twips;
  if (HWND list = static_cast<HWND>(Hwnd(Control::FileList)); list != nullptr)
    ::SendMessageA(list, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column - 1),
                   MAKELPARAM(TwipsToPixels(twips, dpiX_), 0));
}

int Win32Window::ColumnWidth(int column) const {
  CheckColumn(column);
  return columnTwips_[column - 1];
}

int Win32Window::AddRow(const std::string& text) {
  Row row;
  row.text[0] = text;
  rows_.push_back(row);
  const int index = static_cast<int>(rows_.size()) - 1;
  if (HWND list = static_cast<HWND>(Hwnd(Control::FileList)); list != nullptr) {
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = index;
    item.iImage = I_IMAGENONE;
    item.pszText = const_cast<char*>(rows_.back().text[0].c_str());
    ::SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  }
  return index + 1;
}

int Win32Window::RowCount() const { return static_cast<int>(rows_.size()); }

void Win32Window::SetSubItem(int row, int subItem, const std::string& text) {
  CheckRow(row);
  if (subItem < 0 || subItem > 3) throw VbError(errSubscript, "no such sub-item");
  rows_[row - 1].text[subItem] = text;
  if (HWND list = static_cast<HWND>(Hwnd(Control::FileList)); list != nullptr) {
    LVITEMA item{};
    item.iSubItem = subItem;
    item.pszText = const_cast<char*>(rows_[row - 1].text[subItem].c_str());
    ::SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row - 1),
                   reinterpret_cast<LPARAM>(&item));
  }
}

std::string Win32Window::SubItem(int row, int subItem) const {
  CheckRow(row);
  if (subItem < 0 || subItem > 3) throw VbError(errSubscript, "no such sub-item");
  return rows_[row - 1].text[subItem];
}

void Win32Window::SelectRow(int row) {
  CheckRow(row);
  selectedRow_ = row;
  HWND list = static_cast<HWND>(Hwnd(Control::FileList));
  if (list == nullptr) return;
  LVITEMA clear{};
  clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
  LVITEMA set{};
  set.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  set.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row - 1),
                 reinterpret_cast<LPARAM>(&set));
  ::SendMessageA(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row - 1), FALSE);
}

int Win32Window::SelectedRow() const {
  HWND list = static_cast<HWND>(Hwnd(Control::FileList));
  if (list == nullptr) return selectedRow_;
  // The user may have clicked another row: the control knows.
  const LRESULT i = ::SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
  return i < 0 ? 0 : static_cast<int>(i) + 1;
}

void Win32Window::SetRowSmallIcon(int row, int image) {
  CheckRow(row);
  if (image < 0) throw VbError(errInvalidProperty, "bad image number");
  if (image > 0 && imageList_ != nullptr &&
      image > ::ImageList_GetImageCount(static_cast<HIMAGELIST>(imageList_)))
    throw VbError(errInvalidProperty, "no such image: " + std::to_string(image));
  rows_[row - 1].icon = image;
  if (HWND list = static_cast<HWND>(Hwnd(Control::FileList)); list != nullptr) {
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row - 1;
    item.iImage = image > 0 ? image - 1 : I_IMAGENONE;  // images count from 1, the list from 0
    ::SendMessageA(list, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  }
}

int Win32Window::RowSmallIcon(int row) const {
  CheckRow(row);
  return rows_[row - 1].icon;
}

void Win32Window::BindSmallIcons() {
  HWND list = static_cast<HWND>(Hwnd(Control::FileList));
  if (list == nullptr || imageList_ == nullptr) throw VbError(errInvalidCall, "no image list");
  ::SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(imageList_));
}

// ---------------------------------------------------------------- raw calls

Handle Win32Window::WindowHandle(Control c) const {
  if (c == Control::ImageList1) return reinterpret_cast<Handle>(imageList_);
  return reinterpret_cast<Handle>(Hwnd(c));
}

std::intptr_t Win32Window::SendMessageA(Handle window, unsigned msg, std::uintptr_t wParam,
                                        std::intptr_t lParam) {
  return ::SendMessageA(reinterpret_cast<HWND>(window), msg, wParam, lParam);
}

Handle Win32Window::GetWindow(Handle window, unsigned relation) {
  return reinterpret_cast<Handle>(::GetWindow(reinterpret_cast<HWND>(window), relation));
}

int Win32Window::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

Handle Win32Window::LoadImageA(const std::string& name, unsigned type, int cx, int cy,
                               unsigned flags) {
  return reinterpret_cast<Handle>(
      ::LoadImageA(::GetModuleHandleA(nullptr), name.c_str(), type, cx, cy, flags));
}

int Win32Window::MsgBox(const std::string& text, int flags, const std::string& title) {
  HWND owner = static_cast<HWND>(Hwnd(Control::MainForm));
  return ::MessageBoxA(owner, text.c_str(), title.c_str(), static_cast<UINT>(flags));
}

void Win32Window::ApplyPointer() {
  LPCSTR id = reinterpret_cast<LPCSTR>(pointer_ == 11 ? IDC_WAIT : IDC_ARROW);
  ::SetCursor(::LoadCursorA(nullptr, id));
}

void Win32Window::SetScreenPointer(int pointer) {
  pointer_ = pointer;
  ApplyPointer();
}

// ---------------------------------------------------------------- message loop

void Win32Window::DoEvents() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      quit_ = true;
      quitCode_ = static_cast<int>(msg.wParam);
      break;
    }
    if (ByDialogManager(static_cast<HWND>(Hwnd(Control::MainForm)), msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  if (onPump) onPump();
}

int Win32Window::Run() {
  MSG msg;
  for (;;) {
    if (quit_) return quitCode_;
    if (!loaded_) return 0;
    const BOOL r = ::GetMessageA(&msg, nullptr, 0, 0);
    if (r == 0) return static_cast<int>(msg.wParam);
    if (r < 0) return 1;
    if (ByDialogManager(static_cast<HWND>(Hwnd(Control::MainForm)), msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

void Win32Window::Fire(void (FormEvents::*handler)()) {
  if (events_ == nullptr) return;
  // The handlers trap their own errors; nothing may unwind through the
  // system's message dispatch.
  try {
    (events_->*handler)();
  } catch (...) {
  }
}

// ---------------------------------------------------------------- painting

void Win32Window::PaintDecoration(void* dcPtr) {
  HDC dc = static_cast<HDC>(dcPtr);
  auto px = [&](int twips, bool horizontal) {
    return TwipsToPixels(twips, horizontal ? dpiX_ : dpiY_);
  };
  struct Box {
    int l, t, w, h;
  };
  const Box shapes[3] = {{45, 30, 1980, 5505}, {2265, 795, 5655, 3045}, {2190, 4380, 5730, 330}};
  HPEN shapePen = ::CreatePen(PS_SOLID, 1, kShapeColour);
  HGDIOBJ oldPen = ::SelectObject(dc, shapePen);
  HGDIOBJ oldBrush = ::SelectObject(dc, ::GetStockObject(NULL_BRUSH));
  for (const Box& b : shapes) {
    const int l = px(b.l, true), t = px(b.t, false);
    ::Rectangle(dc, l, t, l + px(b.w, true), t + px(b.h, false));
  }
  struct Line {
    int x1, y1, x2, y2;
    COLORREF colour;
  };
  const Line lines[2] = {{2220, 4845, 7905, 4845, kLineLight}, {2220, 4860, 7905, 4860, kLineDark}};
  for (const Line& ln : lines) {
    HPEN pen = ::CreatePen(PS_SOLID, 1, ln.colour);
    ::SelectObject(dc, pen);
    ::MoveToEx(dc, px(ln.x1, true), px(ln.y1, false), nullptr);
    ::LineTo(dc, px(ln.x2, true) + 1, px(ln.y2, false));  // the end point is drawn too
    ::SelectObject(dc, shapePen);
    ::DeleteObject(pen);
  }
  ::SelectObject(dc, oldBrush);
  ::SelectObject(dc, oldPen);
  ::DeleteObject(shapePen);
}

std::intptr_t Win32Window::HandleMain(void* hwnd, unsigned msg, std::uintptr_t wp,
                                      std::intptr_t lp) {
  HWND main = static_cast<HWND>(hwnd);
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(main, &ps);
      PaintDecoration(dc);
      ::EndPaint(main, &ps);
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wp);
      ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
      HWND from = reinterpret_cast<HWND>(lp);
      if (from == Hwnd(Control::Frame1)) {
        ::SetBkColor(dc, kWhite);
        return reinterpret_cast<std::intptr_t>(::GetStockObject(WHITE_BRUSH));
      }
      ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<std::intptr_t>(::GetSysColorBrush(COLOR_WINDOW));
    }
    case WM_COMMAND: {
      const int id = LOWORD(wp);
      const int code = HIWORD(wp);
      // Return reaches the window as IDOK (it has no default button): it
      // clicks the button that has the focus, as on a form.
      if (id == IDOK) {
        HWND focus = ::GetFocus();
        if (focus == Hwnd(Control::cmdGET) || focus == Hwnd(Control::CmdChiudi))
          ::SendMessageA(focus, BM_CLICK, 0, 0);
        return 0;
      }
      if (code == BN_CLICKED) {
        if (id == ControlId(Control::cmdGET))
          Fire(&FormEvents::cmdGET_Click);
        else if (id == ControlId(Control::CmdChiudi))
          Fire(&FormEvents::CmdChiudi_Click);
      }
      return 0;
    }
    case WM_TIMER: {
      if (wp == kTimer1Id && State(Control::Timer1).enabled && !inTimer1_) {
        inTimer1_ = true;
        Fire(&FormEvents::Timer1_Timer);
        inTimer1_ = false;
      } else if (wp == kTimerTimeOutId && State(Control::TimerTimeOut).enabled &&
                 !inTimerTimeOut_) {
        inTimerTimeOut_ = true;
        Fire(&FormEvents::TimerTimeOut_Timer);
        inTimerTimeOut_ = false;
      }
      return 0;
    }
    case WM_ACTIVATE: {
      if (LOWORD(wp) == WA_INACTIVE) {
        focus_ = ::GetFocus();
        return 0;
      }
      HWND target = static_cast<HWND>(focus_);
      if (target == nullptr || !::IsWindow(target) || !::IsWindowEnabled(target))
        target = ::GetNextDlgTabItem(main, nullptr, FALSE);
      if (target != nullptr) ::SetFocus(target);
      if (!activated_ && ::IsWindowVisible(main)) {
        activated_ = true;
        Fire(&FormEvents::Form_Activate);
      }
      return 0;
    }
    case kCheckActivation:
      if (!activated_ && ::IsWindowVisible(main) && ::GetActiveWindow() == main) {
        activated_ = true;
        Fire(&FormEvents::Form_Activate);
      }
      return 0;
    case WM_SETCURSOR:
      if (pointer_ == 11) {
        ApplyPointer();
        return TRUE;
      }
      break;
    case WM_CLOSE:
      Fire(&FormEvents::Form_CloseBox);
      return 0;
    case WM_DESTROY:
      if (loaded_) {
        // Destroyed from outside the agent: forget the window.
        loaded_ = false;
        for (auto& s : controls_) s.hwnd = nullptr;
      }
      return 0;
    default:
      break;
  }
  return ::DefWindowProcA(main, msg, wp, lp);
}

std::intptr_t Win32Window::HandlePicture(void* hwnd, unsigned msg, std::uintptr_t wp,
                                         std::intptr_t lp) {
  HWND pic = static_cast<HWND>(hwnd);
  switch (msg) {
    case WM_ERASEBKGND:
      if (banner_ != nullptr) return 1;  // the banner covers the whole box
      break;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(pic, &ps);
      if (banner_ != nullptr) {
        HDC mem = ::CreateCompatibleDC(dc);
        HGDIOBJ old = ::SelectObject(mem, static_cast<HBITMAP>(banner_));
        // Unscaled from the top-left corner; what does not fit is cut off.
        ::BitBlt(dc, 0, 0, bannerWidth_, bannerHeight_, mem, 0, 0, SRCCOPY);
        ::SelectObject(mem, old);
        ::DeleteDC(mem);
      }
      ::EndPaint(pic, &ps);
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wp);
      ::SetTextColor(dc, kLblMesgText);
      ::SetBkMode(dc, TRANSPARENT);
      if (bannerBrush_ != nullptr) {
        // The label shows the part of the banner it covers.
        const ControlDesign& r = DesignRect(Control::LblMesg);
        ::SetBrushOrgEx(dc, -TwipsToPixels(r.left, dpiX_), -TwipsToPixels(r.top, dpiY_), nullptr);
        return reinterpret_cast<std::intptr_t>(bannerBrush_);
      }
      return reinterpret_cast<std::intptr_t>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_SETCURSOR:
      if (pointer_ == 11) {
        ApplyPointer();
        return TRUE;
      }
      break;
    default:
      break;
  }
  return ::DefWindowProcA(pic, msg, wp, lp);
}

}  // namespace ovlu::win
