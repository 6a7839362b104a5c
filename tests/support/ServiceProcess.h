// Runs a real varnelo-service for a test: a child process serving a fresh
// temporary data folder on ephemeral loopback ports, with admin helpers over
// libcurl (users, quotas, faults, counters, tree dump, update publishing, log
// uploads). The destructor stops the child (SIGTERM, bounded wait, then
// SIGKILL) and removes the folder; if the test process dies first, the child
// gets SIGTERM from the kernel. That signal is tied to the creating thread, so
// create the object on a thread that outlives it (the test's main thread).
// The admin helpers may be called from any thread once it has started.
//
//   varnelo::test::ServiceProcess service;
//   ASSERT_TRUE(service.started()) << service.error();
//   ASSERT_TRUE(service.addUser("alice", "secret"));
//   service.exportEnvironment();  // VARNELO_SERVICE and VARNELO_CA_BUNDLE
#pragma once

#include <json/json.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace varnelo::test {

// The service program built beside the tests.
const char* serviceBinary();

class ServiceProcess {
 public:
  struct Options {
    std::string faults;                       // --faults plan, empty for none
    int startTimeoutMs = 20000;               // wait for the listening line
    bool inheritStderr = false;               // else the log goes to <temp>/service.log
    std::vector<std::string> extraArgs = {};  // more options for "serve"
  };

  ServiceProcess();
  explicit ServiceProcess(const Options& options);
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  bool started() const { return httpPort_ > 0; }
  // Why the start failed, with the tail of the service's log.
  const std::string& error() const { return error_; }

  int httpPort() const { return httpPort_; }
  int httpsPort() const { return httpsPort_; }
  pid_t pid() const { return pid_; }
  const std::string& dataDir() const { return dataDir_; }
  std::string caPath() const { return dataDir_ + "/ca.pem"; }
  const std::string& adminToken() const { return adminToken_; }
  std::string httpBase() const;   // "http://127.0.0.1:<http>"
  std::string httpsBase() const;  // "https://127.0.0.1:<https>"
  std::string logPath() const { return tempDir_ + "/service.log"; }

  bool addUser(const std::string& name, const std::string& password,
               const std::string& provider = "native", const std::string& state = "active",
               int64_t quota = int64_t{10} << 30);
  bool setQuota(const std::string& name, int64_t quota);
  // Replaces the fault plan (see service/Faults.h for the text); "" clears.
  bool setFaults(const std::string& plan);
  // {"endpoints": {"/get": {"requests", "bytesIn", "bytesOut"}, ...}}
  bool counters(Json::Value* out);
  bool resetCounters();
  // {"entries": [{"path", "type", "size", "sha1"}], "used"}
  bool dumpTree(const std::string& user, Json::Value* out);
  bool publishUpdate(const std::string& version, const std::string& installer);
  // {"logs": [{"id", "time", "remote", "text"}]}
  bool logUploads(Json::Value* out);

  // Sets VARNELO_SERVICE=127.0.0.1:<http>:<https> and VARNELO_CA_BUNDLE.
  void exportEnvironment() const;

  // Stops the child now; true when it exited with status 0.
  bool stop();
  // Stops and starts again on the same data folder (the ports change; call
  // exportEnvironment again). True when the new child reported its ports.
  bool restart();

  // One admin request; status 0 on a transport failure.
  int admin(const std::string& method, const std::string& pathAndQuery, const std::string& body,
            std::string* reply);

 private:
  void start();
  std::string logTail() const;

  Options options_;
  std::string tempDir_;
  std::string dataDir_;
  std::string adminToken_;
  std::string error_;
  pid_t pid_ = -1;
  int httpPort_ = 0;
  int httpsPort_ = 0;
};

}  // namespace varnelo::test
