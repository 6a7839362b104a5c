// A minimal HTTP CONNECT proxy on a loopback port for the client's tunnel
// tests: it answers each CONNECT with "200 Connection established" and then
// relays bytes both ways until either side closes. One tunnel at a time;
// counts the tunnels it opened. The relay thread is joined by the destructor.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

namespace varnelo::e2e {

class ConnectProxy {
 public:
  ConnectProxy() {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listen_, 8) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        pipe2(wake_, O_CLOEXEC) != 0)
      std::abort();
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~ConnectProxy() {
    (void)!write(wake_[1], "x", 1);
    thread_.join();
    close(listen_);
    close(wake_[0]);
    close(wake_[1]);
  }
  ConnectProxy(const ConnectProxy&) = delete;
  ConnectProxy& operator=(const ConnectProxy&) = delete;

  int port() const { return port_; }
  int tunnels() const { return tunnels_.load(); }

 private:
  // Waits for `fd` (or the wake pipe); false when woken to stop.
  bool wait_readable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    while (poll(fds, 2, -1) < 0) {
    }
    return fds[1].revents == 0;
  }

  void serve() {
    while (wait_readable(listen_)) {
      int client = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      tunnel(client);
      close(client);
    }
  }

  void tunnel(int client) {
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && read(client, &c, 1) == 1) head += c;
    // "CONNECT 127.0.0.1:8443 HTTP/1.1"
    if (head.rfind("CONNECT ", 0) != 0) return;
    std::string target = head.substr(8, head.find(' ', 8) - 8);
    int port = std::atoi(target.substr(target.rfind(':') + 1).c_str());
    int upstream = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(upstream, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(upstream);
      return;
    }
    ++tunnels_;
    const std::string ok = "HTTP/1.1 200 Connection established\r\n\r\n";
    (void)!write(client, ok.data(), ok.size());
    relay(client, upstream);
    close(upstream);
  }

  void relay(int a, int b) {
    char buffer[16384];
    for (;;) {
      pollfd fds[3] = {{a, POLLIN, 0}, {b, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(fds, 3, -1) < 0) continue;
      if (fds[2].revents != 0) return;
      for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0) continue;
        ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n <= 0) return;
        int to = i == 0 ? b : a;
        for (ssize_t sent = 0; sent < n;) {
          ssize_t w = send(to, buffer + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
          if (w <= 0) return;
          sent += w;
        }
      }
    }
  }

  int listen_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<int> tunnels_{0};
  std::thread thread_;
};

}  // namespace varnelo::e2e
