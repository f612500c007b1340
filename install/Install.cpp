// Puts the received files in place and carries out each record's action.
#include <map>

#include "shell/MainForm.h"

namespace ovlu {

void MainForm::StartAzioneSuFile() {
  if (G().CancelRequested) return;
  FileSystem& fs = Fs();
  // Once an "E" record has closed the window, the remaining rows are read
  // from the percentages they showed at that moment.
  std::map<std::int32_t, std::string> shownPercent;
  auto percentOf = [&](std::int32_t row) -> std::string {
    if (window_.Loaded()) return window_.SubItem(row, 2);
    auto it = shownPercent.find(row);
    if (it == shownPercent.end()) throw VbError(errInvalidCall, "Invalid procedure call");
    return it->second;
  };

  try {
    UpdateItemArray& items = G().UpdateItems;
    const std::int32_t last = items.UBound();
    for (std::int32_t i = 0; i <= last; ++i) {
      const UpdateItem& item = items[i];
      if (i + 1 > 32767) throw VbError(errOverflow, "Overflow");
      const std::int16_t row = static_cast<std::int16_t>(i + 1);

      if (percentOf(row) != "100%") {
        G().CancelRequested = vbTrue;
        continue;
      }

      std::string base = item.DestFolder + item.DestName;
      if (item.Action == "R") base += ".tmp";
      const std::string backup = base + ".old";
      if (fs.FileExists(backup)) fs.Delete(backup);
      if (fs.FileExists(base)) fs.Rename(base, backup);
      fs.Rename(base + ".remove", base);

      const std::string app = Sys().AppPath();
      if (!fs.FileExists(app + "\\Orvento.exe"))
        fs.Rename(app + "\\OrVento.exe.old", app + "\\OrVento.exe");
      window_.DoEvents();

      if (item.Action == "S") {
        RegisterOCX(item.DestFolder, item.DestName);
      } else if (item.Action == "E") {
        const Handle owner = window_.Loaded() ? window_.WindowHandle(Control::MainForm) : 0;
        Sys().ShellExecute(owner, "open", item.DestName, "", fs.CurrentDirectory(), 0);
        window_.DoEvents();
        if (window_.Loaded()) {
          for (std::int32_t r = 1; r <= window_.RowCount(); ++r)
            shownPercent[r] = window_.SubItem(r, 2);
          window_.Unload();
        }
        endAfterRun_ = true;
      } else if (item.Action == "R") {
        const std::string finalName = item.DestFolder + item.DestName;
        const std::string finalBackup = finalName + ".old";
        if (fs.FileExists(finalBackup)) fs.Delete(finalBackup);
        if (fs.FileExists(finalName)) fs.Rename(finalName, finalBackup);
        fs.Rename(base, finalName);
        window_.DoEvents();
      }

      if (window_.Loaded()) window_.SetRowSmallIcon(row, 1);
    }
  } catch (const VbError&) {
    G().CancelRequested = vbTrue;
  }
}

void MainForm::RegisterOCX(const std::string& sPath, const std::string& sFile) {
  try {
    const std::string program = SystemDirectory + "\\regsvr32.exe";
    const std::string parameters = "/s " + sPath + sFile;
    const Handle owner = window_.Loaded() ? window_.WindowHandle(Control::MainForm) : 0;
    Sys().ShellExecute(owner, "open", program, parameters, Fs().CurrentDirectory(), 0);
  } catch (const VbError&) {
  }
}

}  // namespace ovlu
