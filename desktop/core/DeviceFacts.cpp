// The machine's facts for the device description and the user agent, from
// the kernel's text files (/proc, /sys) and Qt's system and storage
// information.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QSysInfo>
#include <map>
#include <set>
#include <sstream>

#include "Device.h"
#include "platform/files.h"

namespace varnelo::desktop {
namespace {

std::string trim(std::string s) {
  const char* blanks = " \t\r\n";
  s.erase(0, s.find_first_not_of(blanks));
  s.erase(s.find_last_not_of(blanks) + 1);
  return s;
}

// Files of /proc and /sys report no size, so they are read to their end.
bool readText(const char* path, std::string& out) {
  QFile file(QString::fromUtf8(path));
  if (!file.open(QIODevice::ReadOnly)) return false;
  out = file.readAll().toStdString();
  return true;
}

int toInt(const std::string& s) {
  return static_cast<int>(std::strtol(s.c_str(), nullptr, 10));
}

// "cpu MHz : 2596.132" blocks, one per logical processor.
std::vector<std::map<std::string, std::string>> readCpuInfo() {
  std::vector<std::map<std::string, std::string>> blocks;
  std::string text;
  if (!readText("/proc/cpuinfo", text)) return blocks;
  std::istringstream in(text);
  std::string line;
  std::map<std::string, std::string> block;
  while (std::getline(in, line)) {
    if (trim(line).empty()) {
      if (!block.empty()) blocks.push_back(std::move(block));
      block.clear();
      continue;
    }
    size_t colon = line.find(':');
    if (colon != std::string::npos)
      block[trim(line.substr(0, colon))] = trim(line.substr(colon + 1));
  }
  if (!block.empty()) blocks.push_back(std::move(block));
  return blocks;
}

// One element per core: hyper-threads of one core (same package and core
// id) count once; without those fields every processor is a core.
std::vector<DeviceFacts::Cpu> cpus() {
  std::vector<DeviceFacts::Cpu> out;
  std::set<std::pair<std::string, std::string>> seen;
  for (auto& b : readCpuInfo()) {
    if (!b.count("processor")) continue;
    if (b.count("physical id") && b.count("core id") &&
        !seen.emplace(b["physical id"], b["core id"]).second) {
      continue;
    }
    DeviceFacts::Cpu c;
    c.freqMHz = toInt(b["cpu MHz"]);
    c.vendor = b["vendor_id"];
    c.family = toInt(b["cpu family"]);
    c.model = toInt(b["model"]);
    c.name = b.count("model name") ? b["model name"] : b["Hardware"];
    c.flags = c.vendor + "-" + b["cpu family"] + "-" + b["model"] + "-" + b["stepping"];
    out.push_back(c);
  }
  return out;
}

// MB values of "MemTotal:  8000000 kB" lines.
bool memory(uint32_t& totalMB, uint32_t& freeMB) {
  std::string text;
  if (!readText("/proc/meminfo", text)) return false;
  std::istringstream in(text);
  std::string key, unit;
  uint64_t value = 0;
  bool total = false, available = false;
  while (in >> key >> value) {
    std::getline(in, unit);
    if (key == "MemTotal:") totalMB = static_cast<uint32_t>(value >> 10), total = true;
    if (key == "MemAvailable:") freeMB = static_cast<uint32_t>(value >> 10), available = true;
  }
  return total && available;
}

std::string firstLine(const std::string& path) {
  std::string text;
  if (!readText(path.c_str(), text)) return "";
  return trim(text.substr(0, text.find('\n')));
}

// The whole disk behind a partition's device ("/dev/sda1" → "sda").
std::string diskOf(const std::string& device) {
  std::string name = platform::files::fileName(device);
  if (name.empty()) return "";
  const std::string sysPath = "/sys/class/block/" + name;
  if (!platform::files::exists(sysPath + "/partition")) return name;
  QString real = QFileInfo(QString::fromStdString(sysPath)).canonicalFilePath();
  return QFileInfo(real).dir().dirName().toStdString();
}

std::string interfaceOf(const std::string& disk) {
  if (disk.rfind("nvme", 0) == 0) return "NVMe";
  if (disk.rfind("sd", 0) == 0) return "SCSI";
  if (disk.rfind("vd", 0) == 0) return "VirtIO";
  if (disk.rfind("mmcblk", 0) == 0) return "MMC";
  return "";
}

}  // namespace

std::string machineArchitecture() {
  return QSysInfo::currentCpuArchitecture().toStdString();
}

std::string osDisplayName() {
  std::string name = QSysInfo::prettyProductName().toStdString();
  if (name.empty()) return "";
  const std::string kernel = QSysInfo::kernelVersion().toStdString();
  if (!kernel.empty()) name += " (build " + kernel + ")";
  const std::string arch = machineArchitecture();
  if (arch == "x86_64") name += ", 64-bit";
  if (arch == "i386") name += ", 32-bit";
  return name.substr(0, 256);
}

std::string hostName() {
  return QSysInfo::machineHostName().toStdString();
}

DeviceFacts gatherDeviceFacts(const std::string& folder) {
  DeviceFacts f;
  f.osName = osDisplayName();
  // "6.1.0-13-amd64" → "6.1.0"
  const std::string kernel = QSysInfo::kernelVersion().toStdString();
  f.osVersion = kernel.substr(0, kernel.find_first_not_of("0123456789."));
  f.cpus = cpus();
  f.memoryKnown = memory(f.memTotalMB, f.memFreeMB);
  QStorageInfo storage(QString::fromStdString(folder));
  if (storage.isValid() && storage.isReady()) {
    f.diskKnown = true;
    f.diskFileSystem = storage.fileSystemType().toStdString();
    f.diskFreeMB = static_cast<uint32_t>(static_cast<uint64_t>(storage.bytesAvailable()) >> 20);
    f.diskTotalMB = static_cast<uint32_t>(static_cast<uint64_t>(storage.bytesTotal()) >> 20);
    const std::string disk = diskOf(storage.device().toStdString());
    if (!disk.empty()) {
      f.diskInterface = interfaceOf(disk);
      f.diskSerial = firstLine("/sys/block/" + disk + "/device/serial");
      if (f.diskSerial.empty()) f.diskSerial = firstLine("/sys/block/" + disk + "/serial");
    }
  }
  return f;
}

}  // namespace varnelo::desktop
