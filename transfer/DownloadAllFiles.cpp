// Downloads every listed file in turn under its received-file name.
#include "shell/MainForm.h"
#include "shell/RunLog.h"

namespace ovlu {

void MainForm::DownloadAllFiles() {
  try {
    UpdateItemArray& items = G().UpdateItems;
    const std::int32_t last = items.UBound();
    for (std::int32_t i = 0; i <= last; ++i) {
      Window& w = Ctl();
      const UpdateItem& item = items[i];
      w.SetCaption(Control::LabelStatus1, "Connessione al server in corso....");
      w.SelectRow(i + 1);
      CurrentRow = i + 1;
      Log().Add("record", std::to_string(i + 1) + ": " + item.FileName + " from " +
                              (item.Sources.UBound() >= 0 ? item.Sources[0].Url : "(no source)"));
      // Written at once: a process killed in the middle of this record
      // still leaves the line that names it.
      Log().Flush();

      inet_.OpenURL(item.Sources[0].Server);
      inet_.SetRequestTimeout(40);
      do {
        w.DoEvents();
      } while (inet_.StillExecuting());

      w.SetProgressValue(0);
      const std::string& url = item.Sources[item.SourceIndex].Url;
      w.SetCaption(Control::LabelStatus1, "Download del file...\r\n" + url);
      w.SetCaption(Control::LabelFName, "File name: " + item.FileName);
      w.SetCaption(Control::LabelDest, "Destination: " + item.DestFolder);
      w.SelectRow(i + 1);
      DownloadPath = ReceivedFileName(item);
      inet_.SetProtocol(icHTTP);
      w.SetEnabled(Control::TimerTimeOut, true);
      inet_.Execute(url, "GET");
      do {
        w.DoEvents();
      } while (inet_.StillExecuting());
      w.SetEnabled(Control::TimerTimeOut, false);
      SetPercent();
      CheckSignature(url);
      LogRow(i + 1);
      Log().Flush();
    }
  } catch (const VbError& e) {
    Log().Add("record", "the download sequence stops here: " + ErrorText(e.number, e.what()));
    Log().Flush();
    // The sequence stops here. The percentage timer is not left running.
    try {
      if (window_.Loaded()) window_.SetEnabled(Control::TimerTimeOut, false);
    } catch (const VbError&) {
    }
  }
}

// The row's percentage as the run leaves it, and what it means for the
// apply step.
void MainForm::LogRow(std::int32_t row) {
  try {
    if (!window_.Loaded()) return;
    const std::string percent = window_.SubItem(row, 2);
    Log().Add("row", std::to_string(row) + " reads \"" + percent + "\"" +
                         (percent == "100%" ? "" : ": it will not be applied"));
  } catch (const VbError&) {
  }
}

}  // namespace ovlu
