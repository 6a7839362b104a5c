// The long wait for a change of the account's tree (POST /notify), which
// the engine's remote watch runs on a thread of its own.
#include <cstring>

#include "ApiGuard.h"
#include "JsonAccess.h"
#include "JsonRequest.h"
#include "Log.h"
#include "MetaApi.h"
#include "MetaRequest.h"

namespace varnelo::http {
namespace {
// {"cursor": "<64 characters at most>", "changed": true} and the blanks the
// service writes while it waits (one every few seconds): far below this.
constexpr size_t kMaxReplyBytes = 4096;
// Beyond the wait: the reply's way back, a slow service.
constexpr long kReplyMarginMs = 15000;
constexpr size_t kMaxCursorChars = 64;
}  // namespace

bool valid_notify_cursor(const char* text) {
  if (text == nullptr) return false;
  const size_t length = strnlen(text, kMaxCursorChars + 1);
  if (length == 0 || length > kMaxCursorChars) return false;
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
          c == '-' || c == '_'))
      return false;
  }
  return true;
}

int32_t meta_wait_change(const varnelo_credentials* credentials, const std::string& cursor,
                         int waitSeconds, CancelSignal* cancel, bool* changed, std::string* next) {
  if (credentials == nullptr || changed == nullptr || next == nullptr) return 499;
  return api_guard(__func__, [&]() -> int32_t {
    Json::Value request(Json::objectValue), reply;
    request["cursor"] = cursor;
    request["wait"] = waitSeconds;
    const long timeoutMs = static_cast<long>(waitSeconds) * 1000 + kReplyMarginMs;
    const int32_t rc = signed_json_post_bounded(credentials, file_url("/notify"), request, reply,
                                                timeoutMs, kMaxReplyBytes, cancel);
    if (rc != 200) return rc;
    const char* text = text_of(member(reply, "cursor"));
    const Json::Value& flag = member(reply, "changed");
    if (!valid_notify_cursor(text) || !flag.isBool()) {
      log_write(kLogError, kModuleVarnelo, "notify reply is malformed");
      return -1;
    }
    *changed = flag.asBool();
    *next = text;
    return 200;
  });
}

}  // namespace varnelo::http
