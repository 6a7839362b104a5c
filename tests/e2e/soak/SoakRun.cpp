#include "SoakRun.h"

#include <json/json.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "Consumer.h"
#include "ServiceProcess.h"
#include "SoakComputer.h"
#include "SoakEdges.h"
#include "SoakTree.h"
#include "SoakWorkload.h"
#include "varnelo/account.h"

namespace varnelo::soak {
namespace {

using Clock = std::chrono::steady_clock;

// Files that may leave their paths in one round, all computers together:
// well below the engines' big-delete guard (more than 20 files and 30 %).
constexpr int kDeletionBudget = 10;
// A wait between two operations for an engine's next remote pass.
constexpr int kTickTimeoutMs = 10000;
// How long a killed engine waits for a transfer before it is killed anyway.
constexpr int kKillWaitMs = 3000;
constexpr int kPollMs = 50;
// Idle engines over unchanged, differing trees for this long: a failure.
constexpr int kStuckMs = 15000;

std::string faultPlan(uint64_t draw) {
  const std::string seed = std::to_string(draw % 1000000);
  return "seed=" + seed +
         ";*:error=0.03,drop=0.02,delay=0.1,delayMs=25"
         ";/get:error=0.03,drop=0.03"
         ";/data:error=0.05,drop=0.05,flip=0.03"
         ";/chunk:error=0.05,drop=0.03"
         ";/2/put:error=0.05,drop=0.04"
         ";/2/put_batch:error=0.05,drop=0.04"
         ";/prepare_put:error=0.03,drop=0.03"
         ";/commit_put:error=0.04,drop=0.04"
         ";/delete:error=0.04,drop=0.04"
         ";/mkdir:error=0.03,drop=0.03";
}

template <class Condition>
bool waitFor(Condition condition, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  return true;
}

// A stretch of a round during which one computer's engine is off or paused:
// after operation `from` (-1: none this round) until operation `to`.
struct Spell {
  int from = -1;
  int to = -1;
  bool flag = false;  // what the kind of stretch leaves to chance
};

// One draw per computer, whether or not `enabled`, so that turning a kind of
// stretch off leaves every later draw of `random` as it was.
std::vector<Spell> drawSpells(std::mt19937_64& random, int computers, bool enabled, int percent,
                              int ops) {
  std::vector<Spell> out(computers);
  for (Spell& spell : out) {
    const uint64_t draw = random();
    if (!enabled || draw % 100 >= static_cast<uint64_t>(percent)) continue;
    spell.from = static_cast<int>((draw >> 8) % static_cast<uint64_t>(ops));
    spell.to = spell.from + 1 + static_cast<int>((draw >> 24) % static_cast<uint64_t>(ops));
    spell.flag = (draw >> 40) % 2 == 1;
  }
  return out;
}

class Run {
 public:
  explicit Run(const SoakOptions& options)
      : options_(options),
        random_(options.seed),
        pauseRandom_(options.seed ^ 0x9e3779b97f4a7c15ull),
        workload_(options.seed, random_, ledger_, mix()),
        edges_(random_, workload_, computers_) {}
  ~Run() {
    computers_.clear();  // engines first, while the service still answers
    edges_.unmount();
    if (!work_.empty() && !options_.keep) removeWork();
  }

  SoakResult go();

 private:
  WorkloadMix mix() const {
    WorkloadMix m;
    m.caseNames = options_.caseNames;
    return m;
  }
  bool setUp();
  bool round(int number);
  bool settle(int number);
  bool check(int number);
  bool startAll();
  Tree remoteTree();
  std::set<std::string> unsupported(const SoakComputer& pc) const {
    const auto paths = pc.unsupportedPaths();
    return {paths.begin(), paths.end()};
  }
  void fail(const std::string& why) {
    if (failure_.empty()) failure_ = why;
  }
  void progress(const std::string& line) {
    if (options_.progress) *options_.progress << line << std::endl;
  }
  std::string report() const;
  void removeWork() {
    std::error_code ec;
    std::filesystem::remove_all(work_, ec);
    if (ec) progress("could not remove " + work_ + ": " + ec.message());
  }

  SoakOptions options_;
  std::mt19937_64 random_;
  std::mt19937_64 pauseRandom_;  // pauses only
  Ledger ledger_;
  Workload workload_;
  std::unique_ptr<test::ServiceProcess> service_;
  std::string user_ = "soak", key_, secret_;
  std::string work_;
  std::vector<std::unique_ptr<SoakComputer>> computers_;
  Edges edges_;
  int round_ = 0;
  std::string failure_;
  std::vector<std::string> details_;
};

bool Run::setUp() {
  service_ =
      std::make_unique<test::ServiceProcess>(test::ServiceProcess::Options{"", 30000, false});
  if (!service_->started()) {
    fail("the service did not start: " + service_->error());
    return false;
  }
  service_->exportEnvironment();
  unsetenv("USE_HTTPS");
  // Remote passes and retries at test speed, inherited by the engines.
  setenv("VARNELO_REMOTE_POLL_MS", "250", 1);
  setenv("VARNELO_RETRY_INTERVAL_MS", "1000", 1);
  if (!service_->addUser(user_, "pw")) {
    fail("cannot add the account");
    return false;
  }
  varnelo_token_pair* token = nullptr;
  if (varnelo_auth_quick_token(user_.c_str(), "pw", &http::client_consumer(), &token, nullptr) !=
          200 ||
      !token) {
    fail("cannot sign in");
    return false;
  }
  key_ = token->key;
  secret_ = token->secret;
  varnelo_destroy_inner_token(token);
  char pattern[] = "/tmp/varnelo-soak-XXXXXX";
  if (!mkdtemp(pattern)) {
    fail("cannot make the work folder");
    return false;
  }
  work_ = pattern;
  const int count =
      options_.computers > 0 ? options_.computers : 2 + static_cast<int>(random_() % 2);
  for (int i = 0; i < count; ++i) {
    // With the edge cases, the last computer's sync folder lies deeper.
    const bool deep = options_.edges && i == count - 1;
    computers_.push_back(std::make_unique<SoakComputer>(i, work_, user_, key_, secret_,
                                                        deep ? Edges::deepNesting() : ""));
  }
  std::string why;
  if (options_.edges) {
    const bool mounts = options_.mounts && privateMountsAvailable();
    if (!edges_.setUp(mounts, &why)) {
      fail("setting up the edge cases failed: " + why);
      return false;
    }
    if (options_.mounts && !mounts) {
      enterPrivateMounts(&why);
      progress("seed " + std::to_string(options_.seed) + ": no sub-folder mount (" + why + ")");
    }
  }
  return true;
}

bool Run::startAll() {
  for (auto& pc : computers_) {
    if (!pc->running() && !pc->start()) {
      fail("engine start failed: " + pc->error());
      return false;
    }
  }
  return true;
}

Tree Run::remoteTree() {
  Json::Value dump;
  Tree out;
  if (!service_->dumpTree(user_, &dump)) return out;
  for (const auto& e : dump["entries"]) {
    std::string path = e["path"].asString();
    if (path.rfind("home/", 0) != 0) continue;
    path = path.substr(5);
    out[path] = e["type"].asInt() == 2
                    ? "D"
                    : "F " + std::to_string(e["size"].asInt64()) + " " + e["sha1"].asString();
  }
  return out;
}

SoakResult Run::go() {
  SoakResult result;
  if (setUp()) {
    workload_.beginRound(0, std::vector<Tree>(computers_.size()), kDeletionBudget);
    const int folders = 3 + static_cast<int>(random_() % 3);
    const int files = 12 + static_cast<int>(random_() % 10);
    workload_.populate(*computers_[0], folders, files);
    const auto started = Clock::now();
    if (startAll() && settle(0) && check(0)) {
      progress(
          "seed " + std::to_string(options_.seed) +
          " round 0: " + std::to_string(computers_.size()) + " computers converged in " +
          std::to_string(
              std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count()) +
          " s");
      for (int r = 1; r <= options_.rounds; ++r) {
        if (!round(r)) break;
        result.roundsPassed = r;
      }
    }
  }
  result.passed = failure_.empty();
  if (!result.passed) result.report = report();
  return result;
}

bool Run::round(int number) {
  round_ = number;
  const auto started = Clock::now();
  std::vector<Tree> views;
  for (auto& pc : computers_) views.push_back(readLocalTree(pc->root()));
  workload_.beginRound(number, views, kDeletionBudget);
  const int k = static_cast<int>(computers_.size());
  const int ops =
      options_.minOps +
      static_cast<int>(random_() % static_cast<uint64_t>(options_.maxOps - options_.minOps + 1));
  const bool faults = random_() % 10 < 7 && options_.faults;
  const std::string plan = faultPlan(random_());
  // Per computer: the operation after which it is killed (-1 never), when it
  // starts again (at or after `ops`: when the round settles), and whether
  // the kill waits for a transfer in flight.
  const std::vector<Spell> kill = drawSpells(random_, k, options_.kills, 35, ops);
  // The same for pauses: when it is paused and resumed, and whether every
  // folder is listed again then.
  const std::vector<Spell> pause = drawSpells(pauseRandom_, k, options_.pauses, 40, ops);
  std::string kills;
  for (int i = 0; i < k; ++i) {
    if (kill[i].from >= 0)
      kills += " pc" + std::to_string(i) + "@" + std::to_string(kill[i].from) +
               (kill[i].flag ? "(in flight)" : "");
  }
  std::string pauses;
  for (int i = 0; i < k; ++i) {
    if (pause[i].from >= 0)
      pauses += " pc" + std::to_string(i) + "@" + std::to_string(pause[i].from) + "-" +
                std::to_string(pause[i].to);
  }
  workload_.note(*computers_[0], "round " + std::to_string(number) + ": " + std::to_string(ops) +
                                     " operations, faults " + (faults ? plan : "off") + ", kills" +
                                     (kills.empty() ? " none" : kills) +
                                     (pauses.empty() ? "" : ", pauses" + pauses));
  if (faults && !service_->setFaults(plan)) {
    fail("the service refused the fault plan " + plan);
    return false;
  }
  for (int op = 0; op < ops; ++op) {
    SoakComputer& pc = *computers_[random_() % static_cast<uint64_t>(k)];
    workload_.step(pc);
    std::string why;
    if (options_.edges && !edges_.step(&why)) {
      fail("round " + std::to_string(number) + ": " + why);
      return false;
    }
    for (int i = 0; i < k; ++i) {
      SoakComputer& victim = *computers_[i];
      if (kill[i].from == op && victim.running()) {
        if (kill[i].flag) {
          waitFor(
              [&] {
                EngineState s;
                return !victim.state(&s) || s.inFlight > 0;
              },
              kKillWaitMs);
        }
        victim.kill();
        workload_.note(victim, "killed");
      }
      if (pause[i].from == op && victim.running() && !victim.paused()) {
        if (!victim.pause()) {
          fail("pc" + std::to_string(i) + ": pausing the engine failed");
          return false;
        }
        workload_.note(victim, "paused");
      }
      if (pause[i].to == op && victim.paused()) {
        if (!victim.resume(pause[i].flag)) {
          fail("pc" + std::to_string(i) + ": resuming the engine failed");
          return false;
        }
        workload_.note(victim, pause[i].flag ? "resumed, every folder listed again" : "resumed");
      }
      if (kill[i].to == op && !victim.running()) {
        if (!victim.start()) {
          fail("engine restart failed: " + victim.error());
          return false;
        }
        workload_.note(victim, "started again");
      }
    }
    const uint64_t tick = random_();
    if (tick % 4 == 0) {
      // Lets the engines act between operations: the next remote pass of one.
      SoakComputer& watched = *computers_[(tick >> 8) % static_cast<uint64_t>(k)];
      EngineState s;
      if (!watched.paused() && watched.state(&s)) {
        const uint64_t passes = s.remotePasses;
        waitFor([&] { return !watched.state(&s) || s.remotePasses > passes; }, kTickTimeoutMs);
      }
    }
  }
  if (faults) service_->setFaults("");
  if (!startAll()) return false;
  for (int i = 0; i < k; ++i) {
    SoakComputer& pc = *computers_[i];
    if (!pc.paused()) continue;
    if (!pc.resume(pause[i].flag)) {
      fail("pc" + std::to_string(i) + ": resuming the engine failed");
      return false;
    }
    workload_.note(pc, "resumed as the round settles");
  }
  std::string why;
  if (options_.edges && !edges_.settle(&why)) {
    fail("round " + std::to_string(number) + ": " + why);
    return false;
  }
  if (!settle(number) || !check(number)) return false;
  progress("seed " + std::to_string(options_.seed) + " round " + std::to_string(number) + ": " +
           std::to_string(ops) + " operations" + (faults ? ", faults" : "") +
           (kills.empty() ? "" : ", kills" + kills) + (pauses.empty() ? "" : ", pauses" + pauses) +
           ", converged in " +
           std::to_string(
               std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count()) +
           " s");
  return true;
}

bool Run::settle(int number) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(options_.settleTimeoutMs);
  std::vector<std::string> lastProblems;
  std::string lastStates;
  // Sides that differ while every engine stays idle over this long will not
  // come together any more (nothing is queued to change them).
  std::vector<Tree> stuckTrees;
  Tree stuckRemote;
  auto stuckSince = Clock::now();
  while (Clock::now() < deadline) {
    bool quiet = true;
    std::vector<uint64_t> passes;
    lastStates.clear();
    for (auto& pc : computers_) {
      EngineState s;
      if (!pc->state(&s)) {
        fail("round " + std::to_string(number) + ": the engine of pc" +
             std::to_string(pc->index()) + " stopped answering (crashed?)");
        std::ifstream err(pc->dataFolder() + "/child.stderr");
        details_.push_back("pc" + std::to_string(pc->index()) + " stderr:\n" +
                           std::string(std::istreambuf_iterator<char>(err), {}));
        return false;
      }
      if (s.folderUnavailable || s.heldDeletions > 0) {
        // Neither may happen here: the folders stay put and each round
        // deletes far less than the guard's share.
        fail("round " + std::to_string(number) + ": the engine of pc" +
             std::to_string(pc->index()) +
             (s.folderUnavailable ? " holds everything: its sync folder reads as unavailable"
                                  : " holds " + std::to_string(s.heldDeletions) + " deletions"));
        return false;
      }
      lastStates += " pc" + std::to_string(pc->index()) + "{scans " + std::to_string(s.localScans) +
                    ", passes " + std::to_string(s.remotePasses) + ", queued " +
                    std::to_string(s.queued) + ", retrying " + std::to_string(s.retrying) +
                    ", in flight " + std::to_string(s.inFlight) +
                    (s.converged ? ", converged}" : "}");
      quiet = quiet && s.converged;
      passes.push_back(s.remotePasses);
    }
    if (quiet) {
      const Tree remote = remoteTree();
      std::vector<Tree> trees;
      lastProblems.clear();
      for (auto& pc : computers_) {
        trees.push_back(readLocalTree(pc->root()));
        for (const std::string& p : compareWithRemote(trees.back(), remote, unsupported(*pc)))
          lastProblems.push_back("pc" + std::to_string(pc->index()) + " " + p);
      }
      if (lastProblems.empty()) {
        // Still so after two more passes of every engine: nothing was on its way.
        const bool again = waitFor(
            [&] {
              for (size_t i = 0; i < computers_.size(); ++i) {
                EngineState s;
                if (!computers_[i]->state(&s) || !s.converged || s.remotePasses < passes[i] + 2)
                  return false;
              }
              return true;
            },
            30000);
        bool same = again && remoteTree() == remote;
        for (size_t i = 0; same && i < computers_.size(); ++i)
          same = readLocalTree(computers_[i]->root()) == trees[i];
        if (same) return true;
      } else if (trees == stuckTrees && remote == stuckRemote) {
        if (Clock::now() - stuckSince > std::chrono::milliseconds(kStuckMs)) {
          fail("round " + std::to_string(number) + ": the engines are idle but the sides differ");
          details_.push_back("engines:" + lastStates);
          std::string problems = "differences:";
          for (const std::string& p : lastProblems) problems += "\n  " + p;
          details_.push_back(problems);
          return false;
        }
      } else {
        stuckTrees = trees;
        stuckRemote = remote;
        stuckSince = Clock::now();
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // polling the engines
  }
  fail("round " + std::to_string(number) + ": no convergence within " +
       std::to_string(options_.settleTimeoutMs / 1000) + " s");
  details_.push_back("engines:" + lastStates);
  std::string problems = "differences when last all quiet:";
  for (size_t i = 0; i < lastProblems.size() && i < 60; ++i) problems += "\n  " + lastProblems[i];
  if (lastProblems.size() > 60) problems += "\n  ...";
  details_.push_back(problems);
  return false;
}

bool Run::check(int number) {
  const Tree remote = remoteTree();
  std::set<std::string> present;
  std::vector<std::string> problems;
  auto known = [&](const std::string& where, const std::string& path, const std::string& what) {
    const std::string hash = entryHash(what);
    if (!hash.empty() && hash != sha1Hex("") && !ledger_.known(hash))
      problems.push_back(where + " '" + path + "' holds bytes nobody wrote (" + what + ")");
  };
  for (const auto& [path, what] : remote) {
    present.insert(entryHash(what));
    known("service", path, what);
    for (size_t start = 0; start <= path.size();) {
      size_t slash = path.find('/', start);
      if (slash == std::string::npos) slash = path.size();
      const std::string name = path.substr(start, slash - start);
      if (!workload_.names().count(name) && !workload_.names().count(nameBeforeConflict(name)))
        problems.push_back("service: unexpected name '" + name + "' in '" + path + "'");
      start = slash + 1;
    }
  }
  for (auto& pc : computers_) {
    const auto skip = unsupported(*pc);
    for (const auto& [path, what] : readLocalTree(pc->root())) {
      known("pc" + std::to_string(pc->index()), path, what);
      if (isUnsupported(path, skip)) present.insert(entryHash(what));
    }
  }
  for (const auto& [hash, origin] : ledger_.survivors()) {
    if (!present.count(hash))
      problems.push_back("lost " + hash.substr(0, 8) + ", written in round " +
                         std::to_string(origin.round) + " on pc" + std::to_string(origin.pc) +
                         ": " + origin.what);
  }
  if (problems.empty()) return true;
  fail("round " + std::to_string(number) + ": converged, but " + std::to_string(problems.size()) +
       " problems");
  std::string text = "problems:";
  for (const std::string& p : problems) text += "\n  " + p;
  details_.push_back(text);
  return false;
}

std::string Run::report() const {
  std::ostringstream out;
  out << "soak seed " << options_.seed << " FAILED: " << failure_ << "\n";
  out << "replay: VARNELO_SOAK_SEED=" << options_.seed << " soak_tests, or varnelo_soak "
      << describe(options_) << "\n";
  if (!work_.empty())
    out << "work folder: " << work_ << (options_.keep ? " (kept)" : " (removed; --keep keeps it)")
        << "\n";
  for (const std::string& d : details_) out << d << "\n";
  out << "operations:\n";
  for (const std::string& line : workload_.log()) out << "  " << line << "\n";
  for (const auto& pc : computers_) {
    out << "pc" << pc->index() << " last events (" << pc->dataFolder() << "/events.log):\n";
    for (const std::string& line : pc->eventTail(25)) out << "  " << line << "\n";
  }
  return out.str();
}

}  // namespace

std::string describe(const SoakOptions& o) {
  std::string out = "--seed " + std::to_string(o.seed) + " --rounds " + std::to_string(o.rounds);
  if (o.computers > 0) out += " --computers " + std::to_string(o.computers);
  if (o.minOps != 8 || o.maxOps != 20)
    out += " --ops " + std::to_string(o.minOps) + "-" + std::to_string(o.maxOps);
  if (!o.faults) out += " --no-faults";
  if (!o.kills) out += " --no-kills";
  if (o.pauses) out += " --pauses";
  if (!o.caseNames) out += " --no-case";
  if (!o.edges) out += " --no-edges";
  if (o.edges && !o.mounts) out += " --no-mounts";
  return out;
}

SoakResult runSoak(const SoakOptions& options) {
  Run run(options);
  return run.go();
}

}  // namespace varnelo::soak
