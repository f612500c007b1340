// The current row's percentage and the expected and remaining times.
#include "shell/MainForm.h"
#include "shell/Vb.h"

namespace ovlu {

void MainForm::SetPercent() {
  try {
    Window& w = Ctl();
    const float value = w.ProgressValue();
    std::string text;
    if (value == 0.0f) {
      text = "0";
    } else {
      const float max = w.ProgressMax();
      if (max == 0.0f) throw VbError(errDivisionByZero, "Division by zero");
      const float percent = value / max * 100.0f;
      text = FormatHash(percent);
      if (text.empty()) text = "0";
    }
    w.SetSubItem(CurrentRow, 2, text + "%");
  } catch (const VbError&) {
  }
}

void MainForm::Timer1_Timer() {
  Window& w = window_;
  const std::int32_t bytes = G().BytesSinceTick;
  // Each step stands alone: one that cannot be computed leaves its value.
  try {
    if (bytes == 0) throw VbError(errDivisionByZero, "Division by zero");
    const double expected = static_cast<double>(w.ProgressMax()) / static_cast<double>(bytes);
    w.SetCaption(Control::Label3, "Tempo previsto: " + RoundEvenText(expected) + " sec");
  } catch (const VbError&) {
  }
  try {
    if (bytes == 0) throw VbError(errDivisionByZero, "Division by zero");
    const float left = w.ProgressMax() - w.ProgressValue();
    RemainingSeconds = CLng(static_cast<double>(left) / static_cast<double>(bytes));
  } catch (const VbError&) {
  }
  G().RemainingTimeText = "Tempo restante: " + std::to_string(RemainingSeconds) + " sec ";
  G().BytesSinceTick = 0;
}

}  // namespace ovlu
