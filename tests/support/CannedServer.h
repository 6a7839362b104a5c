// A tiny plain-HTTP server on an ephemeral loopback port that answers each
// path with a fixed reply, byte for byte, for tests of malformed or hostile
// replies that the real service never sends. One connection at a time, one
// request per connection (the reply is followed by a close). It records what
// it received. The accept thread is joined by the destructor; set() and
// requests() may be called from any thread.
//
//   varnelo::test::CannedServer canned;
//   canned.set("/get", 200, R"({"ver":"short"})");
//   canned.setRaw("/info", "HTTP/1.1 200 OK\r\nContent-Length: 99\r\n\r\n{");
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varnelo::test {

class CannedServer {
 public:
  struct Request {
    std::string method;
    std::string target;  // path and query as sent
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::string header(const std::string& name) const;  // case-insensitive, "" if absent
  };

  CannedServer();
  ~CannedServer();
  CannedServer(const CannedServer&) = delete;
  CannedServer& operator=(const CannedServer&) = delete;

  bool started() const { return port_ > 0; }
  int port() const { return port_; }
  std::string base() const;  // "http://127.0.0.1:<port>"

  // The reply for a path (the target without its query), for any method.
  void set(const std::string& path, int status, const std::string& body,
           const std::string& contentType = "application/json",
           const std::vector<std::pair<std::string, std::string>>& headers = {});
  // Exactly these bytes, then the connection is closed.
  void setRaw(const std::string& path, const std::string& bytes);
  // Paths without a reply get 404 with an empty JSON object.

  std::vector<Request> requests() const;
  size_t requestCount(const std::string& path) const;

 private:
  void serve();
  void handle(int fd);

  int listenFd_ = -1;
  int wakeFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  // Guards replies_ and requests_.
  mutable std::mutex mutex_;
  std::map<std::string, std::string> replies_;
  std::vector<Request> requests_;
  std::thread thread_;
};

}  // namespace varnelo::test
