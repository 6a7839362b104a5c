#include "Service.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "Crypto.h"
#include "HttpUtil.h"
#include "Log.h"
#include "Routes.h"
#include "ServiceContext.h"
#include "TlsIdentity.h"

#ifndef VARNELO_CONSUMER_KEY
#error "VARNELO_CONSUMER_KEY must come from the build"
#endif
#ifndef VARNELO_CONSUMER_SECRET
#error "VARNELO_CONSUMER_SECRET must come from the build"
#endif

namespace varnelo::service {
namespace {

// Threads per listener: enough for 16+ clients that each keep a connection
// open plus parallel chunk transfers.
constexpr size_t kThreadsPerListener = 48;
// An idle keep-alive connection holds a listener thread this long, and so
// bounds how long a stop waits for idle clients.
constexpr time_t kKeepAliveSeconds = 2;
constexpr int kStopGraceSeconds = 5;

bool makeDirs(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') {
      std::string prefix = path.substr(0, pos);
      if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

// Reads the admin token, creating it (0600) on first start.
bool ensureAdminToken(const std::string& dataDir, std::string* token) {
  std::string path = dataDir + "/admin.token";
  std::ifstream in(path);
  if (in && std::getline(in, *token) && !token->empty()) return true;
  *token = toHex(randomBytes(24));
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::string line = *token + "\n";
  bool ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  fchmod(fd, 0600);
  close(fd);
  return ok;
}

// Opens the data folder for either command: folder, database, consumer and
// admin token.
std::unique_ptr<ServiceContext> openData(const std::string& dataDir) {
  if (dataDir.empty() || !makeDirs(dataDir)) {
    logLine(LogLevel::kError, "cannot create the data folder [%s]: %s", dataDir.c_str(),
            strerror(errno));
    return nullptr;
  }
  auto store = Store::open(dataDir);
  std::string adminToken;
  if (!store || !ensureAdminToken(dataDir, &adminToken)) {
    logLine(LogLevel::kError, "cannot open the data folder [%s]", dataDir.c_str());
    return nullptr;
  }
  std::string secret = store->setting("capability_secret", randomBytes(32));
  auto ctx = std::make_unique<ServiceContext>(dataDir, std::move(store), secret, adminToken);
  ctx->tokens.ensureConsumer(VARNELO_CONSUMER_KEY, VARNELO_CONSUMER_SECRET);
  if (!ctx->signing.load(dataDir)) return nullptr;
  return ctx;
}

// Counting, fault injection and the admin gate, in front of every route.
void installFrontDoor(httplib::Server& server, ServiceContext& ctx) {
  server.set_pre_routing_handler([&ctx](const httplib::Request& req, httplib::Response& res) {
    http::currentFaults() = FaultDecision{};
    // Replies made here come before the request body is read; closing the
    // connection keeps that body from being taken for the next request.
    if (req.path.rfind("/admin/", 0) == 0) {
      if (!http::isLoopback(req.remote_addr)) {
        res.set_header("Connection", "close");
        http::sendError(ctx, res, 403, "the admin API answers on loopback only");
        return httplib::Server::HandlerResponse::Handled;
      }
      if (!constantTimeEqual(req.get_header_value("X-Admin-Token"), ctx.adminToken)) {
        res.set_header("Connection", "close");
        http::sendError(ctx, res, 401, "missing or wrong X-Admin-Token");
        return httplib::Server::HandlerResponse::Handled;
      }
      return httplib::Server::HandlerResponse::Unhandled;
    }
    ctx.counters.addRequest(req.path);
    FaultDecision decision = ctx.faults.decide(req.path);
    if (decision.delayMs > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(decision.delayMs));
    if (decision.error) {
      res.set_header("Connection", "close");
      http::sendError(ctx, res, 500, "injected failure");
      return httplib::Server::HandlerResponse::Handled;
    }
    http::currentFaults() = decision;
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_logger([&ctx](const httplib::Request& req, const httplib::Response& res) {
    if (req.path.rfind("/admin/", 0) != 0)
      ctx.counters.addBytes(req.path, req.body.size(), res.body.size());
    // Every refusal gets a line; successes only at debug level.
    LogLevel level = res.status >= 500   ? LogLevel::kWarning
                     : res.status >= 400 ? LogLevel::kInfo
                                         : LogLevel::kDebug;
    logLine(level, "%s %s -> %d", req.method.c_str(), req.path.c_str(), res.status);
  });
  server.set_error_handler([&ctx](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) http::sendError(ctx, res, res.status, "no such endpoint or bad request");
  });
}

void configure(httplib::Server& server, ServiceContext& ctx, bool secure) {
  server.new_task_queue = [] { return new httplib::ThreadPool(kThreadsPerListener); };
  server.set_keep_alive_max_count(10000);
  server.set_keep_alive_timeout(kKeepAliveSeconds);
  server.set_read_timeout(60);
  server.set_write_timeout(60);
  server.set_tcp_nodelay(true);
  // The largest chunk (64 MiB, Tree::validChunkSize) plus room for headers.
  server.set_payload_max_length((int64_t{64} << 20) + (1 << 20));
  installFrontDoor(server, ctx);
  installAdminRoutes(server, ctx, secure);
  installAccountRoutes(server, ctx, secure);
  installDeviceRoutes(server, ctx, secure);
  installFileRoutes(server, ctx, secure);
  if (ctx.notify) installNotifyRoutes(server, ctx, secure);
  if (ctx.putBatch) installBatchRoutes(server, ctx, secure);
  installTransferRoutes(server, ctx, secure);
  installWebRoutes(server, ctx, secure);
}

}  // namespace

std::string normaliseUpdateBase(const std::string& text) {
  std::string base = text;
  while (!base.empty() && base.back() == '/') base.pop_back();
  bool schemeOk = base.rfind("http://", 0) == 0 || base.rfind("https://", 0) == 0;
  size_t hostStart = base.find("://") + 3;
  if (!schemeOk || base.size() <= hostStart) return {};
  for (unsigned char c : base)
    if (c <= 0x20 || c == 0x7f || c == '?' || c == '#') return {};
  return base;
}

int serve(const ServeOptions& options) {
  if (const char* level = getenv("VARNELO_SERVICE_LOG"); level && strcmp(level, "debug") == 0) {
    setLogThreshold(LogLevel::kDebug);
  }
  // A shell starting us in the background may have set SIGINT to "ignore",
  // which would discard it before sigwait could see it.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  // Block the stop signals in every thread; this thread waits for them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  auto ctx = openData(options.dataDir);
  TlsFiles tls;
  if (!ctx || !ctx->chunks.open(options.dataDir, ctx->store.get()) ||
      !ensureTlsIdentity(options.dataDir, &tls)) {
    return 1;
  }
  ctx->verifier.loadNonces();
  ctx->notify = options.notify;
  ctx->inlineLimit = options.inlineContent ? ServiceContext::kSmallFileSize : 0;
  ctx->putBatch = options.batch;
  if (!options.faults.empty()) {
    std::string error;
    if (!ctx->faults.configure(options.faults, &error)) {
      logLine(LogLevel::kError, "bad --faults: %s", error.c_str());
      return 1;
    }
  }

  httplib::Server plain;
  httplib::SSLServer secure(tls.certPath.c_str(), tls.keyPath.c_str());
  if (!secure.is_valid()) {
    logLine(LogLevel::kError, "cannot load the TLS certificate %s", tls.certPath.c_str());
    return 1;
  }
  configure(plain, *ctx, false);
  configure(secure, *ctx, true);

  auto bind = [&](httplib::Server& server, int port) {
    if (port == 0) return server.bind_to_any_port(options.host);
    return server.bind_to_port(options.host, port) ? port : -1;
  };
  int httpPort = bind(plain, options.httpPort);
  int httpsPort = httpPort < 0 ? -1 : bind(secure, options.httpsPort);
  if (httpPort < 0 || httpsPort < 0) {
    logLine(LogLevel::kError, "cannot listen on %s (http %d, https %d)", options.host.c_str(),
            options.httpPort, options.httpsPort);
    return 1;
  }

  if (!options.updateBase.empty()) {
    ctx->updateBaseHttp = ctx->updateBaseHttps = options.updateBase;
  } else {
    // A wildcard address names no host a client could reach; loopback is
    // the one address it surely listens on.
    std::string host = options.host;
    if (host == "0.0.0.0" || host == "::" || host.empty()) {
      logLine(LogLevel::kWarning,
              "listening on every address: update URLs name 127.0.0.1 (set --update-base)");
      host = "127.0.0.1";
    }
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    ctx->updateBaseHttp = "http://" + host + ":" + std::to_string(httpPort);
    ctx->updateBaseHttps = "https://" + host + ":" + std::to_string(httpsPort);
  }

  std::atomic<bool> stopping{false};
  // Guards listenersDone, which counts listener threads that have returned.
  std::mutex doneMutex;
  std::condition_variable doneChanged;
  int listenersDone = 0;
  auto run = [&](httplib::Server& server) {
    server.listen_after_bind();
    // A listener that ends on its own wakes the main thread to stop the other.
    if (!stopping.load()) kill(getpid(), SIGTERM);
    std::lock_guard<std::mutex> lock(doneMutex);
    ++listenersDone;
    doneChanged.notify_all();
  };
  std::thread httpThread(run, std::ref(plain));
  std::thread httpsThread(run, std::ref(static_cast<httplib::Server&>(secure)));

  printf("varnelo-service listening http=%d https=%d\n", httpPort, httpsPort);
  fflush(stdout);
  logLine(LogLevel::kInfo, "serving %s on %s (http %d, https %d)", options.dataDir.c_str(),
          options.host.c_str(), httpPort, httpsPort);

  int signalNumber = 0;
  sigwait(&stopSignals, &signalNumber);
  stopping = true;
  logLine(LogLevel::kInfo, "stopping on signal %d", signalNumber);
  // Waiting notification requests are answered now rather than held past
  // the grace period.
  ctx->feed.close();
  plain.stop();
  secure.stop();
  // Requests in flight get a few seconds to finish; idle keep-alive
  // connections end within the keep-alive timeout. A client that holds a
  // request open longer does not keep the service from stopping: the process
  // then ends without joining (SQLite's WAL keeps the database consistent).
  std::unique_lock<std::mutex> lock(doneMutex);
  if (!doneChanged.wait_for(lock, std::chrono::seconds(kStopGraceSeconds),
                            [&] { return listenersDone == 2; })) {
    logLine(LogLevel::kWarning, "requests still running after %d s; exiting without them",
            kStopGraceSeconds);
    ctx->verifier.saveNonces();
    fflush(stderr);
    std::_Exit(0);
  }
  lock.unlock();
  httpThread.join();
  httpsThread.join();
  ctx->chunks.close();
  ctx->verifier.saveNonces();
  logLine(LogLevel::kInfo, "stopped");
  return 0;
}

int addUser(const AddUserOptions& options) {
  auto ctx = openData(options.dataDir);
  if (!ctx) return 1;
  User user;
  if (!ctx->accounts.upsertUser(options.user, options.password, options.provider, options.state,
                                options.quota, &user)) {
    logLine(LogLevel::kError, "cannot add user [%s]: check provider, state and quota",
            options.user.c_str());
    return 1;
  }
  printf("user %s (id %lld, %s, %s, quota %lld)\n", user.name.c_str(),
         static_cast<long long>(user.id), user.provider.c_str(), user.state.c_str(),
         static_cast<long long>(user.quota));
  return 0;
}

int publishUpdate(const PublishUpdateOptions& options) {
  std::ifstream in(options.installerPath, std::ios::binary);
  std::string installer((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    logLine(LogLevel::kError, "cannot read the installer [%s]", options.installerPath.c_str());
    return 1;
  }
  auto ctx = openData(options.dataDir);
  if (!ctx) return 1;
  if (!ctx->updates.publish(options.version, installer)) {
    logLine(LogLevel::kError, "cannot publish version [%s]", options.version.c_str());
    return 1;
  }
  printf("published %s (%zu bytes); manifests are signed with the key %s\n",
         options.version.c_str(), installer.size(), ctx->signing.publicKey().c_str());
  return 0;
}

}  // namespace varnelo::service
