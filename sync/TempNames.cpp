#include "TempNames.h"

#include <sys/time.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "Base64Url.h"
#include "Digest.h"
#include "platform/files.h"
#include "platform/text.h"

namespace varnelo {

namespace {

constexpr size_t kMaxNameBytes = 255;

}  // namespace

std::string tempFolderPath(const std::string& localRoot) {
  return platform::files::joinPath(localRoot, kTempFolderName) + "/";
}

std::error_code ensureTempFolder(const std::string& localRoot) {
  std::string folder = platform::files::joinPath(localRoot, kTempFolderName);
  if (platform::files::isDirectory(folder)) return {};
  // One level only: a sync folder that is gone is never made again here.
  if (!platform::files::isDirectory(localRoot)) {
    return std::make_error_code(std::errc::no_such_file_or_directory);
  }
  if (auto ec = platform::files::createDirectory(folder)) {
    if (!platform::files::isDirectory(folder)) return ec;
  }
  return {};
}

std::string partFileName(const std::string& localPath, const Signature& signature,
                         int partVersion) {
  std::string material(reinterpret_cast<const char*>(signature.data()), signature.size());
  std::u16string wide;
  try {
    wide = platform::utf8ToUtf16(localPath);
  } catch (const platform::TextError&) {
    // Names that are not UTF-8 never get this far (the filter refuses them);
    // hashing the raw bytes still gives a stable name.
    wide.assign(localPath.begin(), localPath.end());
  }
  for (char16_t c : wide) {
    material += static_cast<char>(c & 0xFF);
    material += static_cast<char>(c >> 8);
  }
  Md5Digest digest = md5Of(material);
  std::string suffix = "." + http::base64url_encode(digest.data(), digest.size()) + ".v" +
                       std::to_string(partVersion) + ".part";
  std::string name =
      platform::cutUtf8(platform::files::fileName(localPath), kMaxNameBytes - suffix.size());
  return name + suffix;
}

bool isPartFileOf(const std::string& name, const std::string& localPath, int partVersion) {
  const std::string ours = partFileName(localPath, Signature{}, partVersion);
  const std::string tail = ".v" + std::to_string(partVersion) + ".part";
  const size_t digestChars = 24;  // 16 bytes in base64 with its pad
  const size_t prefix = ours.size() - tail.size() - digestChars - 1;
  return name.size() == ours.size() && name.compare(0, prefix + 1, ours, 0, prefix + 1) == 0 &&
         name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
}

namespace {
constexpr std::string_view kRemovingSuffix = ".varnelo-removing";
}  // namespace

std::string removingPath(const std::string& localPath) {
  namespace files = platform::files;
  return files::joinPath(files::parentPath(localPath),
                         "." + files::fileName(localPath) + std::string(kRemovingSuffix));
}

std::string removedNameOf(const std::string& name) {
  if (name.size() <= kRemovingSuffix.size() + 1 || name[0] != '.' ||
      !std::string_view(name).ends_with(kRemovingSuffix))
    return {};
  std::string original = name.substr(1, name.size() - 1 - kRemovingSuffix.size());
  if (original == "." || original == "..") return {};
  return original;
}

std::string scratchFileName() {
  static std::atomic<unsigned> counter{0};
  struct timeval tv {};
  gettimeofday(&tv, nullptr);
  struct tm utc {};
  gmtime_r(&tv.tv_sec, &utc);
  char buf[96];
  snprintf(buf, sizeof buf, "~$%04d-%02d-%02d-%02d_%02d_%02d_%3d_%4u.tmp", utc.tm_year + 1900,
           utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
           static_cast<int>(tv.tv_usec / 1000), counter.fetch_add(1) % 10000);
  return buf;
}

}  // namespace varnelo
