// Handlers of the transfer control's state events and of the percentage timer.
#include "shell/MainForm.h"

namespace ovlu {

void MainForm::Inet1_StateChanged(std::int16_t state) {
  try {
    // The signature's transfer raises its states here too; they are its own.
    if (signing_.FetchingSignature()) return SignatureState(state);
    Window& w = Ctl();
    switch (state) {
      case icResolvingHost:
        w.SetCaption(Control::LblMesg, " Verifica disponibilit\xE0 del server.");
        w.SetSubItem(CurrentRow, 2, "Server non disponibile.");
        break;
      case icHostResolved:
        w.SetCaption(Control::LblMesg, " Server contattato.");
        break;
      case icConnecting:
        w.SetCaption(Control::LblMesg, " Connessione in corso.");
        break;
      case icConnected:
        w.SetCaption(Control::LblMesg, " Connesso al server.");
        break;
      case icRequesting:
        w.SetCaption(Control::LblMesg, " Affettuata la richiesta al server.");
        break;
      case icRequestSent:
        w.SetCaption(Control::LblMesg, " Attesa di risposta dal server.");
        break;
      case icReceivingResponse:
        w.SetCaption(Control::LblMesg, " Ricezione i dati.");
        break;
      case icDisconnecting:
        w.SetCaption(Control::LblMesg, " Disconnessione in corso.");
        break;
      case icDisconnected:
        w.SetCaption(Control::LblMesg, " Disconnesso dal server.");
        break;
      case icError:
        w.SetCaption(Control::LblMesg,
                     " Si sono verificati degli errori durante la ricezione dei dati.");
        G().CancelRequested = vbTrue;
        break;
      case icResponseCompleted:
        w.SetCaption(Control::LblMesg, "Download...");
        w.SetEnabled(Control::Timer1, true);
        RetrieveToFile(inet_, DownloadPath, w, Control::LabelFS, Control::LabelST,
                       signing_.StartBody());
        w.SetCaption(Control::LblMesg, "Download completato.");
        w.SetEnabled(Control::Timer1, false);
        break;
      default:
        break;
    }
  } catch (const VbError&) {
    // A failing handler ends quietly.
  }
}

void MainForm::TimerTimeOut_Timer() {
  try {
    SetPercent();
  } catch (const VbError&) {
  }
}

}  // namespace ovlu
