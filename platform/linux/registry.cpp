#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/files.h"
#include "platform/text.h"

namespace platform {
namespace {

std::error_code lastError() {
  return {errno, std::generic_category()};
}

void escapeInto(std::string_view text, std::string& out) {
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out.push_back(c);
    }
  }
}

bool unescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out.push_back(text[i]);
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\':
        out.push_back('\\');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      default:
        return false;
    }
  }
  return true;
}

bool parseDword(std::string_view text, uint32_t& out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFu) return false;
  out = static_cast<uint32_t>(value);
  return true;
}

bool parseLine(std::string_view line, RegistryValue& value) {
  const size_t tab1 = line.find('\t');
  if (tab1 == std::string_view::npos) return false;
  const size_t tab2 = line.find('\t', tab1 + 1);
  if (tab2 == std::string_view::npos) return false;
  if (!unescape(line.substr(0, tab1), value.name) || value.name.empty()) return false;
  const std::string_view type = line.substr(tab1 + 1, tab2 - tab1 - 1);
  const std::string_view data = line.substr(tab2 + 1);
  if (type == "sz") {
    value.type = RegistryValue::Type::String;
    return unescape(data, value.text);
  }
  if (type == "dword") {
    value.type = RegistryValue::Type::Dword;
    return parseDword(data, value.number);
  }
  return false;
}

bool validName(std::string_view name) {
  return !name.empty() && name.find('\0') == std::string_view::npos;
}

// Holds the key's change lock for its lifetime.
class ChangeLock {
 public:
  explicit ChangeLock(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
    if (fd_ < 0) {
      error_ = lastError();
      return;
    }
    int rc;
    do {
      rc = ::flock(fd_, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) error_ = lastError();
  }
  ~ChangeLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  ChangeLock(const ChangeLock&) = delete;
  ChangeLock& operator=(const ChangeLock&) = delete;
  std::error_code error() const { return error_; }

 private:
  int fd_;
  std::error_code error_;
};

// Creates the key's folder 0700 (and narrows one of ours that is wider).
std::error_code prepareFolder(const std::string& folder) {
  if (auto ec = files::createDirectories(folder, 0700)) return ec;
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return lastError();
  if (!S_ISDIR(st.st_mode)) return std::make_error_code(std::errc::not_a_directory);
  if (st.st_uid == ::geteuid() && (st.st_mode & 0777) != 0700 &&
      ::chmod(folder.c_str(), 0700) != 0) {
    return lastError();
  }
  return {};
}

void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::vector<RegistryValue> parseRegistry(std::string_view text) {
  std::vector<RegistryValue> values;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    RegistryValue value;
    if (parseLine(line, value)) values.push_back(std::move(value));
  }
  return values;
}

std::string formatRegistry(const std::vector<RegistryValue>& values) {
  std::string out = "# Varnelo settings: <name> TAB sz|dword TAB <data>\n";
  for (const RegistryValue& value : values) {
    escapeInto(value.name, out);
    if (value.type == RegistryValue::Type::String) {
      out += "\tsz\t";
      escapeInto(value.text, out);
    } else {
      out += "\tdword\t" + std::to_string(value.number);
    }
    out.push_back('\n');
  }
  return out;
}

Registry::Registry(std::string filePath) : path_(std::move(filePath)) {}

std::string Registry::defaultPath() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config != nullptr && config[0] == '/') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.config";
  }
  return base + "/varnelo/registry";
}

bool Registry::keyExists() const {
  return files::isRegularFile(path_);
}

std::error_code Registry::readAll(std::vector<RegistryValue>& out) const {
  std::string text;
  if (auto ec = files::readFile(path_, text)) return ec;
  out = parseRegistry(text);
  return {};
}

std::error_code Registry::find(std::string_view name, RegistryValue& out) const {
  std::vector<RegistryValue> values;
  if (auto ec = readAll(values)) return ec;
  for (RegistryValue& value : values) {
    if (equalsIgnoreCase(value.name, name)) {
      out = std::move(value);
      return {};
    }
  }
  return std::make_error_code(std::errc::no_such_file_or_directory);
}

std::error_code Registry::readString(std::string_view name, std::string& out) const {
  RegistryValue value;
  if (auto ec = find(name, value)) return ec;
  if (value.type != RegistryValue::Type::String)
    return std::make_error_code(std::errc::bad_message);
  out = std::move(value.text);
  return {};
}

std::error_code Registry::readDword(std::string_view name, uint32_t& out) const {
  RegistryValue value;
  if (auto ec = find(name, value)) return ec;
  if (value.type != RegistryValue::Type::Dword) return std::make_error_code(std::errc::bad_message);
  out = value.number;
  return {};
}

std::error_code Registry::writeString(std::string_view name, std::string_view text) {
  if (!validName(name) || text.find('\0') != std::string_view::npos) {
    return std::make_error_code(std::errc::invalid_argument);
  }
  RegistryValue value{std::string(name), RegistryValue::Type::String, std::string(text), 0};
  return change(name, &value);
}

std::error_code Registry::writeDword(std::string_view name, uint32_t number) {
  if (!validName(name)) return std::make_error_code(std::errc::invalid_argument);
  RegistryValue value{std::string(name), RegistryValue::Type::Dword, {}, number};
  return change(name, &value);
}

std::error_code Registry::deleteValue(std::string_view name) {
  if (!validName(name)) return std::make_error_code(std::errc::invalid_argument);
  if (!keyExists()) return std::make_error_code(std::errc::no_such_file_or_directory);
  return change(name, nullptr);
}

std::error_code Registry::deleteKey() {
  const std::string folder = files::parentPath(path_);
  ChangeLock lock(files::joinPath(folder, "registry.lock"));
  if (auto ec = lock.error())
    return ec == std::errc::no_such_file_or_directory ? std::error_code() : ec;
  if (::unlink(path_.c_str()) != 0 && errno != ENOENT) return lastError();
  return {};
}

std::error_code Registry::change(std::string_view name, const RegistryValue* replacement) {
  const std::string folder = files::parentPath(path_);
  if (auto ec = prepareFolder(folder)) return ec;
  // Serialises read-modify-write between processes (and between objects of
  // one process, since each ChangeLock opens the file anew).
  ChangeLock lock(files::joinPath(folder, "registry.lock"));
  if (auto ec = lock.error()) return ec;

  std::vector<RegistryValue> values;
  if (auto ec = readAll(values); ec && ec != std::errc::no_such_file_or_directory) return ec;
  bool found = false;
  std::vector<RegistryValue> kept;
  kept.reserve(values.size() + 1);
  for (RegistryValue& value : values) {
    if (!equalsIgnoreCase(value.name, name)) {
      kept.push_back(std::move(value));
    } else if (!found) {
      found = true;
      if (replacement != nullptr) {
        kept.push_back(*replacement);
        kept.back().name = std::move(value.name);  // keeps the first spelling
      }
    }
  }
  if (replacement == nullptr && !found) {
    return std::make_error_code(std::errc::no_such_file_or_directory);
  }
  if (replacement != nullptr && !found) kept.push_back(*replacement);
  if (auto ec = files::writeFileAtomic(path_, formatRegistry(kept), 0600)) return ec;
  syncFolder(folder);
  return {};
}

}  // namespace platform
