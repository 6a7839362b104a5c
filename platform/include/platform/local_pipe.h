// Message pipes between processes of one user: the single-instance
// hand-over of the desktop application, and the file-manager extension's
// per-process control pipes. A pipe name such as
// "{C27A6189-DF1C-467b-9E40-233BF6A2BF67}" is a SOCK_SEQPACKET Unix socket
// (message boundaries kept) in runtimeFolder(). Each connection carries one
// message from the client and, optionally, one reply.
//
// The server accepts only peers running as the same user (SO_PEERCRED);
// others are closed and logged. A message longer than the server's limit is
// dropped and logged, as is one that is not valid UTF-8 when the server asks
// for text. A socket file that nobody listens on (its server died) is
// replaced; a live one makes listen() fail with address_in_use.
//
// Thread safety: PipeServer::stop() may be called from any thread, the rest
// from the thread that owns the server. The handler runs on the serving
// thread, one message at a time, while its client waits. The client
// functions are thread safe.
//
//   platform::PipeServer server;
//   server.setLog([](std::string_view line) { log(line); });
//   if (auto ec = server.listen("{C27A6189-DF1C-467b-9E40-233BF6A2BF67}", {.maxMessage = 2048}))
//     ...;
//   server.start([](std::string_view message, std::string& reply) {
//     return message != "-closepipe";  // false ends the server
//   });
//   ...
//   platform::pipeSend("{C27A6189-DF1C-467b-9E40-233BF6A2BF67}", "-quit");
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

namespace platform {

struct PipeOptions {
  size_t maxMessage = 2048;      // bytes; a longer message is dropped
  bool requireUtf8 = true;       // drop messages that are not valid UTF-8
  int readTimeoutMillis = 2000;  // a client that connects and sends nothing is dropped after this
};

class PipeServer {
 public:
  // Called for every accepted message. Setting `reply` sends it back to the
  // client; returning false ends the server after the reply.
  using Handler = std::function<bool(std::string_view message, std::string& reply)>;
  using Log = std::function<void(std::string_view line)>;

  PipeServer();
  ~PipeServer();  // stop() and close()
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Optional, before listen(): where refused peers and dropped messages are
  // reported (on the serving thread).
  void setLog(Log log) { log_ = std::move(log); }

  // Creates the socket for `pipeName`. Errors: address_in_use a live server
  // has the name; invalid_argument the name maps to no file name;
  // filename_too_long the socket path does not fit; errno otherwise.
  std::error_code listen(std::string_view pipeName, const PipeOptions& options = {});
  // Serves on the calling thread until the handler returns false, stop() is
  // called or accepting fails; then closes the socket.
  void serve(const Handler& handler);
  // serve() on a thread of the server's own, joined by stop().
  std::error_code start(Handler handler);
  // Ends serve() (waking it) and joins the thread of start(). Safe from any
  // thread but the serving one; idempotent. A handler call in progress
  // finishes first.
  void stop();
  // True from listen() until serving ends.
  bool listening() const noexcept { return listenFd_.load() >= 0; }
  const std::string& path() const noexcept { return path_; }

 private:
  void close() noexcept;
  void serveOne(int fd, const Handler& handler, bool& keepGoing);
  void log(const std::string& line) const;

  std::atomic<int> listenFd_{-1};
  int lockFd_ = -1;  // flock held while we own the name, so replacing stale sockets is race free
  int wakeFd_ = -1;  // eventfd written by stop()
  std::string path_;
  PipeOptions options_;
  Log log_;
  std::thread thread_;
};

// The socket path of `pipeName`, without creating anything but the folder.
std::error_code pipePath(std::string_view pipeName, std::string& out);

// Connects to the server of `pipeName` and sends `message` as one message.
// connection_refused or no_such_file_or_directory: nobody serves the name;
// timed_out: the server did not take the connection in time.
std::error_code pipeSend(std::string_view pipeName, std::string_view message,
                         int timeoutMillis = 2000);
// pipeSend() and then waits for one reply of at most `maxReply` bytes (an
// empty reply when the server closes without one).
std::error_code pipeCall(std::string_view pipeName, std::string_view message, std::string& reply,
                         size_t maxReply = 2048, int timeoutMillis = 2000);
// Whether a live server has `pipeName`.
bool pipeServed(std::string_view pipeName);

}  // namespace platform
