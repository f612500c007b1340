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
// Posted by Show: the window is activated on being shown, once per load,
// whether or not it became the active window.
constexpr UINT kCheckActivation = WM_APP + 3;
// Started when a caption or the bar has changed: what changed is drawn
// when it ticks, whoever runs the events (DoEvents or the main loop). Under
// Wine every repaint of a control goes through the window system and X, so
// a label rewritten per chunk is drawn some 30 times a second, not 250.
constexpr UINT_PTR kDrawTimerId = 3;
constexpr UINT kDrawGap = 30;
// The bar counts in these steps; the agent's float values stay in the model.
constexpr int kBarSteps = 10000;

// Child control identifiers; 1 and 2 are left to IDOK and IDCANCEL, which
// the dialog keyboard handling sends for Enter and Escape.
int ControlId(Control c) { return 100 + static_cast<int>(c); }

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kShapeColour = RGB(192, 192, 255);
constexpr COLORREF kLineLight = RGB(192, 192, 192);
constexpr COLORREF kLineDark = RGB(128, 128, 128);
constexpr COLORREF kLblMesgText = RGB(0, 128, 128);

// The hourglass covers every window of the program, message boxes
// included: while it is on, each window answers WM_SETCURSOR with it,
// whatever its own procedure would do. The main window does so itself, and
// its controls pass the message up to it. Other top-level windows of the
// thread are subclassed: those there when the hourglass comes on at once,
// and a CBT hook takes the ones created while it lasts (a message box). A
// CBT hook runs when a window is created or activated, where a hook on
// window procedures would run, and under Wine ask the server, for every
// message the program sends; the subclass's property is looked up for
// every message of a subclassed window, so the main window is not one.
bool g_hourglass = false;
HHOOK g_newWindowHook = nullptr;
HWND g_mainWindow = nullptr;

bool SetHourglassCursor() {
  if (!g_hourglass) return false;
  ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT)));
  return true;
}

LRESULT CALLBACK KeepHourglass(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
  if (msg == WM_SETCURSOR && SetHourglassCursor()) return TRUE;
  return ::DefSubclassProc(h, msg, wp, lp);
}

BOOL CALLBACK CoverWindow(HWND h, LPARAM) {
  if (h != g_mainWindow) ::SetWindowSubclass(h, KeepHourglass, 1, 0);
  return TRUE;
}

LRESULT CALLBACK CoverNewWindow(int code, WPARAM wp, LPARAM lp) {
  if (code == HCBT_CREATEWND &&
      (reinterpret_cast<CBT_CREATEWNDA*>(lp)->lpcs->style & WS_CHILD) == 0)
    CoverWindow(reinterpret_cast<HWND>(wp), 0);
  return ::CallNextHookEx(g_newWindowHook, code, wp, lp);
}

// The window whose message box is open, for the box's thread timer.
Win32Window* g_boxWindow = nullptr;

void CALLBACK BoxTick(HWND, UINT, UINT_PTR, DWORD) {
  if (g_boxWindow != nullptr) EventDispatch::Background(g_boxWindow->onBackground);
}

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
}

Win32Window::~Win32Window() {
  if (model_.Loaded()) Unload();
  SetScreenPointer(vbDefault);
  if (comInitialised_) ::CoUninitialize();
}

bool Win32Window::Loaded() const { return model_.Loaded(); }

void Win32Window::Load(FormEvents* events) {
  if (model_.Loaded()) return;
  model_.Load();
  dispatch_.Attach(events);
  hwnds_.fill(nullptr);
  focus_ = nullptr;
  drawPosted_ = false;
  barShown_ = 0;
  rowsDue_ = false;
  firstRowDue_ = INT_MAX;
  lastRowDue_ = 0;
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

  HWND main = ::CreateWindowExA(0, kMainClass, model_.Caption(Control::MainForm).c_str(), style,
                                x > 0 ? x : 0, y > 0 ? y : 0, w, h, nullptr, nullptr,
                                ::GetModuleHandleA(nullptr), this);
  if (main == nullptr) {
    model_.Unload();
    DestroyResources();
    throw VbError(errInvalidCall, "CreateWindowExA failed");
  }
  hwnds_[static_cast<int>(Control::MainForm)] = main;
  CreateControls();
}

void Win32Window::CreateControls() {
  HINSTANCE inst = ::GetModuleHandleA(nullptr);
  auto create = [&](Control c, DWORD exStyle, const char* cls, DWORD style, void* param) {
    const ControlDesign& r = DesignRect(c);
    HWND parent = static_cast<HWND>(Hwnd(r.container));
    HWND h = ::CreateWindowExA(
        exStyle, cls, HasCaption(c) ? model_.Caption(c).c_str() : "",
        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, TwipsToPixels(r.left, dpiX_),
        TwipsToPixels(r.top, dpiY_), TwipsToPixels(r.width, dpiX_), TwipsToPixels(r.height, dpiY_),
        parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(c))), inst, param);
    hwnds_[static_cast<int>(c)] = h;
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
  HWND list = create(Control::FileList, 0, WC_LISTVIEWA,
                     LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS |
                         LVS_OWNERDATA | WS_BORDER | WS_TABSTOP,
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
  if (HWND bar = static_cast<HWND>(Hwnd(Control::ProgressBar1)); bar != nullptr)
    ::SendMessageA(bar, PBM_SETRANGE32, 0, kBarSteps);

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
  model_.RequireLoaded();
  Draw();
  HWND main = static_cast<HWND>(Hwnd(Control::MainForm));
  ::ShowWindow(main, SW_SHOWNORMAL);
  ::UpdateWindow(main);
  ::SetForegroundWindow(main);
  // A window activated while still hidden (a control took the focus), or
  // never made active at all, is still activated once on being shown.
  ::PostMessageA(main, kCheckActivation, 0, 0);
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
  if (!model_.Loaded()) return;
  HWND main = static_cast<HWND>(Hwnd(Control::MainForm));
  model_.Unload();
  dispatch_.Detach();
  if (main != nullptr && ::IsWindow(main)) ::DestroyWindow(main);
  DestroyResources();
  hwnds_.fill(nullptr);
}

// ---------------------------------------------------------------- captions and states

void Win32Window::SetCaption(Control c, const std::string& text) {
  if (!model_.SetCaption(c, text)) return;
  captionDue_[static_cast<int>(c)] = true;
  DrawSoon();
}

std::string Win32Window::Caption(Control c) const { return model_.Caption(c); }

void Win32Window::DrawSoon() {
  if (drawPosted_) return;
  drawPosted_ = true;
  ::SetTimer(static_cast<HWND>(Hwnd(Control::MainForm)), kDrawTimerId, kDrawGap, nullptr);
}

void Win32Window::Draw() {
  if (!model_.Loaded()) return;
  if (drawPosted_) ::KillTimer(static_cast<HWND>(Hwnd(Control::MainForm)), kDrawTimerId);
  drawPosted_ = false;
  SyncRows();
  if (firstRowDue_ <= lastRowDue_) {
    ::SendMessageA(static_cast<HWND>(Hwnd(Control::FileList)), LVM_REDRAWITEMS,
                   static_cast<WPARAM>(firstRowDue_ - 1), static_cast<LPARAM>(lastRowDue_ - 1));
    firstRowDue_ = INT_MAX;
    lastRowDue_ = 0;
  }
  for (int i = 0; i < kControls; ++i) {
    if (!captionDue_[i]) continue;
    captionDue_[i] = false;
    const auto c = static_cast<Control>(i);
    HWND h = static_cast<HWND>(Hwnd(c));
    if (h == nullptr) continue;
    ::SetWindowTextA(h, model_.Caption(c).c_str());
    // The label's background is the banner: repaint it as a whole.
    if (c == Control::LblMesg) ::InvalidateRect(h, nullptr, TRUE);
  }
  const int position = model_.BarPosition(kBarSteps);
  if (position != barShown_) {
    barShown_ = position;
    ::SendMessageA(static_cast<HWND>(Hwnd(Control::ProgressBar1)), PBM_SETPOS,
                   static_cast<WPARAM>(position), 0);
  }
}

void Win32Window::SetEnabled(Control c, bool enabled) {
  if (!model_.SetEnabled(c, enabled)) return;
  HWND main = static_cast<HWND>(Hwnd(Control::MainForm));
  if (FormModel::IsTimer(c)) {
    const UINT_PTR id = c == Control::Timer1 ? kTimer1Id : kTimerTimeOutId;
    if (enabled)
      ::SetTimer(main, id, static_cast<UINT>(FormModel::TimerInterval(c)), nullptr);
    else
      ::KillTimer(main, id);
    return;
  }
  HWND h = static_cast<HWND>(Hwnd(c));
  if (h == nullptr) return;
  if (!enabled && ::GetFocus() == h) {
    // A disabled control cannot keep the focus: pass it on, as the tab key would.
    HWND next = ::GetNextDlgTabItem(main, h, FALSE);
    ::EnableWindow(h, FALSE);
    if (next != nullptr && next != h) ::SetFocus(next);
    return;
  }
  ::EnableWindow(h, enabled ? TRUE : FALSE);
}

bool Win32Window::Enabled(Control c) const { return model_.Enabled(c); }

// ---------------------------------------------------------------- progress bar

void Win32Window::SetProgressMax(float max) {
  if (model_.SetProgressMax(max) && model_.BarPosition(kBarSteps) != barShown_) DrawSoon();
}

float Win32Window::ProgressMax() const { return model_.ProgressMax(); }

void Win32Window::SetProgressValue(float value) {
  if (model_.SetProgressValue(value) && model_.BarPosition(kBarSteps) != barShown_) DrawSoon();
}

float Win32Window::ProgressValue() const { return model_.ProgressValue(); }

// ---------------------------------------------------------------- list view

void Win32Window::SetColumnWidth(int column, int twips) {
  if (!model_.SetColumnWidth(column, twips)) return;
  ::SendMessageA(static_cast<HWND>(Hwnd(Control::FileList)), LVM_SETCOLUMNWIDTH,
                 static_cast<WPARAM>(column - 1), MAKELPARAM(TwipsToPixels(twips, dpiX_), 0));
}

int Win32Window::ColumnWidth(int column) const { return model_.ColumnWidth(column); }

// The list view holds no rows of its own (LVS_OWNERDATA): it is told how
// many there are and asks the model for what it shows (LVN_GETDISPINFO).
// Under Wine every row inserted with its own messages cost about a tenth of
// a millisecond, and a long list took seconds before the window showed.
int Win32Window::AddRow(const std::string& text) {
  const int row = model_.AddRow(text);
  rowsDue_ = true;
  DrawSoon();
  return row;
}

void Win32Window::SyncRows() const {
  if (!rowsDue_) return;
  rowsDue_ = false;
  ::SendMessageA(static_cast<HWND>(Hwnd(Control::FileList)), LVM_SETITEMCOUNT,
                 static_cast<WPARAM>(model_.RowCount()), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
}

void Win32Window::RowChanged(int row) {
  if (row < firstRowDue_) firstRowDue_ = row;
  if (row > lastRowDue_) lastRowDue_ = row;
  DrawSoon();
}

void Win32Window::ShowRow(void* info, bool wide) const {
  // NMLVDISPINFOA and NMLVDISPINFOW differ only in the text's type.
  LVITEMA& item = static_cast<NMLVDISPINFOA*>(info)->item;
  const int row = item.iItem + 1;
  if (row < 1 || row > model_.RowCount()) return;
  if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
    std::string text;
    try {
      text = model_.SubItem(row, item.iSubItem);
    } catch (const VbError&) {
    }
    if (wide) {
      auto* to = reinterpret_cast<wchar_t*>(item.pszText);
      const int n = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                          to, item.cchTextMax - 1);
      to[n > 0 ? n : 0] = L'\0';
    } else {
      ::lstrcpynA(item.pszText, text.c_str(), item.cchTextMax);
    }
  }
  if ((item.mask & LVIF_IMAGE) != 0 && item.iSubItem == 0) {
    const int image = model_.RowSmallIcon(row);
    item.iImage = image > 0 ? image - 1 : I_IMAGENONE;  // images count from 1, the list from 0
  }
}

int Win32Window::RowCount() const { return model_.RowCount(); }

void Win32Window::SetSubItem(int row, int subItem, const std::string& text) {
  if (model_.SetSubItem(row, subItem, text)) RowChanged(row);
}

std::string Win32Window::SubItem(int row, int subItem) const {
  return model_.SubItem(row, subItem);
}

void Win32Window::SelectRow(int row) {
  model_.SelectRow(row);
  SyncRows();
  HWND list = static_cast<HWND>(Hwnd(Control::FileList));
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
  model_.RequireLoaded();
  SyncRows();
  // The user may have picked another row: the control knows.
  const LRESULT i = ::SendMessageA(static_cast<HWND>(Hwnd(Control::FileList)), LVM_GETNEXTITEM,
                                   static_cast<WPARAM>(-1), LVNI_SELECTED);
  return i < 0 ? 0 : static_cast<int>(i) + 1;
}

void Win32Window::SetRowSmallIcon(int row, int image) {
  if (model_.SetRowSmallIcon(row, image)) RowChanged(row);
}

int Win32Window::RowSmallIcon(int row) const { return model_.RowSmallIcon(row); }

void Win32Window::BindSmallIcons() {
  if (!model_.BindSmallIcons()) return;
  ::SendMessageA(static_cast<HWND>(Hwnd(Control::FileList)), LVM_SETIMAGELIST, LVSIL_SMALL,
                 reinterpret_cast<LPARAM>(imageList_));
}

// ---------------------------------------------------------------- raw calls

Handle Win32Window::WindowHandle(Control c) const {
  if (!model_.Loaded()) return 0;
  if (c == Control::ImageList1) return reinterpret_cast<Handle>(imageList_);
  return reinterpret_cast<Handle>(Hwnd(c));
}

std::intptr_t Win32Window::SendMessageA(Handle window, unsigned msg, std::uintptr_t wParam,
                                        std::intptr_t lParam) {
  HWND h = reinterpret_cast<HWND>(window);
  for (int i = 0; h != nullptr && i < kControls; ++i) {
    if (hwnds_[i] != h) continue;
    const auto c = static_cast<Control>(i);
    const FormModel::Reply r = model_.Message(c, msg, wParam, lParam);
    if (!r.decoded) break;
    // The control is given the model's new state as a whole.
    if (c == Control::FileList && msg == LVM_SETEXTENDEDLISTVIEWSTYLE_)
      ::SendMessageA(h, msg, 0, model_.ListStyle());
    else if (c == Control::ProgressBar1)
      ::SendMessageA(h, msg, 0, msg == PBM_SETBKCOLOR_ ? model_.BackColour() : model_.BarColour());
    else if (c == Control::MainForm)
      ::SendMessageA(h, msg, wParam, model_.Icon(static_cast<unsigned>(wParam)));
    return r.result;
  }
  return ::SendMessageA(h, msg, wParam, lParam);
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
  Draw();
  HWND owner = static_cast<HWND>(Hwnd(Control::MainForm));
  // The box's own message loop dispatches the timers, the window's and a
  // thread timer of the box's that moves the network on beside it.
  Win32Window* outer = g_boxWindow;
  g_boxWindow = this;
  const UINT_PTR background =
      ::SetTimer(nullptr, 0, static_cast<UINT>(EventDispatch::kBackgroundGap.count()), BoxTick);
  const int answer = ::MessageBoxA(owner, text.c_str(), title.c_str(), static_cast<UINT>(flags));
  if (background != 0) ::KillTimer(nullptr, background);
  g_boxWindow = outer;
  return answer;
}

void Win32Window::SetScreenPointer(int pointer) {
  const bool hourglass = pointer == vbHourglass;
  g_hourglass = hourglass;
  if (hourglass && g_newWindowHook == nullptr) {
    g_mainWindow = static_cast<HWND>(Hwnd(Control::MainForm));
    ::EnumThreadWindows(::GetCurrentThreadId(), CoverWindow, 0);
    g_newWindowHook = ::SetWindowsHookExA(WH_CBT, CoverNewWindow, nullptr, ::GetCurrentThreadId());
  }
  if (!hourglass && g_newWindowHook != nullptr) {
    ::UnhookWindowsHookEx(g_newWindowHook);
    g_newWindowHook = nullptr;
  }
  ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(hourglass ? IDC_WAIT : IDC_ARROW)));
}

// ---------------------------------------------------------------- message loop

void Win32Window::DoEvents() {
  // The window's messages run at most once per gap: a click, a key or a due
  // timer waits no longer than that, and a caller that pumps after every
  // kilobyte does not pay for a round of the message queue each time.
  if (dispatch_.RoundDue()) {
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
  }
  if (onPump) onPump();
}

int Win32Window::Run() {
  MSG msg;
  for (;;) {
    if (quit_) return quitCode_;
    if (!model_.Loaded()) return 0;
    const BOOL r = ::GetMessageA(&msg, nullptr, 0, 0);
    if (r == 0) return static_cast<int>(msg.wParam);
    if (r < 0) return 1;
    if (ByDialogManager(static_cast<HWND>(Hwnd(Control::MainForm)), msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
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
    case WM_SETCURSOR:
      if (SetHourglassCursor()) return TRUE;
      break;
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
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lp);
      if (header->hwndFrom != Hwnd(Control::FileList)) break;
      if (header->code == LVN_GETDISPINFOA || header->code == LVN_GETDISPINFOW) {
        ShowRow(reinterpret_cast<void*>(lp), header->code == LVN_GETDISPINFOW);
        return 0;
      }
      if (header->code == LVN_ODFINDITEMA || header->code == LVN_ODFINDITEMW) return -1;
      break;
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
          dispatch_.Click(Control::cmdGET);
        else if (id == ControlId(Control::CmdChiudi))
          dispatch_.Click(Control::CmdChiudi);
      }
      return 0;
    }
    case WM_TIMER: {
      if (wp == kDrawTimerId) {
        Draw();
        return 0;
      }
      if (wp == kTimer1Id && model_.Enabled(Control::Timer1))
        dispatch_.Tick(Control::Timer1);
      else if (wp == kTimerTimeOutId && model_.Enabled(Control::TimerTimeOut))
        dispatch_.Tick(Control::TimerTimeOut);
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
      if (::IsWindowVisible(main)) dispatch_.Activate();
      return 0;
    }
    case kCheckActivation:
      if (::IsWindowVisible(main)) dispatch_.Activate();
      return 0;
    case WM_CLOSE:
      dispatch_.CloseBox();
      return 0;
    case WM_DESTROY:
      if (model_.Loaded()) {
        // Destroyed from outside the agent: forget the window.
        model_.Unload();
        dispatch_.Detach();
        hwnds_.fill(nullptr);
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
    default:
      break;
  }
  return ::DefWindowProcA(pic, msg, wp, lp);
}

}  // namespace ovlu::win
