#include "UpdateManifest.h"

#include <json/json.h>

#include <exception>
#include <memory>

namespace varnelo::host {
namespace {

constexpr size_t kMaxVersion = 64;
constexpr size_t kMaxUrl = 2048;

bool valid_version(const std::string& v) {
  if (v.empty() || v.size() > kMaxVersion) return false;
  for (char c : v) {
    bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              c == '.' || c == '-';
    if (!ok) return false;
  }
  // "." or ".." alone would name a folder once it is part of a file name.
  return v.find_first_not_of('.') != std::string::npos;
}

bool valid_url(const std::string& u) {
  if (u.size() > kMaxUrl) return false;
  if (u.rfind("http://", 0) != 0 && u.rfind("https://", 0) != 0) return false;
  for (unsigned char c : u)
    if (c <= 0x20 || c == 0x7f) return false;
  return true;
}

bool valid_sha256(const std::string& d) {
  if (d.size() != 64) return false;
  for (char c : d)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

bool fail(std::string* why, const char* text) {
  if (why != nullptr) *why = text;
  return false;
}

}  // namespace

std::optional<UpdateManifest> parse_update_manifest(std::string_view text, std::string* why) {
  Json::CharReaderBuilder builder;
  builder["allowComments"] = true;
  builder["collectComments"] = false;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  bool parsed = false;
  try {
    parsed = reader->parse(text.data(), text.data() + text.size(), &root, &errors);
  } catch (const std::exception&) {
    // Nesting deeper than the reader's limit is thrown, not returned.
  }
  if (!parsed) {
    fail(why, "the manifest is not JSON");
    return std::nullopt;
  }
  const Json::Value* x86 = root.isObject() ? root.find("x86", "x86" + 3) : nullptr;
  if (x86 == nullptr || !x86->isObject()) {
    fail(why, "the manifest has no \"x86\" object");
    return std::nullopt;
  }
  const Json::Value& version = (*x86)["version"];
  const Json::Value& url = (*x86)["url"];
  if (!version.isString() || !url.isString()) {
    fail(why, "\"version\" or \"url\" is not a string");
    return std::nullopt;
  }
  UpdateManifest m;
  m.version = version.asString();
  m.url = url.asString();
  if (!valid_version(m.version)) {
    fail(why, "the version holds characters a version never has");
    return std::nullopt;
  }
  if (!valid_url(m.url)) {
    fail(why, "the installer address is not a plain http(s) URL");
    return std::nullopt;
  }
  const Json::Value& sha256 = (*x86)["sha256"];
  const Json::Value& signature = (*x86)["signature2"];
  if (sha256.isString()) m.sha256 = sha256.asString();
  if (signature.isString()) m.signature = signature.asString();
  const Json::Value& expires = (*x86)["expires"];
  const Json::Value& sequence = (*x86)["sequence"];
  if ((!expires.isNull() &&
       !(expires.isIntegral() && expires.isInt64() && expires.asInt64() > 0)) ||
      (!sequence.isNull() &&
       !(sequence.isIntegral() && sequence.isInt64() && sequence.asInt64() >= 0))) {
    fail(why, "\"expires\" or \"sequence\" is not a whole number in range");
    return std::nullopt;
  }
  if (!expires.isNull()) m.expires = expires.asInt64();
  if (!sequence.isNull()) m.sequence = sequence.asInt64();
  if (!m.sha256.empty() && !valid_sha256(m.sha256)) {
    fail(why, "the digest is not 64 lower-case hex digits");
    return std::nullopt;
  }
  return m;
}

std::string update_message(std::string_view version, std::string_view url, std::string_view sha256,
                           int64_t expires, int64_t sequence) {
  std::string text = "varnelo-update-2\nx86\n";
  text.append(version).append("\n").append(url).append("\n").append(sha256).append("\n");
  text.append(std::to_string(expires)).append("\n").append(std::to_string(sequence)).append("\n");
  return text;
}

}  // namespace varnelo::host
