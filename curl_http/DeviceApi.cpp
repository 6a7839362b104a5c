// Exported device registry functions: register, unlink and list devices.
#include "ApiGuard.h"
#include "JsonAccess.h"
#include "JsonRequest.h"
#include "Log.h"
#include "Records.h"
#include "ServiceBases.h"

using namespace varnelo;
using namespace varnelo::http;

extern "C" {

int32_t varnelo_set_device(const varnelo_credentials* credentials, const char* devId,
                           const char* devName) {
  return api_guard(__func__, [&]() -> int32_t {
    if (credentials == nullptr || devId == nullptr || devName == nullptr) return 499;
    Json::Value body(Json::objectValue);
    body["devId"] = devId;
    body["devName"] = devName;
    return signed_json_post_status(credentials, device_service_base() + "/device/set", body);
  });
}

int32_t varnelo_unlink_device(const varnelo_credentials* credentials, const char* devId) {
  return api_guard(__func__, [&]() -> int32_t {
    if (credentials == nullptr || devId == nullptr) return 499;
    Json::Value body(Json::objectValue);
    body["devId"] = devId;
    return signed_json_post_status(credentials, device_service_base() + "/device/unlink", body);
  });
}

int32_t varnelo_list_devices(const varnelo_credentials* credentials,
                             varnelo_device_list_result** out) {
  return api_guard(__func__, [&]() -> int32_t {
    if (out != nullptr) *out = nullptr;
    if (credentials == nullptr || out == nullptr) return 499;
    auto result = std::make_unique<DeviceListResult>();
    int32_t rc = signed_json_post(credentials, device_service_base() + "/device/list",
                                  Json::Value(), result->reply);
    if (rc != 200) return rc;
    const Json::Value& devices = member(result->reply, "devices");
    if (!devices.isArray() && !devices.isNull()) {
      log_write(kLogError, kModuleVarnelo, "device list reply: \"devices\" is not an array");
      return -1;
    }
    result->devices = as_handle(&devices);
    *out = result.release();
    return 200;
  });
}

int32_t varnelo_device_destroy_list_result(varnelo_device_list_result* result) {
  delete static_cast<DeviceListResult*>(result);
  return 200;
}

int32_t varnelo_devinfo_array_at(const varnelo_array* array, int32_t index,
                                 varnelo_device_info* out) {
  if (out == nullptr) return 499;
  *out = {};
  if (array == nullptr) return 404;
  const Json::Value& item = element(*as_json(array), index);
  if (!item.isObject() && !item.isNull()) return 404;
  const char* devId = text_of(member(item, "devId"));
  const char* devName = text_of(member(item, "devName"));
  if (devId == nullptr || devName == nullptr) return 404;
  *out = {devId, devName};
  return 200;
}

}  // extern "C"
