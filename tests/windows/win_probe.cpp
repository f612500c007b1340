// Looks at a running OVLiveUpdate.exe from outside, for the end-to-end test:
//   win_probe window        the main window, its controls and list rows
//   win_probe dialog        the message box the agent shows, with its buttons
//   win_probe attrib PATH   the attributes of a file (-1 when missing)
//   win_probe hold FILE     keeps the Wine session up until killed; FILE
//                              is made once the desktop is there
//   win_probe watch ID SECONDS  each text the main window's control ID shows,
//                              with the milliseconds since the start, until
//                              the window goes or SECONDS have passed
// Screen rectangles are in the coordinates of the X display under Wine.
#include <windows.h>
// (before the common controls)
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

BOOL CALLBACK Print(HWND h, LPARAM kind) {
  char cls[64] = {}, text[512] = {};
  ::GetClassNameA(h, cls, sizeof cls);
  ::GetWindowTextA(h, text, sizeof text);
  RECT r;
  ::GetWindowRect(h, &r);
  std::printf("%s id=%d class=%s enabled=%d rect=%ld,%ld,%ld,%ld text=%s\n",
              reinterpret_cast<const char*>(kind), ::GetDlgCtrlID(h), cls,
              ::IsWindowEnabled(h) ? 1 : 0, r.left, r.top, r.right, r.bottom, text);
  return TRUE;
}

// The rows of a list view in another process: the item structure and the
// text buffer have to live in that process.
void PrintRows(HWND list) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(list, &pid);
  HANDLE proc =
      ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (proc == nullptr) return;
  auto* remote = static_cast<char*>(
      ::VirtualAllocEx(proc, nullptr, sizeof(LVITEMA) + 512, MEM_COMMIT, PAGE_READWRITE));
  const int rows = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < rows; ++row) {
    std::printf("row=%d", row + 1);
    // Sub-items 0 to 3 by their text, then (sub = 4) the row's image.
    for (int sub = 0; sub <= 4; ++sub) {
      LVITEMA item{};
      item.mask = sub < 4 ? LVIF_TEXT : LVIF_IMAGE;
      item.iItem = row;
      item.iSubItem = sub < 4 ? sub : 0;
      item.pszText = remote + sizeof(LVITEMA);
      item.cchTextMax = 512;
      char text[512] = {};
      ::WriteProcessMemory(proc, remote, &item, sizeof item, nullptr);
      ::SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote));
      ::ReadProcessMemory(proc, remote, &item, sizeof item, nullptr);
      ::ReadProcessMemory(proc, remote + sizeof(LVITEMA), text, sizeof text - 1, nullptr);
      if (sub < 4)
        std::printf(" %d=[%s]", sub, text);
      else
        std::printf(" image=%d\n", item.iImage);
    }
  }
  ::VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
  ::CloseHandle(proc);
}

struct FoundControl {
  int id;
  HWND found;
};

BOOL CALLBACK FindControl(HWND h, LPARAM p) {
  auto* f = reinterpret_cast<FoundControl*>(p);
  if (::GetDlgCtrlID(h) == f->id) f->found = h;
  return f->found == nullptr ? TRUE : FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "attrib" && argc > 2) {
    const DWORD a = ::GetFileAttributesA(argv[2]);
    std::printf("%ld\n", a == INVALID_FILE_ATTRIBUTES ? -1L : static_cast<long>(a));
    return 0;
  }
  if (what == "hold" && argc > 2) {
    // Started first, with no output: Wine's background processes keep the
    // output handles of the program that started them (see windows-test.sh).
    if (::GetDesktopWindow() == nullptr) return 1;
    HANDLE ready = ::CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    ::CloseHandle(ready);
    ::Sleep(INFINITE);
  }
  if (what == "watch" && argc > 3) {
    // The text is read from the window, not asked of the agent: the watch
    // never waits on the agent's thread.
    const int id = std::atoi(argv[2]);
    const DWORD limit = static_cast<DWORD>(std::atoi(argv[3])) * 1000, start = ::GetTickCount();
    std::string last;
    bool seen = false;
    while (::GetTickCount() - start < limit) {
      HWND top = ::FindWindowA("OVLiveUpdateMain", nullptr);
      // The control may sit inside another one (a label on the picture).
      FoundControl find{id, nullptr};
      if (top != nullptr) ::EnumChildWindows(top, FindControl, reinterpret_cast<LPARAM>(&find));
      HWND control = find.found;
      if (control == nullptr && seen) break;
      char text[512] = {};
      if (control != nullptr) ::GetWindowTextA(control, text, sizeof text);
      if (control != nullptr && (!seen || last != text)) {
        std::printf("%lu %s\n", static_cast<unsigned long>(::GetTickCount() - start), text);
        std::fflush(stdout);
        last = text;
        seen = true;
      }
      ::Sleep(1);
    }
    return 0;
  }
  HWND top = nullptr;
  if (what == "window") {
    top = ::FindWindowA("OVLiveUpdateMain", nullptr);
  } else if (what == "dialog") {  // the visible message box
    do top = ::FindWindowExA(nullptr, top, "#32770", nullptr);
    while (top != nullptr && !::IsWindowVisible(top));
  } else {
    std::fprintf(stderr,
                 "usage: win_probe window | dialog | attrib PATH | hold FILE | watch ID SECONDS\n");
    return 2;
  }
  if (top == nullptr) return 1;
  Print(top, reinterpret_cast<LPARAM>(what.c_str()));
  ::EnumChildWindows(top, Print, reinterpret_cast<LPARAM>("control"));
  if (HWND list = ::FindWindowExA(top, nullptr, WC_LISTVIEWA, nullptr)) PrintRows(list);
  std::fflush(stdout);
  return 0;
}
