#include "tests/core/Agent.h"

#include <algorithm>

#include "shell/Vb.h"

namespace ovlu::test {

void ScriptedInet::OpenURL(const std::string& url) {
  log.push_back("probe " + url);
  if (unreachable.count(url)) throw VbError(errTransfer, "Cannot connect");
}

void ScriptedInet::Execute(const std::string& url, const std::string& operation) {
  if (executing_) throw VbError(errTransfer, "Still executing last request");
  log.push_back(operation + " " + url);
  auto it = replies.find(url);
  Reply reply = it == replies.end() ? Reply{} : it->second;
  reply.fails |= it == replies.end();
  Serve(reply);
  pending_ = {
      icResolvingHost,     icHostResolved,     icConnecting,
      icConnected,         icRequesting,       icRequestSent,
      icReceivingResponse, icResponseReceived, current_.fails ? icError : icResponseCompleted};
  executing_ = true;
}

void ScriptedInet::Serve(const Reply& reply) {
  current_ = reply;
  if (!current_.omitLength)
    current_.headers.try_emplace("Content-Length", std::to_string(reply.body.size()));
  sent_ = 0;
}

std::string ScriptedInet::GetHeader(const std::string& name) {
  for (const auto& [key, value] : current_.headers)
    if (LCase(key) == LCase(name)) return value;
  return std::string();
}

std::vector<unsigned char> ScriptedInet::GetChunk(int size, int) {
  if (sent_ >= current_.breakAt) throw VbError(errTransfer, "Connection reset");
  const std::size_t n = std::min({static_cast<std::size_t>(size), std::size_t(1024),
                                  current_.body.size() - sent_, current_.breakAt - sent_});
  const auto from = current_.body.begin() + static_cast<std::ptrdiff_t>(sent_);
  sent_ += n;
  return std::vector<unsigned char>(from, from + static_cast<std::ptrdiff_t>(n));
}

void ScriptedInet::Pump() {
  if (!executing_ || inHandler_ || pending_.empty()) return;
  const std::int16_t state = pending_.front();
  pending_.pop_front();
  raised.push_back(state);
  inHandler_ = true;
  if (StateChanged) StateChanged(state);
  inHandler_ = false;
  if (pending_.empty()) executing_ = false;
}

Agent::Agent() : form(window, inet) {
  ResetProcessValues();
  SetHost(&fs, &sys);
  for (const std::string& folder :
       {DataFolder(), sys.appPath, sys.systemDirectory, fs.currentDirectory})
    fs.MakeFolder(folder);
  window.manualTimers = true;
  window.onPump = [this] { inet.Pump(); };
}

Agent::~Agent() {
  window.onPump = nullptr;
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

}  // namespace ovlu::test
