// Runs the agent's start-up (MainForm::Form_Initialize) on the Qt window
// against the core tests' small Windows machine — the product installed in
// C:\Programmi\OrVento 7 and an update list of four files — and saves the
// window's client area as a PNG. No request is made before the picture, so
// the scripted transfer has no replies. (scripts/demo.sh --screenshot takes
// the picture of a real download in progress.)
// Usage: qt_window_screenshot OUT.png
#include <QtWidgets/QApplication>
#include <QtWidgets/QTreeWidget>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "ports/linux/qt/QtWindow.h"
#include "tests/core/Agent.h"

int main(int argc, char** argv) {
  using namespace ovlu;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.png\n", argv[0]);
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);

  // The machine of the core's tests; its own headless form stays unused.
  test::Agent machine;
  machine.sys.decimalSeparator = ",";
  machine.fs.currentDirectory = machine.AppFolder();
  machine.fs.Put(machine.AppFolder() + "\\OVLiveUpdate.exe.manifest", "");
  const std::string site = "<s-http://aggiornamenti.orvento.invalid/7/";
  machine.WriteList({"<v-R>" + site + "OrVento.exe><APPPATH-\\OrVento.exe>",
                     "<v-S>" + site + "OVGrafica.ocx><C:\\Windows\\system32\\OVGrafica.ocx>",
                     "<v->" + site + "Listino.dat><C:\\Programmi\\OrVento 7\\Listino.dat>",
                     "<v-E>" + site + "Leggimi.txt><APPPATH-\\Leggimi.txt>"});
  QtWindow w;
  MainForm form(w, machine.inet);
  try {
    form.Form_Initialize();
  } catch (const test::ProcessEnded& e) {
    return e.code;
  }
  for (int i = 0; i < 5; ++i) w.DoEvents();

  if (!w.SaveScreenshot(argv[1])) {
    std::fprintf(stderr, "could not write %s\n", argv[1]);
    return 1;
  }
  // Start-up hides two columns and widens the path's to 2600 twips; the
  // columns are drawn at 15 twips to the pixel, rounded (2440 twips: 163).
  // The core's tests check the rest of the Ready state on the headless window.
  auto* list = qobject_cast<QTreeWidget*>(w.Widget(Control::FileList));
  bool ready = true;
  for (int i : {0, 1, 2, 3}) ready = ready && list->columnWidth(i) == std::array{163, 0, 173, 0}[i];
  if (!ready) std::fprintf(stderr, "the start-up did not leave the column widths\n");
  w.Unload();
  return ready ? 0 : 1;
}
