// A tiny loopback HTTP/1.1 server for tests that need exact bytes on the
// wire: it answers each connection with the next canned raw reply (status
// lines, interim 100 replies, broken bodies — whatever the test queued) and
// records every request it read. One connection per request (it closes
// after replying). Its accept thread is joined in the destructor.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varnelo::test {

class RawHttpServer {
 public:
  struct Request {
    std::string head;  // request line and headers
    std::string body;
    std::string line() const { return head.substr(0, head.find("\r\n")); }
    bool hasHeader(const std::string& text) const { return head.find(text) != std::string::npos; }
  };

  RawHttpServer() {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_, 16) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      std::abort();
    port_ = ntohs(addr.sin_port);
    if (pipe2(wake_, O_CLOEXEC) != 0) std::abort();
    thread_ = std::thread([this] { serve(); });
  }

  ~RawHttpServer() {
    release();
    (void)!write(wake_[1], "x", 1);
    thread_.join();
    close(listen_);
    close(wake_[0]);
    close(wake_[1]);
  }

  RawHttpServer(const RawHttpServer&) = delete;
  RawHttpServer& operator=(const RawHttpServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  // Queues the exact bytes of the next reply.
  void replyRaw(std::string bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_.push_back(std::move(bytes));
  }
  // Queues a complete reply with the given status line tail and body.
  void reply(const std::string& status, const std::string& body, const std::string& interim = "") {
    replyRaw(interim + "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
             "\r\nConnection: close\r\n\r\n" + body);
  }

  // While held, a request is read and recorded but its reply waits for release().
  void hold() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = true;
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = false;
    changed_.notify_all();
  }
  // Waits until `count` requests have been read; false after 10 s.
  bool waitForRequests(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return requests_.size() >= count; });
  }

  std::vector<Request> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  Request last() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.empty() ? Request{} : requests_.back();
  }

 private:
  void serve() {
    for (;;) {
      pollfd fds[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents != 0) return;
      int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      handle(fd);
      close(fd);
    }
  }

  // Reads one request (answering "Expect: 100-continue"), then sends the
  // next queued reply, or a 500 when none is queued.
  void handle(int fd) {
    std::string data;
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos)
      if (!readMore(fd, data)) return;
    Request request;
    request.head = data.substr(0, headEnd + 2);
    size_t length = contentLength(request.head);
    if (request.head.find("Expect: 100-continue") != std::string::npos)
      sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");
    request.body = data.substr(headEnd + 4);
    while (request.body.size() < length)
      if (!readMore(fd, request.body)) break;
    std::string reply;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      requests_.push_back(request);
      changed_.notify_all();
      changed_.wait(lock, [&] { return !held_; });
      if (!replies_.empty()) {
        reply = std::move(replies_.front());
        replies_.pop_front();
      }
    }
    if (reply.empty())
      reply = "HTTP/1.1 500 Nothing queued\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    sendAll(fd, reply);
    shutdown(fd, SHUT_WR);
  }

  static size_t contentLength(const std::string& head) {
    for (const char* name : {"Content-Length: ", "content-length: "}) {
      size_t at = head.find(name);
      if (at != std::string::npos) return std::strtoul(head.c_str() + at + 16, nullptr, 10);
    }
    return 0;
  }
  static bool readMore(int fd, std::string& into) {
    char buffer[65536];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    into.append(buffer, static_cast<size_t>(n));
    return true;
  }
  static void sendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
  }

  int listen_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  // Guards replies_, requests_ and held_ (test thread vs server thread);
  // changed_ signals a new request or a release.
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false;
  std::deque<std::string> replies_;
  std::vector<Request> requests_;
  std::thread thread_;
};

}  // namespace varnelo::test
