// What the computer is: host name, operating system, processors, memory and
// the disk under a folder, for the device's name, user agent and
// description. Each reader has a parser that takes the text of its /proc or
// /etc file, so that tests can feed fixed contents. Every reader fails
// softly: a field that cannot be read stays empty or zero. Thread safe (no
// shared state).
//
//   platform::sysinfo::OsInfo os;
//   platform::sysinfo::osInfo(os);  // os.release.prettyName "Debian GNU/Linux 12 (bookworm)"
//   std::vector<platform::sysinfo::CpuCore> cores;
//   platform::sysinfo::cpus(cores);
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform::sysinfo {

// The host name (gethostname); empty when it cannot be read.
std::string hostName();

// From /etc/os-release (or /usr/lib/os-release).
struct OsRelease {
  std::string prettyName;  // PRETTY_NAME
  std::string name;        // NAME
  std::string versionId;   // VERSION_ID
  std::string id;          // ID
};
OsRelease parseOsRelease(std::string_view text);

// From uname.
struct KernelInfo {
  std::string sysname;  // "Linux"
  std::string release;  // "6.1.0-13-amd64"
  std::string machine;  // "x86_64", "aarch64"
  // The leading numbers of `release` (0 where there are none).
  int major = 0;
  int minor = 0;
  int patch = 0;
};
void parseKernelRelease(std::string_view release, KernelInfo& out);

struct OsInfo {
  OsRelease release;
  KernelInfo kernel;
};
// Fails only when uname fails; a missing os-release leaves `release` empty.
std::error_code osInfo(OsInfo& out);

// One record per core (per distinct "physical id" + "core id" when the file
// gives them, else per listed processor), in the file's order.
struct CpuCore {
  uint32_t mhz = 0;       // "cpu MHz", rounded
  std::string flags;      // "flags" ("Features" on ARM)
  std::string vendor;     // "vendor_id" ("CPU implementer" on ARM)
  uint32_t family = 0;    // "cpu family"
  uint32_t model = 0;     // "model"
  std::string modelName;  // "model name"
};
std::vector<CpuCore> parseCpuInfo(std::string_view text);
// ENODATA when /proc/cpuinfo lists no processor.
std::error_code cpus(std::vector<CpuCore>& out);

struct MemoryInfo {
  uint64_t totalMb = 0;
  uint64_t availableMb = 0;  // MemAvailable, else MemFree
};
bool parseMemInfo(std::string_view text, MemoryInfo& out);
std::error_code memory(MemoryInfo& out);

// One line of /proc/self/mountinfo.
struct MountEntry {
  unsigned major = 0;
  unsigned minor = 0;
  std::string mountPoint;
  std::string fsType;
  std::string source;  // "/dev/sda1", "tmpfs", …
};
std::vector<MountEntry> parseMountInfo(std::string_view text);

struct PhysicalDisk {
  std::string serial;  // empty when the kernel does not expose one
  std::string
      interfaceType;  // "USB", "IDE" (ATA/SATA), "SCSI" (SCSI, NVMe, virtio), "1394", or empty
};
// The whole disk holding block device major:minor (a partition's parent),
// looked up under `sysRoot` ("/sys"); false when it is not a block device.
bool physicalDisk(const std::string& sysRoot, unsigned major, unsigned minor, PhysicalDisk& out);

struct DiskInfo {
  uint64_t freeMb = 0;  // available to this user
  uint64_t totalMb = 0;
  std::string fsType;  // "ext4", …
  std::string device;  // the mount's source, e.g. "/dev/sda1"
  PhysicalDisk disk;
};
// The file system holding `path` (statvfs, mountinfo, /sys/block). Fails
// only when statvfs does.
std::error_code diskOf(const std::string& path, DiskInfo& out);

}  // namespace platform::sysinfo
