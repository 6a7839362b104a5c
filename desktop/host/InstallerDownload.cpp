#include "InstallerDownload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "HostFetch.h"
#include "HostLog.h"
#include "UpdateSignature.h"
#include "platform/files.h"

namespace varnelo::host {
namespace {

namespace files = platform::files;

// No installer is this large; a reply that is must not fill the disk.
constexpr uint64_t kMaxInstaller = uint64_t{2} << 30;

// Writes the body into the open file as it arrives and hashes it. A failed
// write or an oversized body aborts the transfer.
class InstallerSink final : public http::Sink {
 public:
  explicit InstallerSink(int fd) : fd_(fd) {}
  size_t write(const char* data, size_t size) override {
    if (received_ + size > kMaxInstaller) {
      tooLarge_ = true;
      return 0;
    }
    for (size_t done = 0; done < size;) {
      ssize_t n = ::write(fd_, data + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        writeError_ = errno != 0 ? errno : EIO;
        return 0;
      }
      done += static_cast<size_t>(n);
    }
    hash_.update(data, size);
    received_ += size;
    return size;
  }
  std::string digest() { return hash_.finish_hex(); }
  bool tooLarge() const { return tooLarge_; }
  int writeError() const { return writeError_; }

 private:
  int fd_;
  Sha256Stream hash_;
  uint64_t received_ = 0;
  bool tooLarge_ = false;
  int writeError_ = 0;
};

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

bool fail(std::string* why, std::string text) {
  if (why != nullptr) *why = std::move(text);
  return false;
}

}  // namespace

namespace {

constexpr const char* kFolderPrefix = "varnelo-update-";

// A real folder (not a link) of this user that nobody else may enter.
bool is_private_folder(const std::string& folder) {
  struct stat st {};
  return lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 077) == 0;
}

// The shared temporary folder's fixed name: found again by every run.
std::string shared_folder() {
  const char* tmp = getenv("TMPDIR");
  std::string base = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
  return base + "/" + kFolderPrefix + std::to_string(geteuid());
}

// Folders of this user that no other user can have made: the cache folder
// (kept across log-ins, as a pending installer may wait for the next one),
// then the runtime folder.
std::vector<std::string> own_bases() {
  std::vector<std::string> bases;
  if (const char* cache = getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/')
    bases.emplace_back(cache);
  else if (const char* home = getenv("HOME"); home != nullptr && home[0] == '/')
    bases.push_back(std::string(home) + "/.cache");
  if (const char* run = getenv("XDG_RUNTIME_DIR"); run != nullptr && run[0] == '/')
    bases.emplace_back(run);
  return bases;
}

}  // namespace

std::optional<std::string> private_download_folder(std::string* why) {
  std::string folder = shared_folder();
  if ((mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) && is_private_folder(folder))
    return folder;
  // Someone else made that name first (or made it open to others): a folder
  // of our own elsewhere, with a name nobody can guess or take beforehand.
  std::string problem = folder + " is not a private folder of this user";
  for (const std::string& base : own_bases()) {
    struct stat st {};
    if (mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) continue;
    if (stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & 022) != 0)
      continue;
    std::string pattern = base + "/" + kFolderPrefix + "XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr && is_private_folder(pattern)) {
      host_log(kHostWarning, "%s; downloading into %s", problem.c_str(), pattern.c_str());
      return pattern;
    }
  }
  fail(why, problem + ", and no folder of this user could take its place");
  return std::nullopt;
}

void remove_download(const std::string& path, const std::string& version) {
  // Only a file of ours goes, never whatever a value named.
  std::string folder = files::parentPath(path);
  if (files::fileName(path) != installer_file_name(version) ||
      files::fileName(folder).rfind(kFolderPrefix, 0) != 0 || !is_private_folder(folder))
    return;
  unlink(path.c_str());
  // A folder made for this download goes with it (the shared one may hold
  // others and stays).
  if (folder != shared_folder()) rmdir(folder.c_str());
}

std::string installer_file_name(const std::string& version) {
  return "Varnelo-x86-" + version + "-Setup.run";
}

bool download_installer(const std::string& url, const std::string& path, const std::string& sha256,
                        std::string* why) {
  std::string part = path + ".part";
  unlink(part.c_str());
  Fd file;
  file.fd = open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file.fd < 0) return fail(why, "cannot create " + part + ": " + strerror(errno));
  InstallerSink sink(file.fd);
  int status = host_fetch(url, sink);
  std::string problem;
  if (sink.tooLarge()) {
    problem = "the installer is larger than any installer";
  } else if (sink.writeError() != 0) {
    problem = "cannot write " + part + ": " + strerror(sink.writeError());
  } else if (status != 200) {
    problem = "the installer download answered " + std::to_string(status);
  } else if (sink.digest() != sha256) {
    problem = "the installer's SHA-256 differs from the signed digest";
  } else if (fsync(file.fd) != 0 || fchmod(file.fd, 0700) != 0) {
    problem = "cannot finish " + part + ": " + strerror(errno);
  } else if (rename(part.c_str(), path.c_str()) != 0) {
    problem = "cannot rename " + part + ": " + strerror(errno);
  }
  if (problem.empty()) return true;
  unlink(part.c_str());
  return fail(why, problem);
}

}  // namespace varnelo::host
