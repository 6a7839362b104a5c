#include "ServiceProcess.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace varnelo::test {
namespace {

using Clock = std::chrono::steady_clock;

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path);
}

void removeTree(const std::string& path) {
  if (!path.empty()) nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

size_t appendBody(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

bool parseJson(const std::string& text, Json::Value* out) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  return reader->parse(text.data(), text.data() + text.size(), out, &errors);
}

std::string compact(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, value);
}

// Waits until the child exits or the deadline passes; true when it exited.
bool waitExit(pid_t pid, int timeoutMs, int* status) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    pid_t r = waitpid(pid, status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));  // polling a child, not syncing
  }
}

}  // namespace

const char* serviceBinary() {
  return VARNELO_SERVICE_BINARY;
}

ServiceProcess::ServiceProcess() : ServiceProcess(Options{}) {}

ServiceProcess::ServiceProcess(const Options& options) : options_(options) {
  char pattern[] = "/tmp/varnelo-service-XXXXXX";
  if (!mkdtemp(pattern)) {
    error_ = std::string("mkdtemp: ") + strerror(errno);
    return;
  }
  tempDir_ = pattern;
  dataDir_ = tempDir_ + "/data";
  start();
}

ServiceProcess::~ServiceProcess() {
  stop();
  removeTree(tempDir_);
}

std::string ServiceProcess::httpBase() const {
  return "http://127.0.0.1:" + std::to_string(httpPort_);
}

std::string ServiceProcess::httpsBase() const {
  return "https://127.0.0.1:" + std::to_string(httpsPort_);
}

std::string ServiceProcess::logTail() const {
  std::ifstream in(logPath());
  std::stringstream all;
  all << in.rdbuf();
  std::string text = all.str();
  return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

bool ServiceProcess::restart() {
  stop();
  if (tempDir_.empty()) return false;
  error_.clear();
  start();
  return started();
}

void ServiceProcess::start() {
  const Options& options = options_;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    error_ = std::string("pipe: ") + strerror(errno);
    return;
  }
  // VARNELO_TEST_SERVICE_STDERR=1 shows the service's log in the test output.
  int logFd = -1;
  if (!options.inheritStderr && !getenv("VARNELO_TEST_SERVICE_STDERR")) {
    logFd = open(logPath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  }
  std::vector<std::string> args = {serviceBinary(), "serve", "--data",       dataDir_,
                                   "--http-port",   "0",     "--https-port", "0"};
  args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
  if (!options.faults.empty()) {
    args.push_back("--faults");
    args.push_back(options.faults);
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // The child ends with the test process, even when that one crashes or is
    // killed. Only async-signal-safe calls until exec.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    dup2(out[1], STDOUT_FILENO);
    if (logFd >= 0) dup2(logFd, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int forkError = errno;
  close(out[1]);
  if (logFd >= 0) close(logFd);
  if (pid_ < 0) {
    close(out[0]);
    pid_ = -1;
    error_ = std::string("cannot start ") + serviceBinary() + ": " + strerror(forkError);
    return;
  }

  // Read the listening line, with a deadline.
  std::string line;
  auto deadline = Clock::now() + std::chrono::milliseconds(options.startTimeoutMs);
  while (line.find('\n') == std::string::npos) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (left <= 0) break;
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    char buffer[256];
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;  // the child closed its output: it died
    line.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  if (sscanf(line.c_str(), "varnelo-service listening http=%d https=%d", &httpPort_, &httpsPort_) !=
          2 ||
      httpPort_ <= 0 || httpsPort_ <= 0) {
    httpPort_ = httpsPort_ = 0;
    error_ = "varnelo-service did not report its ports (got [" + line + "]); log:\n" + logTail();
    stop();
    return;
  }
  std::ifstream token(dataDir_ + "/admin.token");
  std::getline(token, adminToken_);
}

bool ServiceProcess::stop() {
  if (pid_ <= 0) return false;
  int status = 0;
  kill(pid_, SIGTERM);
  if (!waitExit(pid_, 10000, &status)) {
    kill(pid_, SIGKILL);
    waitExit(pid_, 10000, &status);
  }
  pid_ = -1;
  httpPort_ = httpsPort_ = 0;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int ServiceProcess::admin(const std::string& method, const std::string& pathAndQuery,
                          const std::string& body, std::string* reply) {
  CURL* curl = curl_easy_init();
  if (!curl) return 0;
  std::string url = httpBase() + pathAndQuery;
  std::string header = "X-Admin-Token: " + adminToken_;
  curl_slist* headers = curl_slist_append(nullptr, header.c_str());
  headers = curl_slist_append(headers, "Expect:");
  // libcurl's default form type would hold bodies to the server's 8 KiB
  // form limit; an installer is far larger.
  headers = curl_slist_append(headers, "Content-Type: application/octet-stream");
  reply->clear();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  if (method != "GET") {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  }
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, reply);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 30000L);
  long status = 0;
  if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return static_cast<int>(status);
}

bool ServiceProcess::addUser(const std::string& name, const std::string& password,
                             const std::string& provider, const std::string& state, int64_t quota) {
  Json::Value body;
  body["user"] = name;
  body["password"] = password;
  body["provider"] = provider;
  body["state"] = state;
  body["quota"] = static_cast<Json::Int64>(quota);
  std::string reply;
  return admin("POST", "/admin/users", compact(body), &reply) == 200;
}

bool ServiceProcess::setQuota(const std::string& name, int64_t quota) {
  Json::Value body;
  body["user"] = name;
  body["quota"] = static_cast<Json::Int64>(quota);
  std::string reply;
  return admin("POST", "/admin/quota", compact(body), &reply) == 200;
}

bool ServiceProcess::setFaults(const std::string& plan) {
  std::string reply;
  return admin("POST", "/admin/faults", plan, &reply) == 200;
}

bool ServiceProcess::counters(Json::Value* out) {
  std::string reply;
  return admin("GET", "/admin/counters", "", &reply) == 200 && parseJson(reply, out);
}

bool ServiceProcess::resetCounters() {
  std::string reply;
  return admin("POST", "/admin/counters/reset", "", &reply) == 200;
}

bool ServiceProcess::dumpTree(const std::string& user, Json::Value* out) {
  std::string reply;
  char* escaped = curl_easy_escape(nullptr, user.c_str(), static_cast<int>(user.size()));
  std::string path = std::string("/admin/tree?user=") + (escaped ? escaped : "");
  curl_free(escaped);
  return admin("GET", path, "", &reply) == 200 && parseJson(reply, out);
}

bool ServiceProcess::publishUpdate(const std::string& version, const std::string& installer) {
  std::string reply;
  return admin("PUT", "/admin/update?version=" + version, installer, &reply) == 200;
}

bool ServiceProcess::logUploads(Json::Value* out) {
  std::string reply;
  return admin("GET", "/admin/logs", "", &reply) == 200 && parseJson(reply, out);
}

void ServiceProcess::exportEnvironment() const {
  std::string service = "127.0.0.1:" + std::to_string(httpPort_) + ":" + std::to_string(httpsPort_);
  setenv("VARNELO_SERVICE", service.c_str(), 1);
  setenv("VARNELO_CA_BUNDLE", caPath().c_str(), 1);
}

}  // namespace varnelo::test
