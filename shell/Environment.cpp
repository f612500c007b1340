#include <cstring>

#include "shell/MainForm.h"
#include "shell/Vb.h"

namespace ovlu {

std::string SpecialFolderPath(int folder) {
  char buffer[261];
  std::memset(buffer, ' ', 260);
  buffer[260] = '\0';
  try {
    Sys().GetSpecialFolderPath(folder, buffer, false);
  } catch (const VbError&) {
    return std::string();
  }
  const std::string text(buffer, 260);
  const std::size_t nul = text.find('\0');
  if (nul == std::string::npos) return std::string();
  const std::string path = text.substr(0, nul);
  if (path.find_first_not_of(' ') == std::string::npos) return std::string();
  return path + "\\";
}

void CaptureEnvironment() {
  for (int i = 1; i <= 256; ++i) {
    std::string entry;
    try {
      entry = Sys().EnvironmentEntry(i);
      const std::size_t eq = InStr(1, entry, "=");
      if (eq != 0) {
        const std::string name = Left(entry, static_cast<long long>(eq) - 1);
        const std::string value = Mid(entry, static_cast<long long>(eq) + 1);
        if (name == "windir")
          G().EnvWindir = value;
        else if (name == "SystemDrive")
          G().EnvSystemDrive = value;
      }
    } catch (const VbError&) {
      continue;  // an entry that cannot be read is skipped
    }
    if (entry.empty()) break;
  }
}

void SetProgressBarColors(Window& w, Handle hwnd, std::int16_t r1, std::int16_t g1, std::int16_t b1,
                          std::int16_t r2, std::int16_t g2, std::int16_t b2, unsigned msgSecond,
                          unsigned msgFirst) {
  const std::intptr_t first = r1 + 256 * g1 + 65536 * b1;
  const std::intptr_t second = r2 + 256 * g2 + 65536 * b2;
  w.SendMessageA(hwnd, msgFirst, 0, first);
  w.SendMessageA(hwnd, msgSecond, 0, second);
}

const char* ControlName(Control c) {
  switch (c) {
    case Control::MainForm:
      return "MainForm";
    case Control::Picture1:
      return "Picture1";
    case Control::LblMesg:
      return "LblMesg";
    case Control::LabelTitle:
      return "LabelTitle";
    case Control::FileList:
      return "FileList";
    case Control::LabelStatus1:
      return "LabelStatus1";
    case Control::Label3:
      return "Label3";
    case Control::LabelST:
      return "LabelST";
    case Control::ProgressBar1:
      return "ProgressBar1";
    case Control::cmdGET:
      return "cmdGET";
    case Control::CmdChiudi:
      return "CmdChiudi";
    case Control::Frame1:
      return "Frame1";
    case Control::LabelFName:
      return "LabelFName";
    case Control::LabelDest:
      return "LabelDest";
    case Control::Label1:
      return "Label1";
    case Control::LabelFS:
      return "LabelFS";
    case Control::Timer1:
      return "Timer1";
    case Control::TimerTimeOut:
      return "TimerTimeOut";
    case Control::ImageList1:
      return "ImageList1";
  }
  return "?";
}

}  // namespace ovlu
