// The Win32 main window: the window contract through a rig that reads the
// real controls back through their own messages and posts input to them,
// and what only this window does (layout in pixels, list images, keys, the
// pointer, resources). Needs a display (Xvfb under Wine).
#include "ports/windows/WinApi.h"
// (the Windows headers first)
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <utility>

#include "ports/windows/Win32Window.h"
#include "tests/contract/WindowContract.h"

namespace ovlu::win {
namespace {

using enum Control;

HWND H(const Window& w, Control c) { return reinterpret_cast<HWND>(w.WindowHandle(c)); }

// Text of a list cell (row from 0), or with sub < 0 the row's image index.
std::string Cell(HWND list, int row, int sub) {
  char buffer[512] = {};
  LVITEMA item{};
  item.mask = sub < 0 ? LVIF_IMAGE : LVIF_TEXT;
  item.iItem = row;
  item.iSubItem = sub < 0 ? 0 : sub;
  item.pszText = buffer;
  item.cchTextMax = sizeof buffer;
  ::SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  return sub < 0 ? std::to_string(item.iImage) : buffer;
}

// The answer the next box gets from AnswerBox.
int boxAnswer = IDNO;

BOOL CALLBACK PressAnswer(HWND h, LPARAM) {
  char name[16] = {};
  ::GetClassNameA(h, name, sizeof name);
  if (std::string(name) == "#32770" && ::IsWindowVisible(h))
    ::PostMessageA(h, WM_COMMAND, static_cast<WPARAM>(boxAnswer), 0);
  return TRUE;
}

void CALLBACK AnswerBox(HWND, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(nullptr, id);
  ::EnumThreadWindows(::GetCurrentThreadId(), PressAnswer, 0);
}

struct Win32Rig : contract::RigOf<Win32Window> {
  HWND Of(Control c) { return H(w, c); }
  void PostClick(Control button) override {
    // A disabled button takes no clicks from the mouse, nor does a window
    // that an open box has disabled.
    if (::IsWindowEnabled(Of(button)) && ::IsWindowEnabled(Of(MainForm)))
      ::PostMessageA(Of(button), BM_CLICK, 0, 0);
  }
  void AnswerBoxAfter(int ms, int answer) override {
    boxAnswer = answer;
    ::SetTimer(nullptr, 0, static_cast<UINT>(ms), AnswerBox);
  }
  void CloseBox() override { ::PostMessageA(Of(MainForm), WM_SYSCOMMAND, SC_CLOSE, 0); }
  std::string Drawn(Control c) override {
    char text[512] = {};
    ::GetWindowTextA(Of(c), text, sizeof text);
    return text;
  }
  std::string DrawnCell(int row, int subItem) override {
    return Cell(Of(FileList), row - 1, subItem);
  }
  double DrawnBar() override {
    HWND bar = Of(ProgressBar1);
    const auto high = ::SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
    const auto low = ::SendMessageA(bar, PBM_GETRANGE, TRUE, 0);
    return double(::SendMessageA(bar, PBM_GETPOS, 0, 0) - low) / double(high - low);
  }
  std::optional<std::array<int, 4>> DrawnRect(Control c) override {
    RECT r;
    ::GetWindowRect(Of(c), &r);
    ::MapWindowPoints(nullptr, Of(DesignOf(c)->container), reinterpret_cast<POINT*>(&r), 2);
    if (c == MainForm) ::GetClientRect(Of(c), &r);  // the form: its client area
    return std::array<int, 4>{r.left, r.top, r.right - r.left, r.bottom - r.top};
  }
};

using contract::WindowTest;

TEST_F(WindowTest, FixedBorderListAboveItsLabelBannerAndIconGroup) {
  const Win32Window& win = static_cast<Win32Rig&>(*rig).w;
  ASSERT_EQ(win.DpiX(), 96) << "expected values are for 96 dpi";
  EXPECT_EQ(::GetWindowLongA(H(w, MainForm), GWL_STYLE) & WS_THICKFRAME, 0);
  // LabelStatus1 lies beneath the list, which would otherwise be covered.
  bool below = false;
  for (HWND h = H(w, FileList); h != nullptr; h = ::GetWindow(h, GW_HWNDNEXT))
    below = below || h == H(w, LabelStatus1);
  EXPECT_TRUE(below);
  EXPECT_TRUE(win.BannerLoaded());
  EXPECT_NE(::FindResourceA(nullptr, MAKEINTRESOURCEA(1), reinterpret_cast<LPCSTR>(RT_GROUP_ICON)),
            nullptr);
}

TEST_F(WindowTest, ListRowsColumnsIconsAndBarColours) {
  HWND list = H(w, FileList), bar = H(w, ProgressBar1);
  w.AddRow("Applicazione");
  w.AddRow("Componente");
  // Widths in pixels, which only report columns have.
  w.SetColumnWidth(2, 0);
  w.SetColumnWidth(3, 2600);
  EXPECT_EQ(::SendMessageA(list, LVM_GETCOLUMNWIDTH, 1, 0), 0);
  EXPECT_EQ(::SendMessageA(list, LVM_GETCOLUMNWIDTH, 2, 0), 173);

  // Selection follows the control when the user picks a row (once the
  // rows are on screen).
  PumpFor(60);
  LVITEMA pick{};
  pick.stateMask = pick.state = LVIS_SELECTED;
  ::SendMessageA(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&pick));
  EXPECT_EQ(w.SelectedRow(), 1);

  // The check mark: image 1 of the agent is index 0 of the image list.
  w.BindSmallIcons();
  EXPECT_EQ(::SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0),
            LRESULT(w.WindowHandle(ImageList1)));
  w.SetRowSmallIcon(2, 1);
  EXPECT_EQ(Cell(list, 1, -1), "0");
  EXPECT_LT(std::stoi(Cell(list, 0, -1)), 0);

  // Full-row selection and the bar's colours, sent through the window,
  // reach the controls themselves.
  const std::tuple<Control, unsigned, LPARAM> sent[] = {
      {FileList, LVM_SETEXTENDEDLISTVIEWSTYLE_, LVS_EX_FULLROWSELECT_},
      {ProgressBar1, PBM_SETBKCOLOR_, RGB(240, 240, 255)},
      {ProgressBar1, PBM_SETBARCOLOR_, RGB(32, 43, 136)}};
  for (auto [to, msg, value] : sent) w.SendMessageA(w.WindowHandle(to), msg, 0, value);
  EXPECT_TRUE(::SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
  EXPECT_EQ(::SendMessageA(bar, PBM_SETBKCOLOR, 0, 0), RGB(240, 240, 255));
  EXPECT_EQ(::SendMessageA(bar, PBM_SETBARCOLOR, 0, 0), RGB(32, 43, 136));
}

// The hourglass covers every window of the program, message boxes
// included: whatever window answers WM_SETCURSOR, the pointer stays.
TEST_F(WindowTest, TheHourglassCoversEveryWindow) {
  HWND other = ::CreateWindowExA(0, "#32770", "box", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                 H(w, MainForm), nullptr, nullptr, nullptr);
  auto pointerOver = [](HWND h) {
    ::SetCursor(nullptr);
    ::SendMessageA(h, WM_SETCURSOR, reinterpret_cast<WPARAM>(h),
                   MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return ::GetCursor();
  };
  w.SetScreenPointer(vbHourglass);
  const HCURSOR wait = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT));
  for (HWND h : {H(w, MainForm), H(w, FileList), other}) EXPECT_EQ(pointerOver(h), wait);
  w.SetScreenPointer(vbDefault);
  EXPECT_NE(pointerOver(other), wait);
  ::DestroyWindow(other);
}

// Return clicks the focused button and Alt with the underlined letter
// reaches its button; the letter alone does nothing.
TEST_F(WindowTest, KeysReachTheButtonsAsOnAForm) {
  w.Show();
  PumpFor(100);
  // The focus, the key's message, and the clicks counted afterwards.
  const std::tuple<Control, UINT, WPARAM, int, int> keys[] = {
      {cmdGET, WM_KEYDOWN, VK_RETURN, 1, 0}, {CmdChiudi, WM_KEYDOWN, VK_RETURN, 1, 1},
      {cmdGET, WM_CHAR, 'c', 1, 1},          {CmdChiudi, WM_CHAR, 'c', 1, 1},
      {cmdGET, WM_SYSCHAR, 'c', 1, 2},       {FileList, WM_KEYDOWN, VK_RETURN, 1, 2},
  };
  for (auto [focus, message, key, get, chiudi] : keys) {
    ::SetFocus(H(w, focus));
    ::PostMessageA(H(w, focus), message, key, message == WM_SYSCHAR ? 1 << 29 : 0);
    PumpFor(50);
    EXPECT_EQ(std::pair(events.get, events.chiudi), std::pair(get, chiudi))
        << ControlName(focus) << " " << message << " " << key;
  }
}

// A list of 20 000 rows, filled as the start-up fills it, shows its window
// within two seconds, and every row reads back what was written.
// A list of 20 000 rows: the window shows, every row reads as the model
// holds it, and a later change reaches the screen. The time it took is
// printed; the README gives the figures.
TEST_F(WindowTest, ALongListShowsEveryRowAsTheModelHoldsIt) {
  constexpr int kRows = 20000;
  auto destination = [](int row) { return "C:\\Programmi\\OrVento\\f" + std::to_string(row); };
  const auto start = Clock::now();
  w.SetColumnWidth(2, 0);
  w.SetColumnWidth(3, 2600);
  w.SetColumnWidth(4, 0);
  w.SendMessageA(w.WindowHandle(FileList), LVM_SETEXTENDEDLISTVIEWSTYLE_, 0, LVS_EX_FULLROWSELECT_);
  for (int row = 1; row <= kRows; ++row) {
    w.AddRow(row % 2 ? "Applicazione" : "Componente");
    w.SetSubItem(row, 1, "R");
    w.SetSubItem(row, 2, "");
    w.SetSubItem(row, 3, destination(row));
  }
  w.BindSmallIcons();
  w.Show();
  // Shown at all (a hang fails here), however long it takes.
  MsUntil([&] { return events.activate == 1; }, 20000);
  ASSERT_EQ(events.activate, 1);
  ::UpdateWindow(H(w, MainForm));
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  std::printf("%d rows shown in %.0f ms\n", kRows, ms);
  for (int row : {1, 2, kRows / 2, kRows}) {
    EXPECT_EQ(rig->DrawnCell(row, 0), row % 2 ? "Applicazione" : "Componente");
    EXPECT_EQ(rig->DrawnCell(row, 3), destination(row));
    EXPECT_EQ(w.SubItem(row, 3), destination(row));
  }
  w.SelectRow(kRows);
  w.SetSubItem(kRows, 2, "100%");
  PumpFor(60);
  EXPECT_EQ(w.SelectedRow(), kRows);
  EXPECT_EQ(rig->DrawnCell(kRows, 2), "100%");
}

}  // namespace
}  // namespace ovlu::win

std::unique_ptr<ovlu::contract::WindowRig> ovlu::contract::MakeRig() {
  return std::make_unique<ovlu::win::Win32Rig>();
}
