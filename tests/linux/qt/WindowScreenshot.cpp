// Runs the agent's start-up (MainForm::Form_Initialize) on the Qt window
// against a small Windows machine kept in memory — the product installed in
// C:\Programmi\OrVento 7 and an update list of four files — and saves the
// window's client area as a PNG. With --running the window is then written
// as a download in progress would leave it.
// Usage: qt_window_screenshot OUT.png [--running]
#include <QtWidgets/QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/Host.h"
#include "ports/linux/qt/QtWindow.h"
#include "shell/MainForm.h"
#include "shell/Vb.h"

namespace {

using namespace ovlu;

const char* const kDataFolder = "C:\\Users\\Public\\Documents\\Tessaro Software\\OrVento 7";
const char* const kList =
    "<v-R><s-http://aggiornamenti.orvento.invalid/7/OrVento.exe><APPPATH-\\OrVento.exe>\r\n"
    "<v-S><s-http://aggiornamenti.orvento.invalid/7/OVGrafica.ocx>"
    "<C:\\Windows\\system32\\OVGrafica.ocx>\r\n"
    "<v-><s-http://aggiornamenti.orvento.invalid/7/Listino.dat>"
    "<C:\\Programmi\\OrVento 7\\Listino.dat>\r\n"
    "<v-E><s-http://aggiornamenti.orvento.invalid/7/Leggimi.txt><APPPATH-\\Leggimi.txt>\r\n";

std::string Lower(const std::string& s) { return LCase(s); }

// Files by lower-case path; only reading is needed before a run.
struct MemoryFiles : FileSystem {
  std::map<std::string, std::string> files;
  bool FileExists(const std::string& path) override { return files.count(Lower(path)) != 0; }
  bool FileExistsAnyAttributes(const std::string& path) override { return FileExists(path); }
  std::vector<unsigned char> ReadAll(const std::string& path) override {
    auto it = files.find(Lower(path));
    if (it == files.end()) throw VbError(errFileNotFound, "File not found");
    return std::vector<unsigned char>(it->second.begin(), it->second.end());
  }
  std::unique_ptr<BinaryFile> OpenBinaryWrite(const std::string&, bool) override {
    throw VbError(errPermissionDenied, "Permission denied");
  }
  void CreateTextFile(const std::string& path, const std::string& text) override {
    files[Lower(path)] = text;
  }
  void Rename(const std::string&, const std::string&) override {
    throw VbError(errPermissionDenied, "Permission denied");
  }
  void Delete(const std::string& path) override { files.erase(Lower(path)); }
  void SetAttributes(const std::string&, unsigned) override {}
  unsigned GetAttributes(const std::string& path) override {
    if (!FileExists(path)) throw VbError(errFileNotFound, "File not found");
    return attrArchive;
  }
  std::string CurrentDirectory() override { return "C:\\Programmi\\OrVento 7"; }
};

struct MemorySystem : System {
  std::string EnvironmentEntry(int index) override {
    const char* env[] = {"SystemDrive=C:", "windir=C:\\Windows"};
    return index >= 1 && index <= 2 ? env[index - 1] : "";
  }
  bool GetSpecialFolderPath(int csidl, char* buffer260, bool) override {
    if (csidl != 46) return false;
    std::strcpy(buffer260, "C:\\Users\\Public\\Documents");
    return true;
  }
  unsigned GetSystemDirectory(char* buffer, unsigned size) override {
    const char dir[] = "C:\\Windows\\system32";
    if (size < sizeof dir) return 0;
    std::memcpy(buffer, dir, sizeof dir);
    return sizeof dir - 1;
  }
  std::intptr_t ShellExecute(Handle, const std::string&, const std::string&, const std::string&,
                             const std::string&, int) override {
    return 0;
  }
  bool PreviousInstance() override { return false; }
  std::string AppPath() override { return "C:\\Programmi\\OrVento 7"; }
  std::string AppExeName() override { return "OVLiveUpdate"; }
  std::string CommandLine() override { return ""; }
  std::string DecimalSeparator() override { return ","; }
  void InitCommonControls() override {}
  [[noreturn]] void EndProcess(int code) override { std::exit(code); }
};

// No network here: the picture is taken before any request.
struct NoNetwork : Inet {
  void OpenURL(const std::string&) override { throw VbError(errTransfer, "no network"); }
  void SetRequestTimeout(int) override {}
  bool StillExecuting() override { return false; }
  void SetProtocol(int) override {}
  void Execute(const std::string&, const std::string&) override {
    throw VbError(errTransfer, "no network");
  }
  std::string GetHeader(const std::string&) override { return ""; }
  std::vector<unsigned char> GetChunk(int, int) override { return {}; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUT.png [--running]\n", argv[0]);
    return 2;
  }
  const bool running = argc > 2 && std::strcmp(argv[2], "--running") == 0;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);

  MemoryFiles fs;
  MemorySystem sys;
  fs.files[Lower(std::string(kDataFolder) + "\\Updates.upd")] = kList;
  fs.files[Lower("C:\\Programmi\\OrVento 7\\OVLiveUpdate.exe.manifest")] = "";
  SetHost(&fs, &sys);

  QtWindow w;
  NoNetwork inet;
  MainForm form(w, inet);
  form.Form_Initialize();
  for (int i = 0; i < 5; ++i) w.DoEvents();

  if (running) {
    // As the transfer and the timers leave the window in the middle of the
    // second file.
    w.SetCaption(Control::CmdChiudi, "&Annulla");
    w.SetSubItem(1, 2, "100%");
    w.SetRowSmallIcon(1, 1);
    w.SelectRow(2);
    w.SetSubItem(2, 2, "42%");
    w.SetCaption(Control::LblMesg, "Download...");
    w.SetCaption(Control::Label3, "Tempo previsto: 12 sec");
    w.SetCaption(Control::LabelST, "Tempo restante: 7 sec (0,52 MB di 1,23 MB)");
    w.SetProgressMax(1234567);
    w.SetProgressValue(518144);
    for (int i = 0; i < 5; ++i) w.DoEvents();
  }

  if (!w.SaveScreenshot(argv[1])) {
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  // The start-up must have left the Ready state on the window.
  const bool ready = w.RowCount() == 4 && w.Caption(Control::LabelTitle) == "OV Live Update" &&
                     w.Enabled(Control::cmdGET) && w.ColumnWidth(3) == 2600 &&
                     w.IconHandle(ICON_BIG_) != 0 && w.IconHandle(ICON_SMALL_) != 0;
  std::printf("%d rows, title \"%s\", cmdGET %s, window icon %s\n", w.RowCount(),
              w.Caption(Control::LabelTitle).c_str(),
              w.Enabled(Control::cmdGET) ? "enabled" : "disabled",
              w.IconHandle(ICON_BIG_) && w.IconHandle(ICON_SMALL_) ? "set" : "missing");
  w.Unload();
  return ready ? 0 : 1;
}
