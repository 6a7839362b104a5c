// The machine's facts for the device description and the user agent, from
// the platform layer's system information.
#include "Device.h"
#include "platform/sysinfo.h"

namespace varnelo::desktop {
namespace {

namespace sys = platform::sysinfo;

uint32_t clampMb(uint64_t mb) {
  return mb > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(mb);
}

}  // namespace

std::string machineArchitecture() {
  sys::OsInfo os;
  return sys::osInfo(os) ? "" : os.kernel.machine;
}

std::string osDisplayName() {
  sys::OsInfo os;
  if (sys::osInfo(os)) return "";
  // "Debian GNU/Linux 12 (bookworm) (build 6.1.0-13-amd64), 64-bit", in the
  // shape the service knows from other systems' names.
  std::string name = os.release.prettyName.empty() ? os.kernel.sysname : os.release.prettyName;
  if (name.empty()) return "";
  if (!os.kernel.release.empty()) name += " (build " + os.kernel.release + ")";
  const std::string& arch = os.kernel.machine;
  if (arch == "x86_64") name += ", 64-bit";
  if (arch == "i386" || arch == "i486" || arch == "i586" || arch == "i686") name += ", 32-bit";
  return name.substr(0, 256);
}

std::string hostName() {
  return sys::hostName();
}

DeviceFacts gatherDeviceFacts(const std::string& folder) {
  DeviceFacts f;
  f.osName = osDisplayName();
  sys::OsInfo os;
  if (!sys::osInfo(os)) {
    f.osVersion = std::to_string(os.kernel.major) + "." + std::to_string(os.kernel.minor) + "." +
                  std::to_string(os.kernel.patch);
  }
  std::vector<sys::CpuCore> cores;
  if (!sys::cpus(cores)) {
    for (const sys::CpuCore& c : cores) {
      f.cpus.push_back({static_cast<int>(c.mhz), c.flags, c.vendor, static_cast<int>(c.family),
                        static_cast<int>(c.model), c.modelName});
    }
  }
  sys::MemoryInfo memory;
  if (!sys::memory(memory)) {
    f.memoryKnown = true;
    f.memTotalMB = clampMb(memory.totalMb);
    f.memFreeMB = clampMb(memory.availableMb);
  }
  sys::DiskInfo disk;
  if (!sys::diskOf(folder, disk)) {
    f.diskKnown = true;
    f.diskFileSystem = disk.fsType;
    f.diskFreeMB = clampMb(disk.freeMb);
    f.diskTotalMB = clampMb(disk.totalMb);
    f.diskSerial = disk.disk.serial;
    f.diskInterface = disk.disk.interfaceType;
  }
  return f;
}

}  // namespace varnelo::desktop
