#include "AccountInfo.h"

#include <json/json.h>

#include <exception>
#include <memory>

namespace varnelo::desktop {

int32_t parseAccountInfo(const std::string& json, AccountInfo& out) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  try {
    if (!reader->parse(json.data(), json.data() + json.size(), &root, nullptr)) return -1;
  } catch (const std::exception&) {
    return -1;  // nested deeper than the reader's limit
  }
  if (!root.isObject()) return 200;
  const Json::Value& user = root["user"];
  if (!user.isObject()) return 200;
  for (const char* key : {"email", "username", "nickname", "id"}) {
    if (user[key].isString()) out[key] = user[key].asString();
  }
  if (user["native"].isBool() && user["native"].asBool()) out["type"] = "native";
  const Json::Value& accounts = user["accounts"];
  if (!accounts.isArray()) return 200;
  for (const Json::Value& account : accounts) {
    if (!account.isObject() || !account["type"].isString()) continue;
    const std::string type = account["type"].asString();
    if (type.rfind("kuv", 0) == 0) {
      out["type"] = "kuv";
      if (account["login"].isString()) out["username"] = account["login"].asString();
    } else if (type.rfind("google", 0) == 0) {
      // A passport account outranks a linked Google account.
      auto known = out.find("type");
      if (known != out.end() && known->second.rfind("kuv", 0) == 0) continue;
      out["type"] = "google";
      if (account["email"].isString()) out["email"] = account["email"].asString();
    }
  }
  return 200;
}

}  // namespace varnelo::desktop
