// The library-side shape of the result objects handed out through the C
// interface: each derives from its public record and owns what the public
// pointers point into (texts, the parsed reply, decoded bytes). Created and
// destroyed only by this library. Objects are not shared between threads
// by the library; callers own them until they destroy them.
#pragma once

#include <json/json.h>

#include <string>
#include <vector>

#include "varnelo/account.h"
#include "varnelo/meta.h"

// The opaque array handle is a JSON array (or null) inside a result's reply.
struct varnelo_array {};

namespace varnelo::http {

inline const Json::Value* as_json(const varnelo_array* array) {
  return reinterpret_cast<const Json::Value*>(array);
}
inline const varnelo_array* as_handle(const Json::Value* value) {
  return reinterpret_cast<const varnelo_array*>(value);
}

struct TokenPair final : varnelo_token_pair {
  TokenPair(std::string k, std::string s) : ownedKey(std::move(k)), ownedSecret(std::move(s)) {
    key = ownedKey.c_str();
    secret = ownedSecret.c_str();
  }
  TokenPair(const TokenPair&) = delete;
  TokenPair& operator=(const TokenPair&) = delete;
  std::string ownedKey;
  std::string ownedSecret;
};

struct Credentials final : varnelo_credentials {
  Credentials(const varnelo_token_pair& c, const varnelo_token_pair& a, const char* u)
      : consumerKey(c.key ? c.key : ""),
        consumerSecret(c.secret ? c.secret : ""),
        accessKey(a.key ? a.key : ""),
        accessSecret(a.secret ? a.secret : ""),
        ownedUser(u ? u : "") {
    consumer = {consumerKey.c_str(), consumerSecret.c_str()};
    access = {accessKey.c_str(), accessSecret.c_str()};
    user = ownedUser.c_str();
  }
  Credentials(const Credentials&) = delete;
  Credentials& operator=(const Credentials&) = delete;
  std::string consumerKey, consumerSecret, accessKey, accessSecret, ownedUser;
};

struct UserInfo final : varnelo_user_info_result {
  explicit UserInfo(std::string t) : ownedText(std::move(t)) { text = ownedText.c_str(); }
  UserInfo(const UserInfo&) = delete;
  UserInfo& operator=(const UserInfo&) = delete;
  std::string ownedText;
};

struct DeviceListResult final : varnelo_device_list_result {
  DeviceListResult() { devices = nullptr; }
  DeviceListResult(const DeviceListResult&) = delete;
  DeviceListResult& operator=(const DeviceListResult&) = delete;
  Json::Value reply;
};

struct GetResult final : varnelo_meta_get_result {
  GetResult() : varnelo_meta_get_result{} {}
  GetResult(const GetResult&) = delete;
  GetResult& operator=(const GetResult&) = delete;
  Json::Value reply;
  std::vector<uint8_t> buffer;  // decoded "data"
};

struct PrepareResult final : varnelo_meta_prepare_result {
  PrepareResult() { required = nullptr; }
  PrepareResult(const PrepareResult&) = delete;
  PrepareResult& operator=(const PrepareResult&) = delete;
  Json::Value reply;
};

struct PurgeResult final : varnelo_meta_purge_result {
  PurgeResult() : varnelo_meta_purge_result{} {}
  PurgeResult(const PurgeResult&) = delete;
  PurgeResult& operator=(const PurgeResult&) = delete;
  Json::Value reply;
};

}  // namespace varnelo::http
