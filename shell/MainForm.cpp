#include "shell/MainForm.h"

#include "ovlu_version.h"
#include "shell/RunLog.h"
#include "shell/Vb.h"

namespace ovlu {

MainForm::MainForm(Window& window, Inet& inet) : window_(window), inet_(inet) {
  inet_.StateChanged = [this](std::int16_t state) { Inet1_StateChanged(state); };
}

Window& MainForm::Ctl() {
  if (!window_.Loaded()) window_.Load(this);
  return window_;
}

void MainForm::Form_Initialize() {
  CreateManifest();
  G().CancelRequested = vbFalse;
  G().DataFolder = SpecialFolderPath(46) + "Tessaro Software\\OrVento 7";

  Step([&] { Log().Open(G().DataFolder + "\\" + RunLog::kFileName); });
  Step([&] {
    Log().Add("start", std::string("OVLiveUpdate ") + OVLU_VERSION + " in " + Sys().AppPath());
  });

  WindowSetUp();
  Step([&] {
    if (G().UpdateListPath.empty())
      Log().Add("start", "no update list in " + G().DataFolder);
    else
      Log().Add("start", "update list " + G().UpdateListPath + ": " +
                             std::to_string(G().UpdateItems.UBound() + 1) + " records");
  });

  // One unit with a single exit: the first failure skips the rest of it.
  try {
    Ctl().BindSmallIcons();
    if (Sys().PreviousInstance()) {
      Log().Add("start", "another instance is running: this one ends");
      Log().Flush();
      Ctl().Unload();
      Sys().EndProcess(0);
    }
    Ctl().SetEnabled(Control::cmdGET, false);
    ApplyCommandLine(Sys().CommandLine());
    if (G().UpdateItems.UBound() >= 0) Ctl().SetEnabled(Control::cmdGET, true);
  } catch (const VbError&) {
  }

  Log().Flush();
  Ctl().Show();
}

void MainForm::WindowSetUp() {
  Window& w = Ctl();
  // The list view: hidden columns 2 and 4, a wider status column, and
  // selection of the whole row.
  Step([&] {
    w.SetColumnWidth(2, 0);
    w.SetColumnWidth(3, 2600);
    w.SetColumnWidth(4, 0);
  });
  Step([&] {
    const Handle list = w.WindowHandle(Control::FileList);
    std::intptr_t style = w.SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE_, 0, 0);
    style |= LVS_EX_FULLROWSELECT_;
    w.SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE_, 0, style);
  });

  bool found = false;
  try {
    found = Fs().FileExists(G().DataFolder + "\\updates.upd");
  } catch (const VbError&) {
    found = false;
  }
  if (!found) return;

  Step([&] { G().UpdateListPath = G().DataFolder + "\\Updates.upd"; });
  Step([&] { w.SetCaption(Control::LabelTitle, "OV Live Update"); });
  Step([&] {
    SetProgressBarColors(w, w.WindowHandle(Control::ProgressBar1), 240, 240, 255, 32, 43, 136,
                         PBM_SETBARCOLOR_, PBM_SETBKCOLOR_);
  });
  Step([&] { CaptureEnvironment(); });
  Step([&] { ReadUpdateList(); });
  Step([&] { FillFileList(); });
}

void MainForm::ApplyCommandLine(const std::string& commandLine) {
  if (commandLine.empty()) return;
  Ctl().SetCaption(Control::LabelTitle, "Autoupdate");
}

// The window raises this once per load of the form.
void MainForm::Form_Activate() {
  Step([&] { SetFormIcon(window_, window_.WindowHandle(Control::MainForm), "AAA", vbTrue); });
}

}  // namespace ovlu
