#include "platform/local_pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/runtime_dir.h"
#include "platform/text.h"

namespace platform {
namespace {

std::error_code lastError() {
  return {errno, std::generic_category()};
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

std::error_code socketAddress(const std::string& path, sockaddr_un& addr) {
  addr = {};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    return std::make_error_code(std::errc::filename_too_long);
  }
  path.copy(addr.sun_path, path.size());
  return {};
}

void setTimeouts(int fd, int millis) {
  timeval tv{};
  tv.tv_sec = millis / 1000;
  tv.tv_usec = (millis % 1000) * 1000;
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

std::error_code connectTo(std::string_view pipeName, int timeoutMillis, Fd& out) {
  std::string path;
  if (auto ec = pipePath(pipeName, path)) return ec;
  sockaddr_un addr;
  if (auto ec = socketAddress(path, addr)) return ec;
  Fd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) return lastError();
  setTimeouts(fd.get(), timeoutMillis);
  int rc;
  do {
    rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    // A full backlog waits SO_SNDTIMEO and then answers EAGAIN.
    if (errno == EAGAIN || errno == EINPROGRESS) {
      return std::make_error_code(std::errc::timed_out);
    }
    return lastError();
  }
  out.reset(fd.release());
  return {};
}

std::error_code sendMessage(int fd, std::string_view message) {
  ssize_t sent;
  do {
    sent = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) {
    return errno == EAGAIN ? std::make_error_code(std::errc::timed_out) : lastError();
  }
  // A packet is sent whole or not at all.
  return {};
}

}  // namespace

std::error_code pipePath(std::string_view pipeName, std::string& out) {
  const std::string file = objectFileName(pipeName);
  if (file.empty()) return std::make_error_code(std::errc::invalid_argument);
  std::string folder;
  if (auto ec = runtimeFolder(folder)) return ec;
  out = folder + "/" + file + ".sock";
  return {};
}

PipeServer::PipeServer() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

PipeServer::~PipeServer() {
  stop();
  close();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

std::error_code PipeServer::listen(std::string_view pipeName, const PipeOptions& options) {
  if (thread_.joinable() || listening())
    return std::make_error_code(std::errc::device_or_resource_busy);
  if (wakeFd_ < 0) return std::make_error_code(std::errc::too_many_files_open);
  std::string path;
  if (auto ec = pipePath(pipeName, path)) return ec;
  sockaddr_un addr;
  if (auto ec = socketAddress(path, addr)) return ec;

  // Whoever holds the name's lock owns the socket file; a socket file
  // without a locked owner is a dead server's and may be replaced.
  const std::string lockPath = path + ".lock";
  Fd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (lock.get() < 0) return lastError();
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    return errno == EWOULDBLOCK ? std::make_error_code(std::errc::address_in_use) : lastError();
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return lastError();
  Fd sock(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
  if (sock.get() < 0) return lastError();
  if (::bind(sock.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(sock.get(), 16) != 0) {
    const auto ec = lastError();
    ::unlink(path.c_str());
    return ec;
  }
  // Forget a stop() meant for an earlier round.
  uint64_t count;
  [[maybe_unused]] ssize_t got = ::read(wakeFd_, &count, sizeof count);

  options_ = options;
  path_ = path;
  lockFd_ = lock.release();
  listenFd_.store(sock.release());
  return {};
}

std::error_code PipeServer::start(Handler handler) {
  if (!listening()) return std::make_error_code(std::errc::not_connected);
  if (thread_.joinable()) return std::make_error_code(std::errc::device_or_resource_busy);
  thread_ = std::thread([this, handler = std::move(handler)] { serve(handler); });
  return {};
}

void PipeServer::serve(const Handler& handler) {
  const int listenFd = listenFd_.load();
  bool keepGoing = listenFd >= 0;
  while (keepGoing) {
    pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      const std::error_code ec = lastError();
      log("pipe " + path_ + ": poll failed: " + ec.message());
      break;
    }
    if (fds[1].revents != 0) break;  // stop()
    if (fds[0].revents == 0) continue;
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) continue;
      const std::error_code ec = lastError();
      log("pipe " + path_ + ": accept failed: " + ec.message());
      break;
    }
    Fd connection(fd);
    serveOne(connection.get(), handler, keepGoing);
  }
  close();
}

void PipeServer::serveOne(int fd, const Handler& handler, bool& keepGoing) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
    const std::error_code ec = lastError();
    log("pipe " + path_ + ": cannot identify a client: " + ec.message());
    return;
  }
  if (peer.uid != ::geteuid()) {
    log("pipe " + path_ + ": refused a client of another user (uid " + std::to_string(peer.uid) +
        ", pid " + std::to_string(peer.pid) + ")");
    return;
  }
  pollfd wait{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&wait, 1, options_.readTimeoutMillis);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0) {
    log("pipe " + path_ + ": client pid " + std::to_string(peer.pid) + " sent nothing");
    return;
  }
  std::vector<char> buffer(options_.maxMessage);
  // MSG_TRUNC makes recv report the packet's real length.
  const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT);
  if (got < 0) {
    const std::error_code ec = lastError();
    log("pipe " + path_ + ": read failed: " + ec.message());
    return;
  }
  if (got == 0) return;  // an empty message, or a client that only looked
  if (static_cast<size_t>(got) > options_.maxMessage) {
    log("pipe " + path_ + ": dropped a message of " + std::to_string(got) + " bytes (limit " +
        std::to_string(options_.maxMessage) + ")");
    return;
  }
  const std::string_view message(buffer.data(), static_cast<size_t>(got));
  if (options_.requireUtf8 && !isValidUtf8(message)) {
    log("pipe " + path_ + ": dropped a message that is not valid UTF-8");
    return;
  }
  std::string reply;
  keepGoing = handler(message, reply);
  if (!reply.empty()) {
    if (auto ec = sendMessage(fd, reply)) log("pipe " + path_ + ": reply failed: " + ec.message());
  }
}

void PipeServer::stop() {
  if (wakeFd_ >= 0) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(wakeFd_, &one, sizeof one);
  }
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void PipeServer::close() noexcept {
  const int fd = listenFd_.exchange(-1);
  if (fd < 0) return;
  // Still under our lock, so the file removed is ours.
  ::unlink(path_.c_str());
  ::close(fd);
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
}

void PipeServer::log(const std::string& line) const {
  if (log_) log_(line);
}

std::error_code pipeSend(std::string_view pipeName, std::string_view message, int timeoutMillis) {
  Fd fd;
  if (auto ec = connectTo(pipeName, timeoutMillis, fd)) return ec;
  return sendMessage(fd.get(), message);
}

std::error_code pipeCall(std::string_view pipeName, std::string_view message, std::string& reply,
                         size_t maxReply, int timeoutMillis) {
  reply.clear();
  Fd fd;
  if (auto ec = connectTo(pipeName, timeoutMillis, fd)) return ec;
  if (auto ec = sendMessage(fd.get(), message)) return ec;
  std::vector<char> buffer(maxReply);
  ssize_t got;
  do {
    got = ::recv(fd.get(), buffer.data(), buffer.size(), MSG_TRUNC);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return errno == EAGAIN ? std::make_error_code(std::errc::timed_out) : lastError();
  if (static_cast<size_t>(got) > maxReply) return std::make_error_code(std::errc::message_size);
  reply.assign(buffer.data(), static_cast<size_t>(got));
  return {};
}

bool pipeServed(std::string_view pipeName) {
  Fd fd;
  return !connectTo(pipeName, 500, fd);
}

}  // namespace platform
