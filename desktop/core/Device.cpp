#include "Device.h"

#include <QtGlobal>
#include <cstdio>

#include "platform/files.h"
#include "platform/text.h"
#include "platform/uuid.h"

namespace varnelo::desktop {

Device::Device(SettingsStore& settings, std::string dataFolder)
    : settings_(settings), dataFolder_(std::move(dataFolder)) {}

std::string Device::formatId(const std::array<uint8_t, 16>& b) {
  char text[39];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return text;
}

std::string Device::newId() {
  return formatId(platform::newUuidBytes());
}

std::string Device::takeLegacyId() {
  const std::string path = platform::files::joinPath(dataFolder_, "deviceid");
  if (!platform::files::isRegularFile(path)) return "";
  std::string bytes;
  platform::files::readRange(path, 0, 256, bytes);
  if (std::error_code ec = platform::files::removeFile(path)) {
    qWarning("device: cannot remove %s: %s", path.c_str(), ec.message().c_str());
  }
  // The old file held the id text, perhaps with a terminator after it.
  bytes = bytes.substr(0, bytes.find_first_of(std::string("\0\r\n", 3)));
  if (bytes.size() <= 1 || !platform::isValidUtf8(bytes)) return "";
  return bytes;
}

std::string Device::deviceId() {
  std::lock_guard lock(mutex_);
  if (!id_.empty()) return id_;
  id_ = settings_.deviceId();
  if (id_.empty()) id_ = takeLegacyId();
  if (id_.empty()) id_ = newId();
  settings_.setDevice(id_, nameLocked());
  return id_;
}

std::string Device::deviceName() {
  std::lock_guard lock(mutex_);
  return nameLocked();
}

const std::string& Device::nameLocked() {
  if (name_.empty()) name_ = settings_.deviceName();
  if (name_.empty()) name_ = hostName_.empty() ? "PC Windows" : hostName_;
  return name_;
}

void Device::setHostName(const std::string& hostName) {
  std::lock_guard lock(mutex_);
  hostName_ = hostName;
}

void Device::setDeviceName(const std::string& name) {
  std::string id = deviceId();
  std::lock_guard lock(mutex_);
  name_ = name;
  settings_.setDevice(id, name_);
}

std::string Device::userAgent(const std::string& version, const std::string& architecture,
                              const std::string& osName) {
  auto part = [](const std::string& s) { return s.empty() ? std::string("unknown") : s; };
  return "varnelo-win/" + part(version) + " (b:" + part(architecture) + "; o:" + part(osName) + ")";
}

Json::Value Device::describe(const DeviceFacts& facts) {
  Json::Value root(Json::objectValue);
  root["id"] = deviceId();
  std::string guid = newId();
  root["guid"] = guid;
  Json::Value& os = root["os"];
  os["type"] = facts.osType;
  os["name"] = facts.osName.empty() ? "Unknown OS Name" : facts.osName;
  os["ver"] = facts.osVersion;
  Json::Value& cpus = root["cpu"];
  cpus = Json::Value(Json::arrayValue);
  for (const DeviceFacts::Cpu& c : facts.cpus) {
    Json::Value cpu;
    cpu["freq"] = c.freqMHz;
    cpu["flags"] = c.flags;
    cpu["vendor"] = c.vendor;
    cpu["family"] = c.family;
    cpu["model"] = c.model;
    cpu["name"] = c.name;
    cpus.append(cpu);
  }
  if (facts.memoryKnown) {
    root["mem"]["quota"] = facts.memTotalMB;
    root["mem"]["free"] = facts.memFreeMB;
  }
  if (facts.diskKnown) {
    Json::Value& disk = root["disk"];
    disk["sn"] = facts.diskSerial;
    disk["fs"] = facts.diskFileSystem;
    disk["free"] = facts.diskFreeMB;
    disk["quota"] = facts.diskTotalMB;
    disk["type"] = facts.diskInterface;
  }
  return root;
}

std::string Device::compact(const Json::Value& value) {
  // Object members are kept sorted by key, so the text is in key order.
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

int32_t Device::registerDevice(const varnelo_credentials* session, const std::string& hostName) {
  if (!session) return -105;
  int32_t rc = varnelo_set_device(session, deviceId().c_str(), hostName.c_str());
  if (rc == 200) {
    setDeviceName(hostName);
  } else {
    qWarning("device: registering as \"%s\" failed with %d", hostName.c_str(), rc);
  }
  return rc;
}

int32_t Device::reportDevice(const varnelo_credentials* session, const DeviceFacts& facts) {
  if (!session) return -105;
  if (facts.cpus.empty() || !facts.diskKnown) return -4;
  const std::string text = compact(describe(facts));
  int32_t rc = varnelo_log(session, "device", text.c_str(), static_cast<int32_t>(text.size()));
  if (rc != 200) qWarning("device: the description was refused with %d", rc);
  return rc;
}

void Device::refreshName(const varnelo_credentials* session) {
  if (!session) return;
  varnelo_device_list_result* list = nullptr;
  if (varnelo_list_devices(session, &list) != 200 || !list) {
    varnelo_device_destroy_list_result(list);
    return;
  }
  const std::string id = deviceId();
  const int32_t count = varnelo_array_size(list->devices);
  for (int32_t i = 0; i < count; ++i) {
    varnelo_device_info info{};
    if (varnelo_devinfo_array_at(list->devices, i, &info) != 200) continue;
    if (info.devId && id == info.devId && info.devName && *info.devName) {
      setDeviceName(info.devName);
      break;
    }
  }
  varnelo_device_destroy_list_result(list);
}

int32_t Device::unlink(const varnelo_credentials* session) {
  if (!session) return -105;
  return varnelo_unlink_device(session, deviceId().c_str());
}

}  // namespace varnelo::desktop
