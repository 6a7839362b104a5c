#include "PipeServer.h"

#include <cstdio>

#include "Log.h"

namespace varnelo::shellext {

namespace {

constexpr int kFirstNumber = 1;
constexpr int kLastNumber = 99;

}  // namespace

std::string pipeName(int number) {
  char name[64];
  std::snprintf(name, sizeof name, VARNELO_SHELLEXT_PIPE_FORMAT, number);
  return name;
}

bool sendPipeCommand(const std::string& name, std::string_view message) {
  return !platform::pipeSend(name, message);
}

void PipeServer::start() {
  if (thread_.joinable()) return;
  ready_ = false;
  claimed_.reset();
  thread_ = std::thread([this] { run(); });
}

void PipeServer::stop() {
  if (!thread_.joinable()) return;
  // The thread leaves its loop on "2"; while it is still claiming a number
  // it ends by itself soon after. Joined either way: a thread left running
  // would execute code of a module that is about to go.
  claimed_.wait();
  if (const int own = number_.load()) sendPipeCommand(pipeName(own), std::string_view("2", 2));
  pipe_.stop();
  thread_.join();
}

void PipeServer::run() {
  pipe_.setLog([](std::string_view line) {
    logLine("pipe: %.*s", static_cast<int>(line.size()), line.data());
  });
  platform::PipeOptions options;
  options.maxMessage = VARNELO_SHELLEXT_PIPE_MAX_MESSAGE;
  options.requireUtf8 = true;
  for (int n = kFirstNumber; n <= kLastNumber; ++n) {
    if (!pipe_.listen(pipeName(n), options)) {
      number_ = n;
      break;
    }
  }
  state_.load();
  ready_ = true;
  claimed_.set();
  if (!number_) {
    // The implementation stays loaded; it just cannot be replaced here.
    logLine("no free pipe number: the implementation cannot be replaced");
    return;
  }
  pipe_.serve([this](std::string_view message, std::string&) {
    if (!message.empty() && message[0] == '2') return false;
    handle(message);
    return true;
  });
  number_ = 0;
  state_.unload();
}

void PipeServer::handle(std::string_view message) {
  if (message.empty()) return;
  switch (message[0]) {
    case '0': {
      // The path runs to the first NUL (or the end of the message).
      std::string_view path = message.substr(1);
      if (const size_t nul = path.find('\0'); nul != std::string_view::npos)
        path = path.substr(0, nul);
      if (path.empty()) {
        logLine("pipe command \"0\" without a usable path ignored");
        return;
      }
      if (state_.replaceFrom(std::string(path))) tellOthers();
      return;
    }
    case '1':
      state_.load();
      return;
    default:
      return;  // anything else is not ours
  }
}

void PipeServer::tellOthers() {
  const int own = number_.load();
  for (int n = kFirstNumber; n <= kLastNumber; ++n) {
    if (n == own) continue;
    sendPipeCommand(pipeName(n), std::string_view("1", 2));
  }
}

}  // namespace varnelo::shellext
