// Hands the agent's icon to its window at the large and the small size.
#include "shell/MainForm.h"

namespace ovlu {

void SetFormIcon(Window& w, Handle hwnd, const std::string& iconName, std::int16_t ownerFlag) {
  Handle top = hwnd;
  if (ownerFlag) {
    for (Handle owner = w.GetWindow(top, GW_OWNER_); owner != 0; owner = w.GetWindow(top, GW_OWNER_))
      top = owner;
  }
  const int cx = w.GetSystemMetrics(SM_CXICON_);
  const int cy = w.GetSystemMetrics(SM_CYICON_);
  const Handle bigIcon = w.LoadImageA(iconName, IMAGE_ICON_, cx, cy, LR_SHARED_);
  if (ownerFlag) w.SendMessageA(top, WM_SETICON_, ICON_BIG_, bigIcon);
  w.SendMessageA(hwnd, WM_SETICON_, ICON_BIG_, bigIcon);

  const int sx = w.GetSystemMetrics(SM_CXSMICON_);
  const int sy = w.GetSystemMetrics(SM_CYSMICON_);
  const Handle smallIcon = w.LoadImageA(iconName, IMAGE_ICON_, sx, sy, LR_SHARED_);
  if (ownerFlag) w.SendMessageA(top, WM_SETICON_, ICON_SMALL_, smallIcon);
  w.SendMessageA(hwnd, WM_SETICON_, ICON_SMALL_, smallIcon);
}

}  // namespace ovlu
