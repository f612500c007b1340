// The Win32 main window: real controls, read back through the controls'
// own messages. Needs a display (Xvfb under Wine).
#include "ports/windows/WinApi.h"
// (the Windows headers first)
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "ports/windows/Win32Window.h"

namespace ovlu::win {
namespace {

struct Recorder : FormEvents {
  int activate = 0, get = 0, chiudi = 0, closeBox = 0, timer1 = 0, timeOut = 0;
  std::function<void()> onGet;
  void Form_Activate() override { ++activate; }
  void cmdGET_Click() override {
    ++get;
    if (onGet) onGet();
  }
  void CmdChiudi_Click() override { ++chiudi; }
  void Form_CloseBox() override { ++closeBox; }
  void Timer1_Timer() override { ++timer1; }
  void TimerTimeOut_Timer() override { ++timeOut; }
};

HWND H(const Win32Window& w, Control c) { return reinterpret_cast<HWND>(w.WindowHandle(c)); }

std::string Text(HWND h) {
  char buffer[512] = {};
  ::GetWindowTextA(h, buffer, sizeof buffer);
  return buffer;
}

std::string ListText(HWND list, int index, int sub) {
  char buffer[512] = {};
  LVITEMA item{};
  item.iSubItem = sub;
  item.pszText = buffer;
  item.cchTextMax = sizeof buffer;
  ::SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
  return buffer;
}

int ListImage(HWND list, int index) {
  LVITEMA item{};
  item.mask = LVIF_IMAGE;
  item.iItem = index;
  ::SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  return item.iImage;
}

void PumpFor(Win32Window& w, DWORD ms) {
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < ms) {
    w.DoEvents();
    ::Sleep(1);
  }
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window.Load(&events);
    ASSERT_TRUE(window.Loaded());
  }
  Win32Window window;
  Recorder events;
};

TEST_F(WindowTest, LayoutInPixelsAtTheScreenResolution) {
  ASSERT_EQ(window.DpiX(), 96) << "expected values are for 96 dpi";
  HWND main = H(window, Control::MainForm);
  RECT client;
  ::GetClientRect(main, &client);
  EXPECT_EQ(client.right, 536);
  EXPECT_EQ(client.bottom, 378);
  EXPECT_EQ(::GetWindowLongA(main, GWL_STYLE) & WS_THICKFRAME, 0);
  EXPECT_EQ(Text(main), " OV Live Update");

  struct Case {
    Control control, parent;
    int left, top, width, height;
  };
  const Case cases[] = {
      {Control::Picture1, Control::MainForm, 4, 3, 130, 364},
      {Control::LblMesg, Control::Picture1, 4, 178, 126, 67},
      {Control::LabelTitle, Control::MainForm, 151, 16, 371, 31},
      {Control::FileList, Control::MainForm, 152, 54, 375, 201},
      {Control::LabelStatus1, Control::MainForm, 206, 106, 185, 32},
      {Control::Label3, Control::MainForm, 152, 255, 140, 17},
      {Control::LabelST, Control::MainForm, 152, 273, 378, 16},
      {Control::ProgressBar1, Control::MainForm, 147, 293, 380, 20},
      {Control::cmdGET, Control::MainForm, 149, 339, 258, 30},
      {Control::CmdChiudi, Control::MainForm, 419, 339, 108, 30},
      {Control::Frame1, Control::MainForm, 642, 28, 469, 20},
      {Control::LabelFS, Control::Frame1, 72, 178, 271, 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ControlName(c.control));
    HWND h = H(window, c.control);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(::GetParent(h), H(window, c.parent));
    RECT r;
    ::GetWindowRect(h, &r);
    ::MapWindowPoints(nullptr, H(window, c.parent), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, c.left);
    EXPECT_EQ(r.top, c.top);
    EXPECT_EQ(r.right - r.left, c.width);
    EXPECT_EQ(r.bottom - r.top, c.height);
  }
  // LabelStatus1 lies beneath the list.
  bool below = false;
  for (HWND h = ::GetWindow(H(window, Control::FileList), GW_HWNDNEXT); h != nullptr;
       h = ::GetWindow(h, GW_HWNDNEXT))
    below = below || h == H(window, Control::LabelStatus1);
  EXPECT_TRUE(below);
  EXPECT_TRUE(window.BannerLoaded());
}

TEST_F(WindowTest, CaptionsReadBackAsStored) {
  EXPECT_EQ(window.Caption(Control::LabelTitle), "Aggionamento OrVento");
  EXPECT_EQ(Text(H(window, Control::LabelTitle)), "Aggionamento OrVento");
  EXPECT_EQ(Text(H(window, Control::CmdChiudi)), "&Chiudi");
  EXPECT_EQ(Text(H(window, Control::LabelST)), "0 Kb di 0Kb");
  const std::string ansi = " Verifica disponibilit\xE0 del server.";
  for (Control c : {Control::LblMesg, Control::LabelStatus1, Control::cmdGET, Control::MainForm}) {
    SCOPED_TRACE(ControlName(c));
    window.SetCaption(c, ansi);
    EXPECT_EQ(window.Caption(c), ansi);
    EXPECT_EQ(Text(H(window, c)), ansi);
  }
  window.SetCaption(Control::LabelStatus1, "Download del file...\r\nhttp://h/x");
  EXPECT_EQ(window.Caption(Control::LabelStatus1), "Download del file...\r\nhttp://h/x");
  EXPECT_THROW(window.SetCaption(Control::FileList, "x"), VbError);
  // A new load starts from the design again.
  window.Unload();
  EXPECT_FALSE(window.Loaded());
  window.Load(&events);
  EXPECT_EQ(window.Caption(Control::LblMesg), "OrVento Live Update");
  EXPECT_EQ(window.RowCount(), 0);
}

TEST_F(WindowTest, ListRowsColumnsAndIcons) {
  HWND list = H(window, Control::FileList);
  EXPECT_EQ(window.AddRow("Applicazione"), 1);
  EXPECT_EQ(window.AddRow("Componente"), 2);
  window.SetSubItem(1, 1, "R");
  window.SetSubItem(1, 2, "52%");
  window.SetSubItem(2, 3, "<TMPPATH>y.txt");
  EXPECT_EQ(ListText(list, 0, 0), "Applicazione");
  EXPECT_EQ(ListText(list, 0, 2), "52%");
  EXPECT_EQ(ListText(list, 1, 3), "<TMPPATH>y.txt");
  EXPECT_EQ(window.SubItem(1, 1), "R");
  EXPECT_EQ(window.SubItem(2, 2), "");

  struct Bad {
    int row, sub;
  };
  for (Bad b : {Bad{0, 1}, Bad{3, 1}, Bad{-1, 0}, Bad{1, 4}, Bad{1, -1}}) {
    SCOPED_TRACE(std::to_string(b.row) + "/" + std::to_string(b.sub));
    EXPECT_THROW(window.SetSubItem(b.row, b.sub, "x"), VbError);
    EXPECT_THROW(window.SubItem(b.row, b.sub), VbError);
  }
  EXPECT_THROW(window.SelectRow(3), VbError);
  EXPECT_THROW(window.SetRowSmallIcon(0, 1), VbError);

  // Columns: headers in order, widths converted from twips both ways.
  char header[64] = {};
  LVCOLUMNA col{};
  col.mask = LVCF_TEXT;
  col.pszText = header;
  col.cchTextMax = sizeof header;
  ::SendMessageA(list, LVM_GETCOLUMNA, 2, reinterpret_cast<LPARAM>(&col));
  EXPECT_STREQ(header, "% download file");
  EXPECT_EQ(window.ColumnWidth(1), 2440);
  window.SetColumnWidth(2, 0);
  window.SetColumnWidth(3, 2600);
  EXPECT_EQ(::SendMessageA(list, LVM_GETCOLUMNWIDTH, 1, 0), 0);
  EXPECT_EQ(::SendMessageA(list, LVM_GETCOLUMNWIDTH, 2, 0), 173);
  EXPECT_EQ(window.ColumnWidth(3), 2600);
  EXPECT_THROW(window.SetColumnWidth(5, 10), VbError);
  EXPECT_EQ(ListText(list, 0, 1), "R");  // a hidden column keeps its text

  // Selection follows the control, also when the user picks another row.
  window.SelectRow(2);
  EXPECT_EQ(window.SelectedRow(), 2);
  LVITEMA pick{};
  pick.stateMask = LVIS_SELECTED;
  pick.state = LVIS_SELECTED;
  ::SendMessageA(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&pick));
  EXPECT_EQ(window.SelectedRow(), 1);

  // The check mark: image 1 of the agent is index 0 of the image list.
  window.BindSmallIcons();
  HIMAGELIST images = reinterpret_cast<HIMAGELIST>(window.WindowHandle(Control::ImageList1));
  EXPECT_EQ(reinterpret_cast<HIMAGELIST>(::SendMessageA(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0)),
            images);
  EXPECT_EQ(::ImageList_GetImageCount(images), 1);
  EXPECT_LT(ListImage(list, 1), 0);
  window.SetRowSmallIcon(2, 1);
  EXPECT_EQ(ListImage(list, 1), 0);
  EXPECT_EQ(window.RowSmallIcon(2), 1);
  EXPECT_EQ(window.RowSmallIcon(1), 0);
  EXPECT_LT(ListImage(list, 0), 0);
  EXPECT_THROW(window.SetRowSmallIcon(1, 2), VbError);
}

TEST_F(WindowTest, RawMessagesReachTheControls) {
  HWND list = H(window, Control::FileList);
  const Handle lh = window.WindowHandle(Control::FileList);
  const auto style = window.SendMessageA(lh, LVM_GETEXTENDEDLISTVIEWSTYLE_, 0, 0);
  window.SendMessageA(lh, LVM_SETEXTENDEDLISTVIEWSTYLE_, 0, style | LVS_EX_FULLROWSELECT_);
  EXPECT_TRUE(::SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);

  HWND bar = H(window, Control::ProgressBar1);
  const Handle bh = window.WindowHandle(Control::ProgressBar1);
  window.SendMessageA(bh, PBM_SETBKCOLOR_, 0, RGB(240, 240, 255));
  // The previous colour comes back from the second call.
  EXPECT_EQ(window.SendMessageA(bh, PBM_SETBKCOLOR_, 0, RGB(240, 240, 255)), RGB(240, 240, 255));
  window.SendMessageA(bh, PBM_SETBARCOLOR_, 0, RGB(32, 43, 136));
  EXPECT_EQ(::SendMessageA(bar, PBM_SETBARCOLOR, 0, RGB(32, 43, 136)), RGB(32, 43, 136));

  // Icons from the resources, shared: the same handle every time.
  const Handle big = window.LoadImageA("AAA", IMAGE_ICON_, 32, 32, LR_SHARED_);
  EXPECT_NE(big, 0);
  EXPECT_EQ(window.LoadImageA("AAA", IMAGE_ICON_, 32, 32, LR_SHARED_), big);
  EXPECT_EQ(window.LoadImageA("NOSUCHICON", IMAGE_ICON_, 32, 32, LR_SHARED_), 0);
  const Handle main = window.WindowHandle(Control::MainForm);
  EXPECT_EQ(window.GetWindow(main, GW_OWNER_), 0);
  window.SendMessageA(main, WM_SETICON_, ICON_BIG_, big);
  EXPECT_EQ(::SendMessageA(H(window, Control::MainForm), WM_GETICON, ICON_BIG, 0), big);
  EXPECT_EQ(window.GetSystemMetrics(SM_CXICON_), ::GetSystemMetrics(SM_CXICON));
}

TEST_F(WindowTest, ProgressKeepsItsValuesAndRefusesOutOfRange) {
  HWND bar = H(window, Control::ProgressBar1);
  window.SetProgressMax(2500.0f);
  window.SetProgressValue(2048.0f);
  EXPECT_EQ(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 2500);
  EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 2048);
  window.SetProgressValue(1024.5f);
  EXPECT_EQ(window.ProgressValue(), 1024.5f);
  EXPECT_EQ(window.ProgressMax(), 2500.0f);
  EXPECT_THROW(window.SetProgressValue(2500.5f), VbError);
  EXPECT_THROW(window.SetProgressValue(-1.0f), VbError);
  EXPECT_EQ(window.ProgressValue(), 1024.5f);
  window.SetProgressValue(2500.0f);
  EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 2500);
}

TEST_F(WindowTest, EventsArriveThroughTheMessageLoop) {
  // Buttons.
  ::SendMessageA(H(window, Control::cmdGET), BM_CLICK, 0, 0);
  ::SendMessageA(H(window, Control::CmdChiudi), BM_CLICK, 0, 0);
  EXPECT_EQ(events.get, 1);
  EXPECT_EQ(events.chiudi, 1);
  window.SetEnabled(Control::cmdGET, false);
  EXPECT_FALSE(::IsWindowEnabled(H(window, Control::cmdGET)));
  EXPECT_FALSE(window.Enabled(Control::cmdGET));

  // The close box asks the agent; the window stays until it decides.
  ::SendMessageA(H(window, Control::MainForm), WM_CLOSE, 0, 0);
  EXPECT_EQ(events.closeBox, 1);
  EXPECT_TRUE(::IsWindow(H(window, Control::MainForm)));

  // Timers tick only while enabled, and only when events are let through.
  EXPECT_FALSE(window.Enabled(Control::TimerTimeOut));
  window.SetEnabled(Control::TimerTimeOut, true);
  ::Sleep(100);
  EXPECT_EQ(events.timeOut, 0);
  PumpFor(window, 300);
  EXPECT_GE(events.timeOut, 5);
  window.SetEnabled(Control::TimerTimeOut, false);
  const int ticks = events.timeOut;
  PumpFor(window, 100);
  EXPECT_EQ(events.timeOut, ticks);
  window.SetEnabled(Control::Timer1, true);
  PumpFor(window, 1300);
  window.SetEnabled(Control::Timer1, false);
  EXPECT_EQ(events.timer1, 1);

  // Activation on being shown calls its handler once per load.
  window.Show();
  PumpFor(window, 200);
  EXPECT_EQ(events.activate, 1);
  HWND other = ::CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 50, 50,
                                 nullptr, nullptr, nullptr, nullptr);
  ::SetActiveWindow(other);
  PumpFor(window, 50);
  ::SetActiveWindow(H(window, Control::MainForm));
  PumpFor(window, 50);
  ::DestroyWindow(other);
  EXPECT_EQ(events.activate, 1);
  window.Unload();
  window.Load(&events);
  window.Show();
  PumpFor(window, 200);
  EXPECT_EQ(events.activate, 2);
}

TEST_F(WindowTest, HourglassStaysWhileEventsRun) {
  HCURSOR wait = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_WAIT));
  HCURSOR arrow = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  HWND main = H(window, Control::MainForm);
  window.SetScreenPointer(11);
  EXPECT_EQ(::GetCursor(), wait);
  // A control asks its parent for the pointer; the agent's window answers.
  ::SendMessageA(main, WM_SETCURSOR, reinterpret_cast<WPARAM>(H(window, Control::FileList)),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
  EXPECT_EQ(::GetCursor(), wait);
  window.SetScreenPointer(0);
  EXPECT_EQ(::GetCursor(), arrow);
  EXPECT_EQ(::SendMessageA(main, WM_SETCURSOR, reinterpret_cast<WPARAM>(main),
                           MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
            FALSE);
}

}  // namespace
}  // namespace ovlu::win

namespace ovlu::win {
namespace {

// The program's resources (this test program carries the same file).
TEST(Resources, VersionBlockInItalianAndIconGroups) {
  char exe[MAX_PATH];
  ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(exe, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(::GetFileVersionInfoA(exe, 0, size, block.data()));
  struct Value {
    const char* key;
    const char* text;
  };
  const Value values[] = {
      {"FileDescription", "Agente di aggiornamento software"},
      {"ProductName", "OV Live Update"},
      {"CompanyName", "Tessaro Software"},
      {"FileVersion", "7.00"},
      {"ProductVersion", "7.00"},
      {"InternalName", "OVLiveUpdate"},
      {"OriginalFilename", "OVLiveUpdate.exe"},
  };
  for (const Value& v : values) {
    const std::string path = std::string("\\StringFileInfo\\041004E4\\") + v.key;
    char* text = nullptr;
    UINT len = 0;
    ASSERT_TRUE(::VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &len))
        << v.key;
    EXPECT_STREQ(text, v.text);
  }
  WORD* translation = nullptr;
  UINT len = 0;
  ASSERT_TRUE(::VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &len));
  ASSERT_GE(len, 4u);
  EXPECT_EQ(translation[0], 0x0410);
  EXPECT_EQ(translation[1], 1252);

  // "AAA": 48, 32 and 16 pixels at 32 bits; group 1 is there too.
  HRSRC group = ::FindResourceA(nullptr, "AAA", reinterpret_cast<LPCSTR>(RT_GROUP_ICON));
  ASSERT_NE(group, nullptr);
  const auto* dir = static_cast<const BYTE*>(::LockResource(::LoadResource(nullptr, group)));
  const WORD count = *reinterpret_cast<const WORD*>(dir + 4);
  ASSERT_EQ(count, 3);
  std::vector<int> sizes;
  for (WORD i = 0; i < count; ++i) {
    const BYTE* entry = dir + 6 + 14 * i;  // width, height, colours, 0, planes, bits, ...
    sizes.push_back(entry[0]);
    EXPECT_EQ(*reinterpret_cast<const WORD*>(entry + 6), 32) << "image " << i;
  }
  EXPECT_EQ(sizes, (std::vector<int>{48, 32, 16}));
  EXPECT_NE(::FindResourceA(nullptr, MAKEINTRESOURCEA(1), reinterpret_cast<LPCSTR>(RT_GROUP_ICON)),
            nullptr);
  EXPECT_EQ(::FindResourceA(nullptr, MAKEINTRESOURCEA(24), reinterpret_cast<LPCSTR>(RT_MANIFEST)),
            nullptr);
  EXPECT_EQ(::FindResourceA(nullptr, MAKEINTRESOURCEA(1), reinterpret_cast<LPCSTR>(RT_MANIFEST)),
            nullptr);
}

}  // namespace
}  // namespace ovlu::win
