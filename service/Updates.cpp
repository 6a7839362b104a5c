#include "Updates.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include "Log.h"
#include "UpdateSigning.h"

namespace varnelo::service {
namespace {
bool writeFile(const std::string& path, const std::string& bytes) {
  std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.good()) return false;
  }
  return rename(temp.c_str(), path.c_str()) == 0;
}

bool safeVersion(const std::string& version) {
  if (version.empty() || version.size() > 64) return false;
  for (char c : version) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
          c == '-')) {
      return false;
    }
  }
  return true;
}
}  // namespace

Updates::Updates(std::string dataDir) : dir_(std::move(dataDir) + "/update") {
  mkdir(dir_.c_str(), 0700);
}

bool Updates::publish(const std::string& version, const std::string& installer) {
  if (!safeVersion(version)) return false;
  std::string name = "Varnelo-x86-" + version + "-Setup.run";
  std::string digest = sha256Hex(installer);
  std::lock_guard<std::mutex> lock(mutex_);
  Current previous;
  int64_t sequence = std::max<int64_t>(static_cast<int64_t>(time(nullptr)), 1);
  if (readCurrentLocked(&previous)) sequence = std::max(sequence, previous.sequence + 1);
  if (!writeFile(dir_ + "/" + name, installer) ||
      !writeFile(dir_ + "/current",
                 version + "\n" + name + "\n" + digest + "\n" + std::to_string(sequence) + "\n")) {
    logLine(LogLevel::kError, "cannot store the update %s: %s", version.c_str(), strerror(errno));
    return false;
  }
  return true;
}

bool Updates::current(Current* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  return readCurrentLocked(out);
}

bool Updates::readCurrentLocked(Current* out) {
  *out = Current{};
  std::ifstream in(dir_ + "/current");
  if (!in || !std::getline(in, out->version) || !std::getline(in, out->fileName)) return false;
  // Digest and sequence were added later; files written before lack them.
  std::string sequence;
  if (std::getline(in, out->sha256) && std::getline(in, sequence)) {
    char* end = nullptr;
    long long value = strtoll(sequence.c_str(), &end, 10);
    if (!sequence.empty() && *end == '\0' && value > 0) out->sequence = value;
  }
  return true;
}

std::string Updates::installerPath(const std::string& fileName) {
  if (fileName.find('/') != std::string::npos || fileName.rfind("Varnelo-", 0) != 0 ||
      !fileName.ends_with("-Setup.run")) {
    return {};
  }
  return dir_ + "/" + fileName;
}

}  // namespace varnelo::service
