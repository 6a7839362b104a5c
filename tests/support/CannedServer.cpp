#include "CannedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <strings.h>
#include <cstdlib>
#include <cstring>

namespace varnelo::test {
namespace {
const char* reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 298:
      return "Partial Success";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 402:
      return "Payment Required";
    case 404:
      return "Not Found";
    case 409:
      return "Conflict";
    case 500:
      return "Internal Server Error";
    default:
      return "Status";
  }
}

bool sendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

std::string CannedServer::Request::header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  }
  return {};
}

CannedServer::CannedServer() {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  wakeFd_ = eventfd(0, EFD_CLOEXEC);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (listenFd_ < 0 || wakeFd_ < 0 ||
      bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listenFd_, 16) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    return;
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { serve(); });
}

CannedServer::~CannedServer() {
  stopping_ = true;
  if (wakeFd_ >= 0) {
    uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) close(listenFd_);
  if (wakeFd_ >= 0) close(wakeFd_);
}

std::string CannedServer::base() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

void CannedServer::set(const std::string& path, int status, const std::string& body,
                       const std::string& contentType,
                       const std::vector<std::pair<std::string, std::string>>& headers) {
  std::string raw = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\n";
  raw += "Content-Type: " + contentType + "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n";
  for (const auto& [name, value] : headers) raw += name + ": " + value + "\r\n";
  setRaw(path, raw + "\r\n" + body);
}

void CannedServer::setRaw(const std::string& path, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[path] = bytes;
}

std::vector<CannedServer::Request> CannedServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

size_t CannedServer::requestCount(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const auto& r : requests_) n += r.target.substr(0, r.target.find('?')) == path;
  return n;
}

void CannedServer::serve() {
  while (!stopping_) {
    pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) <= 0) continue;
    if (fds[1].revents) break;
    int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    handle(fd);
    close(fd);
  }
}

void CannedServer::handle(int fd) {
  // Read the head, then a Content-Length body; give up after 10 s of silence.
  std::string data;
  size_t headEnd = std::string::npos;
  size_t need = 0;
  char buffer[65536];
  while (true) {
    if (headEnd == std::string::npos) {
      headEnd = data.find("\r\n\r\n");
      if (headEnd != std::string::npos) {
        std::string head = data.substr(0, headEnd);
        for (size_t pos = head.find("\r\n"); pos != std::string::npos;
             pos = head.find("\r\n", pos + 2)) {
          size_t end = head.find("\r\n", pos + 2);
          std::string line = head.substr(pos + 2, end == std::string::npos ? end : end - pos - 2);
          if (strncasecmp(line.c_str(), "Content-Length:", 15) == 0)
            need = strtoul(line.c_str() + 15, nullptr, 10);
        }
      }
    }
    if (headEnd != std::string::npos && data.size() >= headEnd + 4 + need) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) return;
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    data.append(buffer, static_cast<size_t>(n));
  }
  Request request;
  std::string head = data.substr(0, headEnd);
  size_t lineEnd = head.find("\r\n");
  std::string first = head.substr(0, lineEnd);
  size_t s1 = first.find(' '), s2 = first.rfind(' ');
  request.method = first.substr(0, s1);
  request.target = s1 == std::string::npos || s2 <= s1 ? "" : first.substr(s1 + 1, s2 - s1 - 1);
  while (lineEnd != std::string::npos) {
    size_t next = head.find("\r\n", lineEnd + 2);
    std::string line =
        head.substr(lineEnd + 2, next == std::string::npos ? next : next - lineEnd - 2);
    size_t colon = line.find(':');
    if (colon != std::string::npos) {
      size_t v = line.find_first_not_of(' ', colon + 1);
      request.headers.emplace_back(line.substr(0, colon),
                                   v == std::string::npos ? "" : line.substr(v));
    }
    lineEnd = next;
  }
  request.body = data.substr(headEnd + 4, need);
  std::string path = request.target.substr(0, request.target.find('?'));
  std::string reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    auto it = replies_.find(path);
    reply = it != replies_.end()
                ? it->second
                : "HTTP/1.1 404 Not Found\r\nContent-Type: application/json\r\nContent-Length: "
                  "2\r\nConnection: close\r\n\r\n{}";
  }
  sendAll(fd, reply);
  shutdown(fd, SHUT_WR);
}

}  // namespace varnelo::test
