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
ScriptStep Close() { return {ScriptStep::Kind::kClose, {}}; }

ScriptedSmtpServer::ScriptedSmtpServer(std::vector<ScriptStep> script)
    : script_(std::move(script)) {
  thread_ = std::thread([this] { Run(); });
}

ScriptedSmtpServer::~ScriptedSmtpServer() { Wait(); }

void ScriptedSmtpServer::Wait() {
  if (thread_.joinable()) thread_.join();
}

void ScriptedSmtpServer::Run() {
  const int fd = listener_.Accept();
  if (fd < 0) return;
  using Kind = ScriptStep::Kind;
  std::string line;
  // Records one line without its CR LF; false (recording any partial line) when none came.
  auto readLine = [&](std::chrono::milliseconds wait) {
    const bool whole = ReadLine(fd, &line, wait);
    if (whole) line.resize(line.size() - (line.ends_with("\r\n") ? 2 : 1));
    if (whole || !line.empty()) lines_.push_back(line);
    return whole;
  };
  for (const ScriptStep& step : script_) {
    if (step.kind == Kind::kSend) SendText(fd, step.bytes);
    if (step.kind == Kind::kSendBytewise) {
      for (char c : step.bytes) {
        if (!SendText(fd, std::string(1, c))) {
          cutShort_ = true;
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
      }
    }
    if (step.kind == Kind::kRead && !readLine(std::chrono::seconds(5))) break;
    if (step.kind == Kind::kReadData) {
      std::string data;
      while (ReadLine(fd, &line)) {
        if (line == ".\r\n" && (data.empty() || data.ends_with("\r\n"))) break;
        data += line;
      }
      if (data.ends_with("\r\n")) data.resize(data.size() - 2);
      data_.push_back(data);
    }
    if (step.kind == Kind::kClose) {
      close(fd);
      return;
    }
  }
  // Whatever the client says after the script, until it closes.
  while (readLine(std::chrono::seconds(10))) {
  }
  close(fd);
}

}  // namespace testing_support
