// sync: mounts the folder, starts the engine and stays in the foreground
// until Ctrl-C, SIGTERM, the time limit or (with --once) convergence.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "ClientState.h"
#include "Commands.h"
#include "Engine.h"
#include "HeldText.h"
#include "Messages.h"
#include "SignedIn.h"
#include "SyncEvents.h"
#include "SyncProgress.h"
#include "platform/files.h"
#include "varnelo/SyncState.h"

namespace varnelo::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTickMs = 250;
// With --once the engine's state is read this often, so the command ends
// as soon as both sides agree; the status line is still drawn every kTickMs.
constexpr int kOnceTickMs = 10;
constexpr size_t kStatusWidth = 100;
constexpr auto kStartGrace = std::chrono::seconds(10);
// Held entries named in one message; the rest are counted.
constexpr size_t kHeldShown = 20;

// SIGINT and SIGTERM are blocked in every thread (the engine's threads
// inherit the mask from this one) and taken synchronously by the loop, so no
// handler runs in the middle of the engine's work.
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
  }
  ~StopSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Waits up to `ms` for a stop signal; its number, or 0.
  int wait(int ms) {
    struct timespec timeout {
      ms / 1000, (ms % 1000) * 1000000L
    };
    int number = sigtimedwait(&set_, nullptr, &timeout);
    return number > 0 ? number : 0;
  }

 private:
  sigset_t set_;
  sigset_t previous_;
};

std::string absoluteFolder(const std::string& folder) {
  std::error_code ec;
  std::string path = std::filesystem::absolute(folder, ec).lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return ec ? folder : path;
}

std::string timestamp() {
  time_t now = time(nullptr);
  struct tm local {};
  char text[32] = "";
  if (localtime_r(&now, &local)) strftime(text, sizeof(text), "%H:%M:%S", &local);
  return text;
}

ProgressSnapshot snapshot(IVarnelo2& engine, const SyncEvents& events, bool inStep) {
  ProgressSnapshot s;
  s.engineState = events.engineState();
  s.inStep = inStep;
  s.uploaded = events.uploadedCount();
  s.downloaded = events.downloadedCount();
  s.failed = events.failures().size();
  IVarneloStatus* raw = nullptr;
  if (engine.getStatus(&raw) == 200 && raw) {
    StatusPtr status(raw);
    s.uploadSpeed = status->uploadSpeed();
    s.downloadSpeed = status->downloadSpeed();
    if (const char* file = status->currentFile()) s.currentFile = file;
    s.currentTotal = status->currentTotal();
    s.currentDone = status->currentDone();
  }
  return s;
}

// The folder to sync, made when it is new. A folder that was synced before
// and is now missing (an unmounted disk, a moved folder) is not recreated:
// an empty folder would look like a deletion of everything.
bool prepareFolder(const std::string& folder, const std::string& mounted) {
  if (platform::files::isDirectory(folder)) return true;
  if (platform::files::exists(folder)) {
    // A link is not followed: the folder it leads to is named instead, so
    // that a changed link can never point the sync at another tree.
    std::error_code ec;
    const auto target = std::filesystem::canonical(folder, ec);
    if (!ec && std::filesystem::is_symlink(folder, ec) && std::filesystem::is_directory(target, ec))
      fprintf(stderr, "varnelocmd: %s is a link; give the folder it leads to: --folder '%s'\n",
              folder.c_str(), target.c_str());
    else
      fprintf(stderr, "varnelocmd: %s is not a folder\n", folder.c_str());
    return false;
  }
  if (folder == mounted) {
    fprintf(stderr,
            "varnelocmd: the sync folder %s is missing (not mounted?); nothing was synced or "
            "deleted. Mount or recreate it and run again.\n",
            folder.c_str());
    return false;
  }
  if (std::error_code ec = platform::files::createDirectories(folder)) {
    fprintf(stderr, "varnelocmd: cannot create %s: %s\n", folder.c_str(), ec.message().c_str());
    return false;
  }
  return true;
}

// The command line that goes on from here: this one with `flag` added.
std::string goOnCommand(const Command& command, const std::string& folder, const char* flag) {
  std::string line = "varnelocmd";
  if (!command.dataDir.empty()) line += " --data '" + command.dataDir + "'";
  line += " sync --folder '" + folder + "'";
  if (command.once) line += " --once";
  if (command.uploadOnly) line += " --upload-only";
  return line + " " + flag;
}

}  // namespace

int runSync(const Command& command, const std::string& dataFolder) {
  std::string folder = absoluteFolder(command.folder);
  StopSignals signals;
  SyncEvents events(folder);

  EnginePtr engine;
  int32_t rc = openEngine(dataFolder, &engine);
  if (rc != 200) {
    fprintf(stderr, "varnelocmd: %s\n", failure("opening the engine", rc).c_str());
    return 1;
  }
  engine->setEventSink(&events);
  rc = engine->loginWithSavedToken(&consumer());
  if (rc != 200) {
    fprintf(stderr, "varnelocmd: %s\n",
            isNotSignedIn(rc) ? "not signed in; run `varnelocmd login --user NAME --password PW`"
                              : failure("signing in", rc).c_str());
    return 1;
  }
  std::string mounted = mountedFolder(*engine);
  if (!prepareFolder(folder, mounted)) return 1;
  // The journal describes the folder it was made for; a different folder
  // starts from a full comparison instead of taking every missing file for
  // a deletion.
  // --relink adopts a folder the engine reported as not the one synced
  // before in the same way: the journal goes, nothing is deleted.
  bool resync = (!mounted.empty() && mounted != folder) || command.relink;
  if ((rc = engine->mountVolume("/home", folder.c_str())) != 200) {
    fprintf(stderr, "varnelocmd: %s\n", failure("setting up " + folder, rc).c_str());
    return 1;
  }
  engine->setSyncMode(command.uploadOnly ? kEngineUploadOnly : kEngineTwoWay);
  std::string cacheFolder = platform::files::joinPath(dataFolder, "cache");
  platform::files::createDirectories(cacheFolder, 0700);
  IChunkCache* cache = engine->getChunkCache();
  bool cacheOpen = cache && cache->open(platform::files::joinPath(dataFolder, "chunk.db").c_str(),
                                        cacheFolder.c_str()) == 200;
  if (!cacheOpen) {
    fprintf(stderr,
            "varnelocmd: warning: the chunk index cannot be opened; downloads will not "
            "reuse local data\n");
  }
  if ((rc = engine->startSync(resync)) != 200) {
    fprintf(stderr, "varnelocmd: %s\n", failure("starting the sync", rc).c_str());
    if (cacheOpen) cache->close();
    return 1;
  }
  const bool terminal = isatty(STDOUT_FILENO);
  printf("Syncing %s%s%s. %s\n", folder.c_str(), command.uploadOnly ? " (upload only)" : "",
         command.relink ? " (relinked: full comparison, nothing is deleted)"
         : resync       ? " (new folder: full comparison)"
                        : "",
         command.once ? "Stops when both sides agree." : "Press Ctrl-C to stop.");
  fflush(stdout);

  const auto started = Clock::now();
  bool inStep = false;
  bool stuck = false;
  bool timedOut = false;
  int signal = 0;
  bool wasInStep = false;
  bool seenRunning = false;
  bool engineEnded = false;
  bool unavailable = false;
  bool unavailableShown = false;
  uint64_t held = 0;
  std::vector<HeldPath> heldList;  // what `held` counts, read when the count changes
  auto lastDrawn = Clock::time_point();
  while (true) {
    varnelo_sync_state state{};
    bool known = varnelo_get_sync_state2(engine.get(), &state) == 200;
    varnelo_sync_holds holds{};
    varnelo_get_sync_holds2(engine.get(), &holds);
    unavailable = holds.folderUnavailable != 0;
    if (unavailable && !unavailableShown && !command.once) {
      // The engine waits for the folder and goes on by itself.
      printf("%s the folder is unavailable; waiting for it to come back (or stop and run `%s`)\n",
             timestamp().c_str(), goOnCommand(command, folder, "--relink").c_str());
    }
    unavailableShown = unavailable;
    if (holds.heldDeletions > 0 && command.allowDeletes) {
      if (varnelo_confirm_deletions2(engine.get()) == 200) {
        printf("%s carrying out %llu held deletions (--allow-deletes)\n", timestamp().c_str(),
               static_cast<unsigned long long>(holds.heldDeletions));
      }
      holds.heldDeletions = 0;
    }
    if (holds.heldDeletions > 0 && command.restoreHeld) {
      const std::vector<HeldPath> kept = heldPaths(*engine);
      if (varnelo_restore_deletions2(engine.get()) == 200) {
        printf("%s bringing back %llu held deletions (--restore-held)\n", timestamp().c_str(),
               static_cast<unsigned long long>(holds.heldDeletions));
        for (const std::string& line : heldLines(kept, kHeldShown)) printf("  %s\n", line.c_str());
      }
      holds.heldDeletions = 0;
    }
    if (holds.heldDeletions != held) heldList = heldPaths(*engine);
    if (holds.heldDeletions > 0 && held == 0) {
      if (!command.once) {
        printf(
            "%s %llu deletions held back (a large part of the files); to carry them out, "
            "stop and run `%s`, or to bring them back, `%s`\n",
            timestamp().c_str(), static_cast<unsigned long long>(holds.heldDeletions),
            goOnCommand(command, folder, "--allow-deletes").c_str(),
            goOnCommand(command, folder, "--restore-held").c_str());
        for (const std::string& line : heldLines(heldList, kHeldShown))
          printf("  %s\n", line.c_str());
      }
    }
    held = holds.heldDeletions;
    // Held deletions end a --once run when everything else is done.
    const bool onlyHeldLeft = held > 0 && holds.restInStep;
    OnceProgress progress = known ? onceProgress(state, command.uploadOnly) : OnceProgress::Working;
    inStep = progress == OnceProgress::InStep;
    stuck = progress == OnceProgress::Stuck;

    std::vector<std::string> lines = events.takeLines();
    if (terminal) {
      if (!lines.empty()) printf("\r\033[K");
      for (const std::string& line : lines) printf("%s\n", line.c_str());
      if (!lines.empty() || Clock::now() - lastDrawn >= std::chrono::milliseconds(kTickMs)) {
        printf("\r\033[K%s",
               formatStatusLine(snapshot(*engine, events, inStep), kStatusWidth).c_str());
        lastDrawn = Clock::now();
      }
    } else {
      for (const std::string& line : lines) printf("%s %s\n", timestamp().c_str(), line.c_str());
      if (inStep && !wasInStep) {
        printf("%s in step: %llu up, %llu down\n", timestamp().c_str(),
               static_cast<unsigned long long>(events.uploadedCount()),
               static_cast<unsigned long long>(events.downloadedCount()));
      }
    }
    fflush(stdout);
    wasInStep = inStep;

    // The engine's sync ended by itself (a journal it cannot use, say). A
    // thread that has not shown up within the grace period counts as ended.
    if (known && state.running) seenRunning = true;
    if (known && !state.running && (seenRunning || Clock::now() - started > kStartGrace)) {
      engineEnded = true;
      break;
    }
    if (command.once && (inStep || stuck || unavailable || onlyHeldLeft)) break;
    if (command.timeoutSeconds > 0 &&
        Clock::now() - started >= std::chrono::seconds(command.timeoutSeconds)) {
      timedOut = true;
      break;
    }
    if ((signal = signals.wait(command.once ? kOnceTickMs : kTickMs)) != 0) break;
  }
  if (terminal) printf("\n");
  printf("Stopping...\n");
  fflush(stdout);
  engine->stopSync(false);
  for (const std::string& line : events.takeLines()) printf("%s\n", line.c_str());
  if (cacheOpen) cache->close();

  std::vector<std::string> failed = events.failures();
  ClientState state = loadClientState(dataFolder);
  state.last.finishedAt = static_cast<int64_t>(time(nullptr));
  state.last.inStep = inStep && failed.empty();
  state.last.uploaded = events.uploadedCount();
  state.last.downloaded = events.downloadedCount();
  state.last.failed = failed;
  state.last.note = signal        ? "stopped by signal"
                    : timedOut    ? "stopped after --timeout"
                    : stuck       ? "files wait for a retry"
                    : engineEnded ? "the engine ended the sync"
                    : unavailable ? "the sync folder was unavailable"
                    : held        ? "deletions held back"
                                  : "";
  state.last.folderUnavailable = unavailable;
  state.last.heldDeletions = held;
  state.last.held = held > 0 ? heldList : std::vector<HeldPath>{};
  saveClientState(dataFolder, state);

  printf("%llu up, %llu down, %zu failed.\n", static_cast<unsigned long long>(state.last.uploaded),
         static_cast<unsigned long long>(state.last.downloaded), failed.size());
  for (const std::string& f : failed) fprintf(stderr, "failed: %s\n", f.c_str());
  if (!command.once) return failed.empty() ? 0 : 1;
  if (inStep && failed.empty() && held == 0) {
    printf("In step.\n");
    return 0;
  }
  if (unavailable) {
    fprintf(stderr,
            "varnelocmd: %s is missing or is not the folder synced before (an unmounted disk, "
            "a replaced folder, or its marker file .varnelo-root is gone); nothing was synced or "
            "deleted. Mount it and run again, or take the folder as it is now with `%s` (both "
            "sides are compared in full and nothing is deleted).\n",
            folder.c_str(), goOnCommand(command, folder, "--relink").c_str());
  } else if (held > 0) {
    fprintf(stderr,
            "varnelocmd: %llu deletions were held back: this sync would delete a large part of "
            "the files (by default more than 30 %% of them and more than 20, or a whole "
            "top-level folder of more than 1,000); nothing was deleted and everything else is "
            "in step. If you meant "
            "to delete them, run `%s`; to bring them back, run `%s`.\n",
            static_cast<unsigned long long>(held),
            goOnCommand(command, folder, "--allow-deletes").c_str(),
            goOnCommand(command, folder, "--restore-held").c_str());
    for (const std::string& line : heldLines(heldList, kHeldShown))
      fprintf(stderr, "  %s\n", line.c_str());
  } else if (timedOut) {
    fprintf(stderr, "varnelocmd: not in step after %d s\n", command.timeoutSeconds);
  } else if (signal) {
    fprintf(stderr, "varnelocmd: stopped before both sides agreed\n");
  } else if (engineEnded) {
    fprintf(stderr,
            "varnelocmd: the engine ended the sync before both sides agreed (see the log "
            "in %s/log)\n",
            dataFolder.c_str());
  }
  return 1;
}

}  // namespace varnelo::cli
