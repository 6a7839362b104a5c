#include "platform/sysinfo.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <set>
#include <utility>

#include "platform/files.h"

namespace platform::sysinfo {
namespace {

std::error_code lastError() {
  return {errno, std::generic_category()};
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' ||
                           text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// Calls `line` for each line of `text`.
template <typename F>
void forEachLine(std::string_view text, F line) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    line(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
}

uint32_t toNumber(std::string_view text) {
  uint64_t value = 0;
  bool any = false;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    any = true;
    if (value > 0xFFFFFFFFu) return 0;
  }
  return any ? static_cast<uint32_t>(value) : 0;
}

// A shell-style value of os-release: quoted with " or ', backslash escapes
// inside double quotes.
std::string osReleaseValue(std::string_view raw) {
  raw = trim(raw);
  if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') && raw.back() == raw.front()) {
    const char quote = raw.front();
    raw = raw.substr(1, raw.size() - 2);
    if (quote == '\'') return std::string(raw);
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\\' && i + 1 < raw.size()) ++i;
      out.push_back(raw[i]);
    }
    return out;
  }
  return std::string(raw);
}

// Reads a whole file whose size stat() cannot tell (/proc reports 0).
std::error_code readProcFile(const char* path, std::string& out) {
  out.clear();
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return lastError();
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const auto ec = lastError();
      ::close(fd);
      return ec;
    }
    if (got == 0) break;
    out.append(buffer, static_cast<size_t>(got));
    if (out.size() > (16u << 20)) break;  // far beyond any real file of this kind
  }
  ::close(fd);
  return {};
}

// Reads the first line of a small sysfs file, trimmed.
std::string readAttribute(const std::string& path) {
  std::string text;
  if (files::readRange(path, 0, 4096, text)) return {};
  const size_t end = text.find('\n');
  return std::string(trim(std::string_view(text).substr(0, end)));
}

std::string realPath(const std::string& path) {
  char buffer[PATH_MAX];
  return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

std::string interfaceOf(std::string_view devicePath) {
  std::string_view type;
  size_t start = 0;
  while (start < devicePath.size()) {
    size_t end = devicePath.find('/', start);
    if (end == std::string_view::npos) end = devicePath.size();
    const std::string_view part = devicePath.substr(start, end - start);
    start = end + 1;
    auto startsWith = [&](std::string_view prefix) {
      return part.substr(0, prefix.size()) == prefix;
    };
    // The first bus along the path from the root decides: a SATA disk in a
    // USB case is a USB disk.
    if (startsWith("usb")) return "USB";
    if (startsWith("fw") || startsWith("firewire")) return "1394";
    if (startsWith("ata") && part.size() > 3 && part[3] >= '0' && part[3] <= '9') return "IDE";
    if (startsWith("nvme") || startsWith("virtio") || startsWith("target")) type = "SCSI";
  }
  return std::string(type);
}

// Mount fields write space, tab, newline and backslash as octal escapes.
std::string unescapeMountField(std::string_view field) {
  std::string out;
  const auto octal = [&](size_t k) {
    return k < field.size() && field[k] >= '0' && field[k] <= '7';
  };
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

bool isUnder(std::string_view path, std::string_view mountPoint) {
  if (mountPoint == "/") return true;
  return path.substr(0, mountPoint.size()) == mountPoint &&
         (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

}  // namespace

std::string hostName() {
  char buffer[HOST_NAME_MAX + 1] = {};
  if (::gethostname(buffer, sizeof buffer - 1) != 0) return {};
  return buffer;
}

OsRelease parseOsRelease(std::string_view text) {
  OsRelease out;
  forEachLine(text, [&](std::string_view line) {
    line = trim(line);
    const size_t eq = line.find('=');
    if (line.empty() || line.front() == '#' || eq == std::string_view::npos) return;
    const std::string_view key = line.substr(0, eq);
    const std::string value = osReleaseValue(line.substr(eq + 1));
    if (key == "PRETTY_NAME") out.prettyName = value;
    if (key == "NAME") out.name = value;
    if (key == "VERSION_ID") out.versionId = value;
    if (key == "ID") out.id = value;
  });
  return out;
}

void parseKernelRelease(std::string_view release, KernelInfo& out) {
  int* parts[] = {&out.major, &out.minor, &out.patch};
  for (int* part : parts) *part = 0;
  size_t i = 0;
  for (int* part : parts) {
    if (i >= release.size() || release[i] < '0' || release[i] > '9') break;
    *part = static_cast<int>(toNumber(release.substr(i)));
    while (i < release.size() && release[i] >= '0' && release[i] <= '9') ++i;
    if (i >= release.size() || release[i] != '.') break;
    ++i;
  }
}

std::error_code osInfo(OsInfo& out) {
  out = {};
  std::string text;
  if (files::readFile("/etc/os-release", text)) files::readFile("/usr/lib/os-release", text);
  out.release = parseOsRelease(text);
  utsname names{};
  if (::uname(&names) != 0) return lastError();
  out.kernel.sysname = names.sysname;
  out.kernel.release = names.release;
  out.kernel.machine = names.machine;
  parseKernelRelease(out.kernel.release, out.kernel);
  return {};
}

std::vector<CpuCore> parseCpuInfo(std::string_view text) {
  std::vector<CpuCore> cores;
  std::set<std::pair<std::string, std::string>> seen;  // (physical id, core id)
  CpuCore current;
  std::string physicalId;
  std::string coreId;
  bool inProcessor = false;
  auto finish = [&] {
    if (!inProcessor) return;
    const bool known = !physicalId.empty() && !coreId.empty();
    if (!known || seen.insert({physicalId, coreId}).second) cores.push_back(current);
    current = {};
    physicalId.clear();
    coreId.clear();
    inProcessor = false;
  };
  forEachLine(text, [&](std::string_view line) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      if (trim(line).empty()) finish();
      return;
    }
    const std::string_view key = trim(line.substr(0, colon));
    const std::string_view value = trim(line.substr(colon + 1));
    if (key == "processor") {
      finish();
      inProcessor = true;
    } else if (key == "vendor_id" || (key == "CPU implementer" && current.vendor.empty())) {
      current.vendor = value;
    } else if (key == "cpu family") {
      current.family = toNumber(value);
    } else if (key == "model") {
      current.model = toNumber(value);
    } else if (key == "model name") {
      current.modelName = value;
    } else if (key == "cpu MHz") {
      const double mhz = std::strtod(std::string(value).c_str(), nullptr);
      current.mhz = mhz > 0 && mhz < 1e7 ? static_cast<uint32_t>(std::lround(mhz)) : 0;
    } else if (key == "flags" || key == "Features") {
      current.flags = value;
    } else if (key == "physical id") {
      physicalId = value;
    } else if (key == "core id") {
      coreId = value;
    }
  });
  finish();
  return cores;
}

std::error_code cpus(std::vector<CpuCore>& out) {
  std::string text;
  if (auto ec = readProcFile("/proc/cpuinfo", text)) return ec;
  out = parseCpuInfo(text);
  if (out.empty()) return std::make_error_code(std::errc::no_message_available);
  return {};
}

bool parseMemInfo(std::string_view text, MemoryInfo& out) {
  out = {};
  uint64_t freeKb = 0;
  bool total = false;
  bool available = false;
  forEachLine(text, [&](std::string_view line) {
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) return;
    const std::string_view key = line.substr(0, colon);
    const std::string value(trim(line.substr(colon + 1)));
    const uint64_t kb = std::strtoull(value.c_str(), nullptr, 10);
    if (key == "MemTotal") {
      out.totalMb = kb >> 10;
      total = true;
    } else if (key == "MemAvailable") {
      out.availableMb = kb >> 10;
      available = true;
    } else if (key == "MemFree") {
      freeKb = kb;
    }
  });
  if (!available) out.availableMb = freeKb >> 10;
  return total;
}

std::error_code memory(MemoryInfo& out) {
  std::string text;
  if (auto ec = readProcFile("/proc/meminfo", text)) return ec;
  if (!parseMemInfo(text, out)) return std::make_error_code(std::errc::no_message_available);
  return {};
}

std::vector<MountEntry> parseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  forEachLine(text, [&](std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start < line.size()) {
      size_t end = line.find(' ', start);
      if (end == std::string_view::npos) end = line.size();
      if (end > start) fields.push_back(line.substr(start, end - start));
      start = end + 1;
    }
    // id parent major:minor root mount-point options [optional…] - type source super-options
    size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 1 >= fields.size()) return;  // no separator or no type
    MountEntry entry;
    const std::string_view device = fields[2];
    const size_t colon = device.find(':');
    if (colon == std::string_view::npos) return;
    entry.major = toNumber(device.substr(0, colon));
    entry.minor = toNumber(device.substr(colon + 1));
    entry.mountPoint = unescapeMountField(fields[4]);
    entry.fsType = unescapeMountField(fields[dash + 1]);
    if (dash + 2 < fields.size()) entry.source = unescapeMountField(fields[dash + 2]);
    mounts.push_back(std::move(entry));
  });
  return mounts;
}

bool physicalDisk(const std::string& sysRoot, unsigned major, unsigned minor, PhysicalDisk& out) {
  out = {};
  std::string block =
      realPath(sysRoot + "/dev/block/" + std::to_string(major) + ":" + std::to_string(minor));
  if (block.empty()) return false;
  if (files::exists(block + "/partition")) block = files::parentPath(block);
  for (const char* name : {"/serial", "/device/serial"}) {
    out.serial = readAttribute(block + name);
    if (!out.serial.empty()) break;
  }
  out.interfaceType = interfaceOf(block);
  return true;
}

std::error_code diskOf(const std::string& path, DiskInfo& out) {
  out = {};
  struct statvfs fs {};
  if (::statvfs(path.c_str(), &fs) != 0) return lastError();
  out.freeMb = (static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize) >> 20;
  out.totalMb = (static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize) >> 20;

  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  const std::string real = realPath(path);
  std::string text;
  readProcFile("/proc/self/mountinfo", text);
  // The deepest mount above the path, preferring one of the path's own
  // device (bind mounts and stacked mounts share mount points).
  const MountEntry* best = nullptr;
  bool bestSameDevice = false;
  const std::vector<MountEntry> mounts = parseMountInfo(text);
  for (const MountEntry& mount : mounts) {
    if (!isUnder(real, mount.mountPoint)) continue;
    const bool sameDevice = mount.major == ::major(st.st_dev) && mount.minor == ::minor(st.st_dev);
    if (best == nullptr || (sameDevice && !bestSameDevice) ||
        (sameDevice == bestSameDevice && mount.mountPoint.size() >= best->mountPoint.size())) {
      best = &mount;
      bestSameDevice = sameDevice;
    }
  }
  dev_t blockDevice = st.st_dev;
  if (best != nullptr) {
    out.fsType = best->fsType;
    out.device = best->source;
    // File systems such as btrfs report an anonymous device; the source
    // names the real one.
    struct stat source {};
    if (out.device.rfind("/dev/", 0) == 0 && ::stat(out.device.c_str(), &source) == 0 &&
        S_ISBLK(source.st_mode)) {
      blockDevice = source.st_rdev;
    }
  }
  physicalDisk("/sys", ::major(blockDevice), ::minor(blockDevice), out.disk);
  return {};
}

}  // namespace platform::sysinfo
