// Small helpers shared by the metadata calls: the request body members
// common to several calls and the URL of each call. Thread safe.
#pragma once

#include <json/json.h>

#include <string>
#include <string_view>

#include "ServiceBases.h"

namespace varnelo::http {

inline Json::Value json_text(std::string_view text) {
  return Json::Value(text.data(), text.data() + text.size());
}

inline std::string file_url(const char* call) {
  return file_service_base() + call;
}

}  // namespace varnelo::http
