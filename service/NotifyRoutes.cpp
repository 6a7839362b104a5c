// The change notification endpoint: a signed POST /notify with
// {"cursor": text, "wait": seconds} is held until the account's tree
// changes or the wait ends, and answered {"cursor": current, "changed":
// bool}. A cursor that is not the current one (an old one, one from before
// a restart, an empty one) is answered "changed" at once. Beyond the feed's
// bounds on waiting requests the answer is 503 with Retry-After. /info tells
// the client the first cursor and the longest wait.
//
// The reply is sent chunked: while it waits the handler writes a blank every
// few seconds, which JSON ignores and which fails once the client has gone,
// so a client that gave up (a stopped engine) frees its seat within seconds
// rather than at the end of the wait.
#include <algorithm>
#include <chrono>

#include "ChangeFeed.h"
#include "HttpUtil.h"
#include "Log.h"
#include "Routes.h"

namespace varnelo::service {
namespace {
constexpr const char* kRetryAfterSeconds = "10";
// A cursor is "<16 hex digits>.<count>"; anything longer is no cursor of ours.
constexpr size_t kMaxCursorBytes = 64;
constexpr auto kProbeInterval = std::chrono::seconds(3);
}  // namespace

void installNotifyRoutes(httplib::Server& server, ServiceContext& ctx, bool secure) {
  server.Post("/notify", [&ctx, secure](const httplib::Request& req, httplib::Response& res) {
    Caller caller;
    if (!http::authenticate(ctx, req, res, secure, TokenRequirement::kAccess, &caller)) return;
    Json::Value body;
    if (!http::parseJson(req.body, &body) || !body.isObject() || !body["cursor"].isString() ||
        body["cursor"].asString().size() > kMaxCursorBytes ||
        !(body["wait"].isNull() || body["wait"].isIntegral())) {
      return http::sendError(ctx, res, 400,
                             "the body must be {\"cursor\": text, \"wait\": seconds}");
    }
    int64_t seconds = body["wait"].isNull() ? ChangeFeed::kMaxWaitSeconds : body["wait"].asInt64();
    seconds = std::clamp<int64_t>(seconds, 0, ChangeFeed::kMaxWaitSeconds);
    const int64_t account = caller.tokenInfo.user;
    auto seat = ctx.feed.join(account);
    if (!seat) {
      logLine(LogLevel::kInfo, "notify: too many waiting requests (account %lld)",
              static_cast<long long>(account));
      res.set_header("Retry-After", kRetryAfterSeconds);
      return http::sendError(ctx, res, 503, "too many waiting requests, retry later");
    }
    // The provider runs on this request's thread after the handler returns;
    // it owns the seat until the reply is written or the client has gone.
    auto held = std::make_shared<ChangeFeed::Seat>(std::move(*seat));
    const std::string cursor = body["cursor"].asString();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    res.set_chunked_content_provider(
        "application/json", [&ctx, held, cursor, deadline](size_t, httplib::DataSink& sink) {
          std::string current;
          ChangeFeed::Wait result;
          for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            result = ctx.feed.wait(*held, cursor,
                                   std::clamp<std::chrono::milliseconds>(
                                       left, std::chrono::milliseconds(0), kProbeInterval),
                                   &current);
            if (result != ChangeFeed::Wait::kTimedOut || left <= kProbeInterval) break;
            if (!sink.write(" ", 1)) return false;  // the client has gone
          }
          Json::Value reply;
          reply["cursor"] = current;
          reply["changed"] = result == ChangeFeed::Wait::kChanged;
          const std::string text = http::compactJson(reply);
          if (!sink.write(text.data(), text.size())) return false;
          sink.done();
          return true;
        });
  });
}

}  // namespace varnelo::service
