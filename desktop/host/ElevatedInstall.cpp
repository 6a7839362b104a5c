#include "ElevatedInstall.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "HostLog.h"
#include "InstalledVersion.h"
#include "platform/files.h"

extern char** environ;

namespace varnelo::host {
namespace {

// No installer is this large.
constexpr off_t kMaxInstaller = off_t{2} << 30;

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

// A folder made for one installation, removed with what it holds.
struct PrivateFolder {
  std::string path;
  ~PrivateFolder() {
    if (!path.empty()) platform::files::removeTree(path);
  }
};

bool fail(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
  return false;
}

bool allowed_installer_arg(const std::string& arg) {
  if (arg == "--silent" || arg == "--autoupdate") return true;
  return arg.rfind("--prefix=/", 0) == 0 && arg.find('\n') == std::string::npos;
}

std::optional<int64_t> parse_number(const std::string& text) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return static_cast<int64_t>(strtoll(text.c_str(), nullptr, 10));
}

// Copies `from` (which its owner may still change, swap or make a FIFO)
// into a new file `to` that only we can write: opened without following a
// link and without waiting for a writer, a regular file of bounded size.
bool copy_installer(const std::string& from, const std::string& to, std::string* why) {
  Fd in;
  in.fd = open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (in.fd < 0 || fstat(in.fd, &st) != 0)
    return fail(why, "cannot open " + from + ": " + strerror(errno));
  if (!S_ISREG(st.st_mode) || st.st_size > kMaxInstaller)
    return fail(why, from + " is not an installer file");
  Fd out;
  out.fd = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
  if (out.fd < 0) return fail(why, "cannot create " + to + ": " + strerror(errno));
  char block[65536];
  off_t copied = 0;
  for (;;) {
    ssize_t n = read(in.fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(why, "cannot read " + from + ": " + strerror(errno));
    if (n == 0) break;
    copied += n;
    if (copied > kMaxInstaller) return fail(why, from + " grew past any installer's size");
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out.fd, block + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return fail(why, "cannot write " + to + ": " + strerror(errno));
      done += w;
    }
  }
  if (fsync(out.fd) != 0) return fail(why, "cannot write " + to + ": " + strerror(errno));
  return true;
}

int run_and_wait(const std::vector<std::string>& argv) {
  std::vector<char*> words;
  for (const std::string& w : argv) words.push_back(const_cast<char*>(w.c_str()));
  words.push_back(nullptr);
  pid_t pid = 0;
  if (int rc = posix_spawn(&pid, words[0], nullptr, nullptr, words.data(), environ)) {
    host_log(kHostError, "cannot start %s: %s", argv[0].c_str(), strerror(rc));
    return 1;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

std::vector<std::string> elevated_args(const std::string& installer, const UpdateManifest& facts,
                                       const std::vector<std::string>& installerArgs) {
  std::vector<std::string> args{kElevatedSwitch,
                                installer,
                                facts.version,
                                facts.url,
                                facts.sha256,
                                facts.signature,
                                std::to_string(facts.expires),
                                std::to_string(facts.sequence)};
  args.insert(args.end(), installerArgs.begin(), installerArgs.end());
  return args;
}

std::optional<ElevatedRequest> parse_elevated_args(const std::vector<std::string>& words,
                                                   std::string* why) {
  if (words.size() < 7 || words[0].empty() || words[0][0] != '/') {
    fail(why, "expected: installer version url sha256 signature expires sequence [options]");
    return std::nullopt;
  }
  ElevatedRequest request;
  request.installer = words[0];
  request.facts.version = words[1];
  request.facts.url = words[2];
  request.facts.sha256 = words[3];
  request.facts.signature = words[4];
  auto expires = parse_number(words[5]);
  auto sequence = parse_number(words[6]);
  if (!expires || !sequence) {
    fail(why, "expiry and sequence must be decimal numbers");
    return std::nullopt;
  }
  request.facts.expires = *expires;
  request.facts.sequence = *sequence;
  for (size_t i = 7; i < words.size(); ++i) {
    if (!allowed_installer_arg(words[i])) {
      fail(why, "not an installer option this host passes: " + words[i]);
      return std::nullopt;
    }
    request.installerArgs.push_back(words[i]);
  }
  return request;
}

int install_elevated(const ElevatedRequest& request, const TrustedKeys& keys) {
  // mkdtemp makes the folder 0700 for whoever we are (root under pkexec),
  // under a name nobody could have taken beforehand.
  PrivateFolder folder;
  for (const char* base : {"/var/tmp", "/tmp"}) {
    std::string pattern = std::string(base) + "/varnelo-install-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
      folder.path = pattern;
      break;
    }
  }
  if (folder.path.empty()) {
    host_log(kHostError, "cannot make a private folder for the installer: %s", strerror(errno));
    return 1;
  }
  std::string copy = folder.path + "/Varnelo-Setup.run";
  std::string why;
  if (!copy_installer(request.installer, copy, &why)) {
    host_log(kHostError, "installer refused: %s", why.c_str());
    return 1;
  }
  // Only the copy counts from here on: the user's file may change again.
  auto refused = verify_manifest(request.facts, keys);
  if (!refused) refused = verify_installer(copy, request.facts.sha256);
  if (refused) {
    host_log(kHostError, "installer %s refused: %s", request.installer.c_str(), refused->c_str());
    return 1;
  }
  // The signature binds the version, but an older release is signed as
  // well: whoever may start this (the user, or a program of the user's)
  // must not have root bring back a version with a fault since mended.
  std::string prefix = installer_prefix(request.installerArgs);
  if (auto older = refuse_not_newer(request.facts.version, prefix)) {
    host_log(kHostError, "installer %s refused: %s", request.installer.c_str(), older->c_str());
    return kElevatedNotNewer;
  }
  host_log(kHostInfo, "installing version %s as uid %u", request.facts.version.c_str(),
           static_cast<unsigned>(geteuid()));
  // Through the shell: the script reads its own archive through $0, and a
  // temporary folder may be mounted without execute rights.
  std::vector<std::string> argv{"/bin/sh", copy};
  argv.insert(argv.end(), request.installerArgs.begin(), request.installerArgs.end());
  return run_and_wait(argv);
}

}  // namespace varnelo::host
