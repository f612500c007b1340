// Looks at a running OVLiveUpdate.exe from outside, for the end-to-end test:
//   win_probe window        the main window, its controls and list rows
//   win_probe dialog        the message box the agent shows, with its buttons
//   win_probe attrib PATH   the attributes of a file (-1 when missing)
//   win_probe hold FILE     keeps the Wine session up until killed; FILE
//                              is made once the desktop is there
// Screen rectangles are in the coordinates of the X display under Wine.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

namespace {

void PrintWindow(const char* kind, HWND h) {
  char cls[64] = {}, text[512] = {};
  ::GetClassNameA(h, cls, sizeof cls);
  ::GetWindowTextA(h, text, sizeof text);
  RECT r;
  ::GetWindowRect(h, &r);
  std::printf("%s id=%d class=%s enabled=%d visible=%d rect=%ld,%ld,%ld,%ld text=%s\n", kind,
              ::GetDlgCtrlID(h), cls, ::IsWindowEnabled(h) ? 1 : 0, ::IsWindowVisible(h) ? 1 : 0,
              r.left, r.top, r.right, r.bottom, text);
}

BOOL CALLBACK EachChild(HWND h, LPARAM) {
  PrintWindow("control", h);
  return TRUE;
}

// The rows of a list view in another process: the item structure and the
// text buffer have to live in that process.
void PrintRows(HWND list) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(list, &pid);
  HANDLE proc = ::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (proc == nullptr) return;
  const SIZE_T textSize = 512;
  auto* remote = static_cast<char*>(::VirtualAllocEx(proc, nullptr, sizeof(LVITEMA) + textSize,
                                                     MEM_COMMIT, PAGE_READWRITE));
  const int rows = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < rows; ++row) {
    std::printf("row=%d", row + 1);
    for (int sub = 0; sub < 4; ++sub) {
      LVITEMA item{};
      item.iSubItem = sub;
      item.pszText = remote + sizeof(LVITEMA);
      item.cchTextMax = static_cast<int>(textSize);
      ::WriteProcessMemory(proc, remote, &item, sizeof item, nullptr);
      ::SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(remote));
      char text[512] = {};
      ::ReadProcessMemory(proc, remote + sizeof(LVITEMA), text, textSize - 1, nullptr);
      std::printf(" %d=[%s]", sub, text);
    }
    LVITEMA item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    ::WriteProcessMemory(proc, remote, &item, sizeof item, nullptr);
    ::SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote));
    ::ReadProcessMemory(proc, remote, &item, sizeof item, nullptr);
    const LRESULT state = ::SendMessageA(list, LVM_GETITEMSTATE, row, LVIS_SELECTED);
    std::printf(" image=%d selected=%d\n", item.iImage, state & LVIS_SELECTED ? 1 : 0);
  }
  ::VirtualFreeEx(proc, remote, 0, MEM_RELEASE);
  ::CloseHandle(proc);
}

BOOL CALLBACK FindDialog(HWND h, LPARAM found) {
  char cls[64] = {};
  ::GetClassNameA(h, cls, sizeof cls);
  if (std::string(cls) == "#32770" && ::IsWindowVisible(h)) {
    *reinterpret_cast<HWND*>(found) = h;
    return FALSE;
  }
  return TRUE;
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
    // Wine starts its background processes (services, the desktop) with the
    // first program of a session, and they keep that program's output
    // handles open. One long-lived program with no output, started first,
    // owns them, so that later programs end as soon as they return.
    if (::GetDesktopWindow() == nullptr) return 1;
    HANDLE ready = ::CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    ::CloseHandle(ready);
    ::Sleep(INFINITE);
    return 0;
  }
  if (what == "window") {
    HWND main = ::FindWindowA("OVLiveUpdateMain", nullptr);
    if (main == nullptr) return 1;
    PrintWindow("window", main);
    RECT client{};
    ::GetClientRect(main, &client);
    ::MapWindowPoints(main, nullptr, reinterpret_cast<POINT*>(&client), 2);
    std::printf("client rect=%ld,%ld,%ld,%ld\n", client.left, client.top, client.right,
                client.bottom);
    ::EnumChildWindows(main, EachChild, 0);
    if (HWND list = ::FindWindowExA(main, nullptr, WC_LISTVIEWA, nullptr)) PrintRows(list);
    std::fflush(stdout);
    return 0;
  }
  if (what == "dialog") {
    HWND dialog = nullptr;
    ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr) return 1;
    PrintWindow("dialog", dialog);
    ::EnumChildWindows(dialog, EachChild, 0);
    std::fflush(stdout);
    return 0;
  }
  std::fprintf(stderr, "usage: win_probe window | dialog | attrib PATH | hold FILE\n");
  return 2;
}
