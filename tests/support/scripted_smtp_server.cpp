#include "tests/support/scripted_smtp_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace testing_support {

ScriptStep Send(std::string bytes) { return {ScriptStep::Kind::kSend, std::move(bytes)}; }
ScriptStep SendBytewise(std::string bytes, int gapMs) {
  return {ScriptStep::Kind::kSendBytewise, std::move(bytes), gapMs};
}
ScriptStep Read() { return {ScriptStep::Kind::kRead, {}}; }
ScriptStep ReadData() { return {ScriptStep::Kind::kReadData, {}}; }
ScriptStep Delay(int ms) { return {ScriptStep::Kind::kDelay, {}, ms}; }
ScriptStep Close() { return {ScriptStep::Kind::kClose, {}}; }
ScriptStep Reset() { return {ScriptStep::Kind::kReset, {}}; }

ScriptedSmtpServer::ScriptedSmtpServer(std::vector<ScriptStep> script)
    : script_(std::move(script)) {
  thread_ = std::thread([this] { Run(); });
}

ScriptedSmtpServer::~ScriptedSmtpServer() { Wait(); }

void ScriptedSmtpServer::Wait() {
  if (thread_.joinable()) thread_.join();
}

namespace {

std::string StripCrLf(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace

void ScriptedSmtpServer::Run() {
  int fd = listener_.Accept();
  if (fd < 0) return;
  bool open = true;
  for (const ScriptStep& step : script_) {
    if (!open) break;
    switch (step.kind) {
      case ScriptStep::Kind::kSend:
        SendText(fd, step.bytes);
        break;
      case ScriptStep::Kind::kSendBytewise:
        for (char c : step.bytes) {
          if (!SendText(fd, std::string(1, c))) break;
          if (step.ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
        }
        break;
      case ScriptStep::Kind::kRead: {
        std::string line;
        if (ReadLine(fd, &line)) {
          lines_.push_back(StripCrLf(line));
        } else {
          if (!line.empty()) lines_.push_back(line);
          open = false;
        }
        break;
      }
      case ScriptStep::Kind::kReadData: {
        std::string data;
        std::string line;
        while (ReadLine(fd, &line)) {
          if (line == ".\r\n" && (data.empty() || data.ends_with("\r\n"))) break;
          data += line;
        }
        if (data.ends_with("\r\n")) data.resize(data.size() - 2);
        data_.push_back(data);
        break;
      }
      case ScriptStep::Kind::kDelay:
        std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
        break;
      case ScriptStep::Kind::kClose:
        close(fd);
        fd = -1;
        open = false;
        break;
      case ScriptStep::Kind::kReset:
        CloseWithReset(fd);
        fd = -1;
        open = false;
        break;
    }
  }
  if (fd < 0) return;
  // Whatever the client says after the script, until it closes.
  std::string rest = ReadUntilClosed(fd, std::chrono::seconds(10));
  std::size_t pos = 0;
  while (pos < rest.size()) {
    std::size_t eol = rest.find('\n', pos);
    std::size_t end = eol == std::string::npos ? rest.size() : eol + 1;
    lines_.push_back(StripCrLf(rest.substr(pos, end - pos)));
    pos = end;
  }
  close(fd);
}

}  // namespace testing_support
