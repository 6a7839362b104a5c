#include "Updates.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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
  if (!writeFile(dir_ + "/" + name, installer) ||
      !writeFile(dir_ + "/current", version + "\n" + name + "\n" + digest + "\n")) {
    logLine(LogLevel::kError, "cannot store the update %s: %s", version.c_str(), strerror(errno));
    return false;
  }
  return true;
}

bool Updates::current(std::string* version, std::string* fileName, std::string* sha256) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::ifstream in(dir_ + "/current");
  if (!in || !std::getline(in, *version) || !std::getline(in, *fileName)) return false;
  if (!std::getline(in, *sha256)) sha256->clear();
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
