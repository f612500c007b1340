// The headless window under the window contract: what it holds is what it
// shows, and a click waits in a queue until events run.
#include <deque>

#include "ports/headless/HeadlessWindow.h"
#include "tests/contract/WindowContract.h"

namespace ovlu::contract {
namespace {

struct HeadlessRig : RigOf<HeadlessWindow> {
  HeadlessRig() {
    w.onIdle = [this] {
      for (; !clicks.empty(); clicks.pop_front()) w.Click(clicks.front());
    };
  }
  void PostClick(Control button) override {
    if (!w.BoxOpen()) clicks.push_back(button);
  }
  void AnswerBoxAfter(int ms, int answer) override {
    w.boxHold = std::chrono::milliseconds(ms);
    w.answers.push_back(answer);
  }
  void CloseBox() override { w.PressCloseBox(); }
  std::string Drawn(Control c) override { return w.Caption(c); }
  std::string DrawnCell(int row, int subItem) override { return w.SubItem(row, subItem); }
  double DrawnBar() override { return w.ProgressValue() / w.ProgressMax(); }
  std::optional<std::array<int, 4>> DrawnRect(Control) override { return std::nullopt; }

  std::deque<Control> clicks;
};

}  // namespace

std::unique_ptr<WindowRig> MakeRig() { return std::make_unique<HeadlessRig>(); }

}  // namespace ovlu::contract
