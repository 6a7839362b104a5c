// The device registry of an account: register or rename, unlink, list. All
// requests are signed with an access token; both listeners serve them.
#include "HttpUtil.h"
#include "Routes.h"

namespace varnelo::service {

void installDeviceRoutes(httplib::Server& server, ServiceContext& ctx, bool secure) {
  using httplib::Request;
  using httplib::Response;

  server.Post("/device/set", [&ctx, secure](const Request& req, Response& res) {
    Caller caller;
    if (!http::authenticate(ctx, req, res, secure, TokenRequirement::kAccess, &caller)) return;
    Json::Value body;
    if (!http::parseJson(req.body, &body) || !body.isObject() || !body["devId"].isString() ||
        body["devId"].asString().empty() || !body["devName"].isString()) {
      http::sendError(ctx, res, 400, "devId and devName are required texts");
      return;
    }
    ctx.accounts.setDevice(caller.tokenInfo.user, body["devId"].asString(),
                           body["devName"].asString());
    Json::Value v;
    v["code"] = 0;
    http::sendJson(ctx, res, 200, v);
  });

  server.Post("/device/unlink", [&ctx, secure](const Request& req, Response& res) {
    Caller caller;
    if (!http::authenticate(ctx, req, res, secure, TokenRequirement::kAccess, &caller)) return;
    Json::Value body;
    if (!http::parseJson(req.body, &body) || !body.isObject() || !body["devId"].isString()) {
      http::sendError(ctx, res, 400, "devId is a required text");
      return;
    }
    if (!ctx.accounts.unlinkDevice(caller.tokenInfo.user, body["devId"].asString())) {
      http::sendError(ctx, res, 404, "no such device");
      return;
    }
    Json::Value v;
    v["code"] = 0;
    http::sendJson(ctx, res, 200, v);
  });

  server.Post("/device/list", [&ctx, secure](const Request& req, Response& res) {
    Caller caller;
    if (!http::authenticate(ctx, req, res, secure, TokenRequirement::kAccess, &caller)) return;
    Json::Value reply;
    reply["devices"] = Json::Value(Json::arrayValue);
    for (const auto& [id, name] : ctx.accounts.listDevices(caller.tokenInfo.user)) {
      Json::Value d;
      d["devId"] = id;
      d["devName"] = name;
      reply["devices"].append(d);
    }
    http::sendJson(ctx, res, 200, reply);
  });
}

}  // namespace varnelo::service
