// Shows the main window as start-up leaves it with an update list of four
// files (the Ready state), or in the middle of a download with --running,
// and saves its client area as a PNG.
// Usage: qt_window_screenshot OUT.png [--running]
#include <QtWidgets/QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ports/linux/qt/QtWindow.h"

namespace {

struct NoEvents : ovlu::FormEvents {
  void Form_Activate() override {}
  void cmdGET_Click() override {}
  void CmdChiudi_Click() override {}
  void Form_CloseBox() override {}
  void Timer1_Timer() override {}
  void TimerTimeOut_Timer() override {}
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
  using namespace ovlu;
  NoEvents events;
  QtWindow w;
  w.Load(&events);

  // What start-up does with a list of four records.
  w.SetColumnWidth(2, 0);
  w.SetColumnWidth(3, 2600);
  w.SetColumnWidth(4, 0);
  Handle list = w.WindowHandle(Control::FileList);
  auto style = w.SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE_, 0, 0);
  w.SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE_, 0, style | LVS_EX_FULLROWSELECT_);
  w.SetCaption(Control::LabelTitle, "OV Live Update");
  Handle bar = w.WindowHandle(Control::ProgressBar1);
  w.SendMessageA(bar, PBM_SETBKCOLOR_, 0, 240 + 256 * 240 + 65536 * 255);
  w.SendMessageA(bar, PBM_SETBARCOLOR_, 0, 32 + 256 * 43 + 65536 * 136);
  struct Row {
    const char *kind, *action, *dest;
  } rows[] = {
      {"Applicazione", "R", "C:\\Programmi\\OrVento 7\\OrVento.exe"},
      {"Componente", "S", "C:\\Windows\\system32\\OVGrafica.ocx"},
      {"Archivio", "", "C:\\Documenti\\Tessaro Software\\OrVento 7\\Listino.dat"},
      {"Accessorio", "E", "C:\\Programmi\\OrVento 7\\Leggimi.txt"},
  };
  for (const Row& r : rows) {
    int n = w.AddRow(r.kind);
    w.SetSubItem(n, 1, r.action);
    w.SetSubItem(n, 2, "");
    w.SetSubItem(n, 3, r.dest);
  }
  w.BindSmallIcons();
  w.SetEnabled(Control::cmdGET, true);

  if (running) {
    w.SetCaption(Control::CmdChiudi, "&Annulla");
    w.SetSubItem(1, 2, "100%");
    w.SetRowSmallIcon(1, 1);
    w.SelectRow(2);
    w.SetSubItem(2, 2, "42%");
    w.SetCaption(Control::LblMesg, "Download...");
    w.SetCaption(Control::Label3, "Tempo previsto: 12 sec");
    w.SetCaption(Control::LabelST, "Tempo restante: 7 sec (0.52 MB di 1.23 MB)");
    w.SetProgressMax(1234567);
    w.SetProgressValue(518144);
  }

  w.Show();
  for (int i = 0; i < 5; ++i) w.DoEvents();
  if (!w.SaveScreenshot(argv[1])) {
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  w.Unload();
  return 0;
}
