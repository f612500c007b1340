// Puts the received files in place and carries out each record's action.
#include <map>

#include "shell/MainForm.h"
#include "shell/RunLog.h"

namespace ovlu {

namespace {

// One step of the apply: logged with its source, its target and how it
// ended; a failure goes on to the caller as it came.
template <class F>
void Logged(const std::string& what, const std::string& from, const std::string& to, F&& step) {
  const std::string names = to.empty() ? from : from + " -> " + to;
  try {
    step();
  } catch (const VbError& e) {
    Log().Add("move", what + " " + names + ": " + ErrorText(e.number, e.what()));
    throw;
  }
  Log().Add("move", what + " " + names + ": ok");
}

void Remove(FileSystem& fs, const std::string& path) {
  Logged("delete", path, "", [&] { fs.Delete(path); });
}

void Move(FileSystem& fs, const std::string& from, const std::string& to) {
  Logged("rename", from, to, [&] { fs.Rename(from, to); });
}

}  // namespace

void MainForm::StartAzioneSuFile() {
  if (G().CancelRequested) {
    Log().Add("apply", "nothing applied: a download failed");
    return;
  }
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

  std::int32_t current = 0;
  try {
    UpdateItemArray& items = G().UpdateItems;
    const std::int32_t last = items.UBound();
    for (std::int32_t i = 0; i <= last; ++i) {
      current = i + 1;
      const UpdateItem& item = items[i];
      if (i + 1 > 32767) throw VbError(errOverflow, "Overflow");
      const std::int16_t row = static_cast<std::int16_t>(i + 1);

      const std::string percent = percentOf(row);
      if (percent != "100%") {
        Log().Add("apply", "row " + std::to_string(row) + " (" + item.FileName +
                               ") not applied: its percentage reads \"" + percent + "\"");
        G().CancelRequested = vbTrue;
        continue;
      }

      std::string base = item.DestFolder + item.DestName;
      if (item.Action == "R") base += ".tmp";
      const std::string backup = base + ".old";
      if (fs.FileExists(backup)) Remove(fs, backup);
      if (fs.FileExists(base)) Move(fs, base, backup);
      Move(fs, base + ".remove", base);

      const std::string app = Sys().AppPath();
      if (!fs.FileExists(app + "\\Orvento.exe"))
        Move(fs, app + "\\OrVento.exe.old", app + "\\OrVento.exe");
      window_.DoEvents();

      if (item.Action == "S") {
        RegisterOCX(item.DestFolder, item.DestName);
      } else if (item.Action == "E") {
        const Handle owner = window_.Loaded() ? window_.WindowHandle(Control::MainForm) : 0;
        const std::string folder = fs.CurrentDirectory();
        Log().Add("launch", "open " + item.DestName + " in " + folder);
        Sys().ShellExecute(owner, "open", item.DestName, "", folder, 0);
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
        if (fs.FileExists(finalBackup)) Remove(fs, finalBackup);
        if (fs.FileExists(finalName)) Move(fs, finalName, finalBackup);
        Move(fs, base, finalName);
        window_.DoEvents();
      }

      if (window_.Loaded()) window_.SetRowSmallIcon(row, 1);
      Log().Add("apply", "row " + std::to_string(row) + " (" + item.FileName + ") applied");
    }
  } catch (const VbError& e) {
    Log().Add("apply", "stopped at row " + std::to_string(current) +
                           ", the rows after it not applied: " + ErrorText(e.number, e.what()));
    G().CancelRequested = vbTrue;
  }
}

void MainForm::RegisterOCX(const std::string& sPath, const std::string& sFile) {
  try {
    const std::string program = SystemDirectory + "\\regsvr32.exe";
    const std::string parameters = "/s " + sPath + sFile;
    const Handle owner = window_.Loaded() ? window_.WindowHandle(Control::MainForm) : 0;
    Log().Add("launch", program + " " + parameters);
    Sys().ShellExecute(owner, "open", program, parameters, Fs().CurrentDirectory(), 0);
  } catch (const VbError& e) {
    Log().Add("launch", "regsvr32 not started: " + ErrorText(e.number, e.what()));
  }
}

}  // namespace ovlu
