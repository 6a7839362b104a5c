#include "platform/sysinfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/files.h"
#include "test_folder.h"

namespace sysinfo = platform::sysinfo;
using platform::testing::TempFolder;

TEST(SysInfoTest, OsReleaseAndKernelRelease) {
  const auto os = sysinfo::parseOsRelease(
      "# comment\n"
      "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n"
      "NAME='Debian \"GNU\"'\n"
      "VERSION_ID=\"12\"\n"
      "ID=debian\n"
      "BROKEN LINE\n"
      "HOME_URL=\"https://www.debian.org/\"\n");
  EXPECT_EQ(os.prettyName, "Debian GNU/Linux 12 (bookworm)");
  EXPECT_EQ(os.name, "Debian \"GNU\"");
  EXPECT_EQ(os.versionId, "12");
  EXPECT_EQ(os.id, "debian");
  EXPECT_EQ(sysinfo::parseOsRelease("PRETTY_NAME=\"say \\\"hi\\\" \\\\o/\"").prettyName,
            "say \"hi\" \\o/");

  sysinfo::KernelInfo k;
  sysinfo::parseKernelRelease("6.1.0-13-amd64", k);
  EXPECT_EQ((std::vector<int>{k.major, k.minor, k.patch}), (std::vector<int>{6, 1, 0}));
  sysinfo::parseKernelRelease("5.10", k);
  EXPECT_EQ((std::vector<int>{k.major, k.minor, k.patch}), (std::vector<int>{5, 10, 0}));
  sysinfo::parseKernelRelease("weird", k);
  EXPECT_EQ(k.major, 0);
}

namespace {

// One /proc/cpuinfo entry.
std::string processor(int n, int physical, int core, const char* mhz) {
  return "processor\t: " + std::to_string(n) +
         "\nvendor_id\t: GenuineIntel\ncpu family\t: 6\nmodel\t\t: 85\n"
         "model name\t: Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz\ncpu MHz\t\t: " +
         mhz + "\nphysical id\t: " + std::to_string(physical) +
         "\ncore id\t\t: " + std::to_string(core) + "\nflags\t\t: fpu vme sse2\n\n";
}

}  // namespace

TEST(SysInfoTest, CpuInfoGivesOneRecordPerCore) {
  // Two processors of four cores with two threads each: eight cores.
  std::string text;
  int n = 0;
  for (int thread = 0; thread < 2; ++thread) {
    for (int physical = 0; physical < 2; ++physical) {
      for (int core = 0; core < 4; ++core) {
        text += processor(n++, physical, core, physical == 0 ? "2100.000" : "999.6");
      }
    }
  }
  const auto cores = sysinfo::parseCpuInfo(text);
  ASSERT_EQ(cores.size(), 8u);
  EXPECT_EQ(cores[0].mhz, 2100u);
  EXPECT_EQ(cores[4].mhz, 1000u);
  EXPECT_EQ(cores[0].vendor, "GenuineIntel");
  EXPECT_EQ(cores[0].family, 6u);
  EXPECT_EQ(cores[0].model, 85u);
  EXPECT_EQ(cores[0].modelName, "Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz");
  EXPECT_EQ(cores[0].flags, "fpu vme sse2");

  // Without topology (ARM, some VMs) every listed processor counts.
  const auto arm = sysinfo::parseCpuInfo(
      "processor\t: 0\nBogoMIPS\t: 48.00\nFeatures\t: fp asimd\nCPU implementer\t: 0x41\n\n"
      "processor\t: 1\nBogoMIPS\t: 48.00\nFeatures\t: fp asimd\nCPU implementer\t: 0x41\n");
  ASSERT_EQ(arm.size(), 2u);
  EXPECT_EQ(arm[1].flags, "fp asimd");
  EXPECT_EQ(arm[1].vendor, "0x41");
  EXPECT_TRUE(sysinfo::parseCpuInfo("garbage\n\n").empty());
}

TEST(SysInfoTest, MemInfo) {
  sysinfo::MemoryInfo mem;
  ASSERT_TRUE(sysinfo::parseMemInfo(
      "MemTotal:       16318412 kB\nMemFree:          812000 kB\nMemAvailable:   9000000 kB\n",
      mem));
  EXPECT_EQ(mem.totalMb, 15935u);
  EXPECT_EQ(mem.availableMb, 8789u);
  ASSERT_TRUE(sysinfo::parseMemInfo("MemTotal: 2048 kB\nMemFree: 1024 kB\n", mem));
  EXPECT_EQ(mem.availableMb, 1u);
  EXPECT_FALSE(sysinfo::parseMemInfo("nothing\n", mem));
}

TEST(SysInfoTest, MountInfoLines) {
  const auto mounts = sysinfo::parseMountInfo(
      "27 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
      "40 27 0:45 / /home/u/My\\040Sync rw master:3 shared:4 - btrfs /dev/nvme0n1p3 rw\n"
      "41 27 0:46 / /mnt/x rw - fuse.sshfs\n"
      "short line\n");
  ASSERT_EQ(mounts.size(), 3u);
  EXPECT_EQ(mounts[0].major, 8u);
  EXPECT_EQ(mounts[0].minor, 2u);
  EXPECT_EQ(mounts[0].fsType, "ext4");
  EXPECT_EQ(mounts[0].source, "/dev/sda2");
  EXPECT_EQ(mounts[1].mountPoint, "/home/u/My Sync");
  EXPECT_EQ(mounts[1].fsType, "btrfs");
  EXPECT_EQ(mounts[1].source, "/dev/nvme0n1p3");
  EXPECT_EQ(mounts[2].fsType, "fuse.sshfs");
  EXPECT_EQ(mounts[2].source, "");
}

TEST(SysInfoTest, PhysicalDiskFromAFakeSysTree) {
  TempFolder sys;
  namespace files = platform::files;
  // Builds a device folder, its optional serial file and the dev/block link.
  auto device = [&](const std::string& rel, const std::string& numbers, bool partition,
                    const std::string& serialFile, const std::string& serial) {
    ASSERT_FALSE(files::createDirectories(sys / rel));
    if (partition) {
      ASSERT_FALSE(files::writeFile(sys / (rel + "/partition"), "1\n"));
    }
    if (!serialFile.empty()) {
      const std::string disk = partition ? files::parentPath(sys / rel) : sys / rel;
      ASSERT_FALSE(files::createDirectories(files::parentPath(disk + "/" + serialFile)));
      ASSERT_FALSE(files::writeFile(disk + "/" + serialFile, serial));
    }
    ASSERT_FALSE(files::createDirectories(sys / "dev/block"));
    ASSERT_EQ(symlink(("../../" + rel).c_str(), (sys / ("dev/block/" + numbers)).c_str()), 0);
  };
  device("devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda1", "8:1",
         true, "device/serial", "  WD-12345  \n");
  device("devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb",
         "8:16", false, "", "");
  device("devices/pci0000:00/0000:00:1d.0/nvme/nvme0/nvme0n1/nvme0n1p3", "259:3", true, "serial",
         "S4EWNX0R\n");
  device("devices/pci0000:00/0000:00:04.0/virtio1/block/vda", "254:0", false, "serial", "");

  sysinfo::PhysicalDisk disk;
  ASSERT_TRUE(sysinfo::physicalDisk(sys.path(), 8, 1, disk));
  EXPECT_EQ(disk.serial, "WD-12345");
  EXPECT_EQ(disk.interfaceType, "IDE");
  ASSERT_TRUE(sysinfo::physicalDisk(sys.path(), 8, 16, disk));
  EXPECT_EQ(disk.serial, "");
  EXPECT_EQ(disk.interfaceType, "USB");
  ASSERT_TRUE(sysinfo::physicalDisk(sys.path(), 259, 3, disk));
  EXPECT_EQ(disk.serial, "S4EWNX0R");
  EXPECT_EQ(disk.interfaceType, "SCSI");
  ASSERT_TRUE(sysinfo::physicalDisk(sys.path(), 254, 0, disk));
  EXPECT_EQ(disk.serial, "");
  EXPECT_EQ(disk.interfaceType, "SCSI");
  EXPECT_FALSE(sysinfo::physicalDisk(sys.path(), 1, 1, disk));
}

TEST(SysInfoTest, ThisComputer) {
  EXPECT_FALSE(sysinfo::hostName().empty());
  sysinfo::OsInfo os;
  ASSERT_FALSE(sysinfo::osInfo(os));
  EXPECT_EQ(os.kernel.sysname, "Linux");
  EXPECT_FALSE(os.kernel.machine.empty());
  EXPECT_GT(os.kernel.major, 0);
  std::vector<sysinfo::CpuCore> cores;
  ASSERT_FALSE(sysinfo::cpus(cores));
  EXPECT_GE(cores.size(), 1u);
  EXPECT_LE(cores.size(), static_cast<size_t>(sysconf(_SC_NPROCESSORS_CONF)));
  sysinfo::MemoryInfo mem;
  ASSERT_FALSE(sysinfo::memory(mem));
  EXPECT_GT(mem.totalMb, 0u);
  EXPECT_LE(mem.availableMb, mem.totalMb);
  TempFolder dir;
  sysinfo::DiskInfo disk;
  ASSERT_FALSE(sysinfo::diskOf(dir.path(), disk));
  EXPECT_GT(disk.totalMb, 0u);
  EXPECT_LE(disk.freeMb, disk.totalMb);
  EXPECT_FALSE(disk.fsType.empty());
  EXPECT_EQ(sysinfo::diskOf(dir / "missing", disk), std::errc::no_such_file_or_directory);
}
