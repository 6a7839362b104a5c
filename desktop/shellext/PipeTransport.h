// Message-mode local pipes for the replacement commands, until the
// platform's local pipe takes over: SOCK_SEQPACKET Unix sockets in the
// per-user runtime folder, same user only. Thread safe (no shared state).
#pragma once

#include <string>
#include <string_view>

namespace varnelo::shellext {

// A listening pipe. Move-only; closes on destruction.
class PipeListener {
 public:
  PipeListener() = default;
  ~PipeListener();
  PipeListener(PipeListener&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
  }
  PipeListener& operator=(PipeListener&&) = delete;
  PipeListener(const PipeListener&) = delete;

  // Claims `name`: fails when someone serves it (or it cannot be created).
  bool listen(const std::string& name);
  bool listening() const noexcept { return fd_ >= 0; }
  // Waits for the next client and reads its one message (up to `limit`
  // bytes; a longer one is reported as too long and dropped). False when
  // the listener failed; `tooLong` marks an oversized message.
  bool receive(std::string& message, size_t limit, bool& tooLong);

 private:
  int fd_ = -1;
  std::string path_;
};

// Sends one message to the pipe `name`; false when nobody serves it.
bool pipeSend(const std::string& name, std::string_view message);
// True when someone serves `name`.
bool pipeServed(const std::string& name);

}  // namespace varnelo::shellext
