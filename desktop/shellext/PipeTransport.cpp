#include "PipeTransport.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace varnelo::shellext {

namespace {

// The per-user folder of our sockets, owner-only.
bool runtimeFolder(std::string& folder) {
  const char* base = std::getenv("XDG_RUNTIME_DIR");
  folder = base && base[0] == '/' ? std::string(base) + "/varnelo"
                                  : "/tmp/varnelo-" + std::to_string(::getuid());
  ::mkdir(folder.c_str(), 0700);
  struct stat st;
  return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 077) == 0;
}

bool socketAddress(const std::string& name, sockaddr_un& address, std::string& path) {
  std::string folder;
  if (!runtimeFolder(folder)) return false;
  std::string file;
  for (char c : name)
    if (c != '{' && c != '}')
      file += std::isalnum(static_cast<unsigned char>(c)) || c == '-' ? c : '_';
  path = folder + "/" + file + ".pipe";
  if (path.size() >= sizeof address.sun_path) return false;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

int connectTo(const std::string& name) {
  sockaddr_un address;
  std::string path;
  if (!socketAddress(name, address, path)) return -1;
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

PipeListener::~PipeListener() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(path_.c_str());
  }
}

bool PipeListener::listen(const std::string& name) {
  if (pipeServed(name)) return false;
  sockaddr_un address;
  if (!socketAddress(name, address, path_)) return false;
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  // Nobody answers there: a file left by a process that died is stale.
  ::unlink(path_.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd, 16) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool PipeListener::receive(std::string& message, size_t limit, bool& tooLong) {
  message.clear();
  tooLong = false;
  for (;;) {
    const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return false;
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    const bool sameUser = ::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
                          peer.uid == ::getuid();
    if (!sameUser) {
      ::close(client);
      continue;
    }
    std::vector<char> buffer(limit + 1);
    ssize_t got;
    do {
      got = ::recv(client, buffer.data(), buffer.size(), MSG_TRUNC);
    } while (got < 0 && errno == EINTR);
    ::close(client);
    if (got < 0) continue;
    if (static_cast<size_t>(got) > limit) {
      tooLong = true;
      return true;
    }
    message.assign(buffer.data(), static_cast<size_t>(got));
    return true;
  }
}

bool pipeSend(const std::string& name, std::string_view message) {
  const int fd = connectTo(name);
  if (fd < 0) return false;
  const ssize_t sent = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL);
  ::close(fd);
  return sent == static_cast<ssize_t>(message.size());
}

bool pipeServed(const std::string& name) {
  const int fd = connectTo(name);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

}  // namespace varnelo::shellext
