// The agent's main window: its fields, its start-up and its event handlers.
#pragma once

#include <cstdint>
#include <string>

#include "shell/Globals.h"
#include "shell/Window.h"
#include "transfer/Inet.h"
#include "transfer/Signature.h"

namespace ovlu {

// Runs one step of a procedure whose failure is skipped: the next step runs
// regardless.
template <class F>
void Step(F&& f) {
  try {
    f();
  } catch (const VbError&) {
  }
}

class MainForm : public FormEvents {
 public:
  MainForm(Window& window, Inet& inet);

  // The whole start-up up to the idle window on the screen.
  void Form_Initialize();

  // Event handlers.
  void Form_Activate() override;
  void cmdGET_Click() override;
  void CmdChiudi_Click() override;
  void Form_CloseBox() override;
  void Timer1_Timer() override;
  void TimerTimeOut_Timer() override;
  void Inet1_StateChanged(std::int16_t state);

  // Public operations.
  void SetPercent();
  void StartAzioneSuFile();
  void RegisterOCX(const std::string& sPath, const std::string& sFile);

  // Private in spirit; reachable for tests.
  void ApplyCommandLine(const std::string& commandLine);
  void FillFileList();
  void DownloadAllFiles();
  void LogRow(std::int32_t row);
  // After a file's transfer: fetches and checks its signature when the run
  // checks signatures, and refuses the file when it does not hold.
  void CheckSignature(const std::string& url);
  void WindowSetUp();

  // Fields.
  std::string SystemDirectory;
  std::int32_t CurrentRow = 0;
  std::string DownloadPath;
  std::int32_t RemainingSeconds = 0;

  Window& W() { return window_; }
  Signing& Signed() { return signing_; }
  Inet& Inet1() { return inet_; }
  bool RunUnderWay() const { return running_; }
  // True once an "E" record has been started: the window is gone and the
  // process ends when the run has finished its own steps.
  bool EndAfterRun() const { return endAfterRun_; }

 private:
  // Makes sure the window exists before a control is touched.
  Window& Ctl();
  // A state of the signature's transfer.
  void SignatureState(std::int16_t state);

  Window& window_;
  Inet& inet_;
  bool running_ = false;
  bool endAfterRun_ = false;
  Signing signing_;
};

// RetrieveToFile of the InetRetreive unit.
// With a check, every byte written is hashed and a normal end is noted.
void RetrieveToFile(Inet& inet, const std::string& path, Window& window, Control sizeLabel,
                    Control statusLabel, BodyCheck* check = nullptr);

// Process-level procedures.
std::string SpecialFolderPath(int folder);
void CaptureEnvironment();
void SetProgressBarColors(Window& w, Handle hwnd, std::int16_t r1, std::int16_t g1, std::int16_t b1,
                          std::int16_t r2, std::int16_t g2, std::int16_t b2, unsigned msgSecond,
                          unsigned msgFirst);
void CreateManifest();
void SetFormIcon(Window& w, Handle hwnd, const std::string& iconName, std::int16_t ownerFlag);
// The manifest's exact text.
std::string ManifestText();

}  // namespace ovlu
