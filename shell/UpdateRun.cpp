// The update run the user starts with cmdGET, and closing the program.
#include "shell/MainForm.h"
#include "shell/RunLog.h"

namespace ovlu {

void MainForm::cmdGET_Click() {
  // One run at a time: the button keeps its look, but a click during a run
  // (which lets window events through) starts nothing.
  if (running_) return;

  if (Ctl().MsgBox("Avviare l'aggiornamento di OrVento?", 68, "OrVento") == vbNo) return;
  running_ = true;

  Ctl().SetScreenPointer(vbHourglass);
  Ctl().SetCaption(Control::CmdChiudi, "&Annulla");

  char buffer[256] = {};
  const unsigned n = Sys().GetSystemDirectory(buffer, 256);
  SystemDirectory.assign(buffer, n <= 256 ? n : 0);

  Log().Add("run", "started; system folder \"" + SystemDirectory + "\"");
  signing_.Begin();
  DownloadAllFiles();

  const bool gone = !window_.Loaded();
  if (!gone)
    Ctl().SetCaption(Control::LabelST,
                     G().CancelRequested ? "download interrotto" : "download completato");

  StartAzioneSuFile();

  // After an "E" record the window has been closed: the outcome is settled
  // out of sight and the process ends below.
  const bool shown = window_.Loaded() && !endAfterRun_;
  Log().Add("outcome", G().CancelRequested
                           ? "Aggiornamento interrotto: the list stays for another run"
                           : "Aggiornamento completato: the list is deleted");
  Log().Flush();
  if (G().CancelRequested) {
    if (shown) {
      Ctl().SetCaption(Control::LabelST, "Aggiornamento interrotto. Riprovare.");
      Ctl().SetCaption(Control::LblMesg, "Aggiornamento interrotto. Riprovare.");
    }
  } else {
    if (shown) {
      Ctl().SetCaption(Control::LabelST, "Aggiornamento completato.");
      Ctl().SetCaption(Control::LblMesg, "Aggiornamento completato.");
      Ctl().SetEnabled(Control::cmdGET, false);
    }
    const std::string list = G().DataFolder + "\\" + "Updates.upd";
    // A list that cannot be deleted stays; the run still ends normally.
    Step([&] {
      if (Fs().FileExists(list)) Fs().Delete(list);
    });
  }

  if (endAfterRun_) {
    Log().Add("end", "a started program closed the window: the process ends");
    Log().Flush();
    Step([&] { window_.SetScreenPointer(vbDefault); });
    Sys().EndProcess(0);
  }

  Ctl().SetCaption(Control::CmdChiudi, "&Chiudi");
  Ctl().SetScreenPointer(vbDefault);
  running_ = false;
}

void MainForm::CmdChiudi_Click() {
  int answer = vbYes;
  Step([&] {
    if (Ctl().Caption(Control::CmdChiudi) == "&Annulla")
      answer = Ctl().MsgBox("Interrompre l'aggiornamento?", 68, "OrVento");
  });
  if (running_)
    Log().Add("question", answer == vbYes ? "break off the update: Yes, the process ends"
                                          : "break off the update: No, the run goes on");
  if (answer != vbYes) return;
  Log().Add("end", "Chiudi: the process ends");
  Log().Flush();
  // The transfer goes first: an answer that came in while the question was
  // open must not be read by the steps below, which let events run.
  Step([&] { inet_.Cancel(); });
  Step([&] { window_.SetEnabled(Control::Timer1, false); });
  Step([&] { window_.DoEvents(); });
  Step([&] { window_.Unload(); });
  Step([&] { window_.DoEvents(); });
  Sys().EndProcess(0);
}

void MainForm::Form_CloseBox() {
  // The close box ends the program without a question, whatever is running.
  Log().Add("end", running_ ? "close box during the run: the process ends"
                            : "close box: the process ends");
  Log().Flush();
  Step([&] { inet_.Cancel(); });
  Step([&] { window_.SetEnabled(Control::Timer1, false); });
  Step([&] { window_.Unload(); });
  Sys().EndProcess(0);
}

}  // namespace ovlu
