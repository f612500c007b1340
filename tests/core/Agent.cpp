#include "tests/core/Agent.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "shell/EventDispatch.h"

namespace ovlu::test {

void ScriptedInet::Open(const Request& request) {
  const std::string& url = request.url;
  log.push_back(url + " " + std::to_string(RequestTimeout()));
  url_ = url;
  answered_ = false;
  sent_ = 0;
}

void ScriptedInet::Drive() {
  if (url_.empty()) return;
  if (unreachable.count(url_)) {
    OnResolving();
    OnEnd("Cannot resolve the name");
    url_.clear();
    return;
  }
  if (!answered_) {
    const auto it = replies.find(url_);
    if (it != replies.end() && it->second.held) return;
    answered_ = true;
    reply_ = it != replies.end() ? it->second : Reply{"not found\n", false};
    const int status = it == replies.end() ? 404 : reply_.fails ? 500 : 200;
    OnRequestSent();
    OnResponse();
    OnHeaders(status, "Content-Length: " + std::to_string(reply_.body.size()) + "\r\n");
  }
  if (!WantsBody()) return;
  std::size_t n = std::min(reply_.body.size() - sent_, Room());
  if (reply_.perMs > 0) {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSent_ < std::chrono::milliseconds(1)) return;
    lastSent_ = now;
    n = std::min(n, reply_.perMs);
  }
  OnBody(reinterpret_cast<const unsigned char*>(reply_.body.data()) + sent_, n);
  sent_ += n;
  bodySent += n;
  if (sent_ == reply_.body.size()) {
    OnEnd("");
    url_.clear();
  }
}

std::string Line(const std::string& action, const std::string& name, const std::string& folder) {
  return "<v-" + action + "><s-http://srv/u/" + name + "><" + folder + "\\" + name + ">";
}

Agent::Agent() : form(window, inet) {
  ResetProcessValues();
  SetHost(&fs, &sys);
  for (const std::string& folder : {DataFolder(), sys.systemDirectory, fs.currentDirectory, kDest})
    fs.MakeFolder(folder);
  fs.Put(AppFolder() + "\\OrVento.exe", "product");
  window.manualTimers = true;
  ConnectPump(window, inet);
}

Agent::~Agent() {
  DisconnectPump(window, inet);
  SetHost(nullptr, nullptr);
  ResetProcessValues();
}

void Agent::WriteList(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  fs.Put(ListPath(), text);
}

bool Agent::Start() {
  try {
    form.Form_Initialize();
    window.DoEvents();  // the shown window is activated
    return true;
  } catch (const ProcessEnded&) {
    return false;
  }
}

bool Agent::Go() {
  try {
    window.Click(Control::cmdGET);
    return true;
  } catch (const ProcessEnded& e) {
    EXPECT_EQ(e.code, 0);
    return false;
  }
}

std::string Agent::Marks() {
  std::string marks;
  for (int row = 1; row <= window.RowCount(); ++row)
    marks += std::to_string(window.RowSmallIcon(row));
  return marks;
}

std::vector<std::string> Agent::Rows() {
  std::vector<std::string> rows;
  for (int row = 1; row <= window.RowCount(); ++row)
    rows.push_back(window.SubItem(row, 2) + ":" + std::to_string(window.RowSmallIcon(row)));
  return rows;
}

}  // namespace ovlu::test
