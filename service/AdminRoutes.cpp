// The admin API that tests and scripts use: users and quotas, fault plans,
// update publishing, stored log uploads, per-endpoint counters and a dump of
// an account's tree. The Service lets requests reach these routes only from
// loopback and with the X-Admin-Token header.
#include <cstdlib>

#include "Crypto.h"
#include "HttpUtil.h"
#include "Routes.h"

namespace varnelo::service {
namespace {
using httplib::Request;
using httplib::Response;

Json::Value okReply() {
  Json::Value v;
  v["code"] = 0;
  return v;
}

// SHA-1 of a file's content, read chunk by chunk from the store.
std::string contentSha1(ServiceContext& ctx, const TreeDumpRow& row) {
  Sha1Stream hash;
  std::string buffer;
  for (size_t i = 0; i + 20 <= row.keys.size(); i += 20) {
    int64_t length = ctx.chunks.length(row.keys.substr(i, 20));
    ChunkReader reader(ctx.chunks, row.keys.substr(i, 20));
    if (length < 0 || !reader.ok()) return "";
    buffer.resize(static_cast<size_t>(length));
    if (!reader.readAt(0, buffer.data(), buffer.size())) return "";
    hash.update(buffer.data(), buffer.size());
  }
  return toHex(hash.finish());
}

}  // namespace

void installAdminRoutes(httplib::Server& server, ServiceContext& ctx, bool) {
  server.Post("/admin/users", [&ctx](const Request& req, Response& res) {
    Json::Value body;
    if (!http::parseJson(req.body, &body) || !body.isObject() || !body["user"].isString() ||
        !body["password"].isString()) {
      return http::sendError(ctx, res, 400, "user and password are required");
    }
    User user;
    if (!ctx.accounts.upsertUser(body["user"].asString(), body["password"].asString(),
                                 body.get("provider", "native").asString(),
                                 body.get("state", "active").asString(),
                                 body.get("quota", Json::Int64{10} << 30).asInt64(), &user)) {
      return http::sendError(ctx, res, 400, "invalid user settings");
    }
    Json::Value v = okReply();
    v["id"] = static_cast<Json::Int64>(user.id);
    http::sendJson(ctx, res, 200, v);
  });

  server.Post("/admin/quota", [&ctx](const Request& req, Response& res) {
    Json::Value body;
    if (!http::parseJson(req.body, &body) || !body.isObject() || !body["user"].isString() ||
        !body["quota"].isIntegral()) {
      return http::sendError(ctx, res, 400, "user and quota are required");
    }
    if (!ctx.accounts.setQuota(body["user"].asString(), body["quota"].asInt64())) {
      return http::sendError(ctx, res, 404, "no such user");
    }
    http::sendJson(ctx, res, 200, okReply());
  });

  server.Post("/admin/faults", [&ctx](const Request& req, Response& res) {
    std::string error;
    if (!ctx.faults.configure(req.body, &error)) return http::sendError(ctx, res, 400, error);
    http::sendJson(ctx, res, 200, okReply());
  });
  server.Get("/admin/faults", [&ctx](const Request&, Response& res) {
    Json::Value v;
    v["plan"] = ctx.faults.describe();
    http::sendJson(ctx, res, 200, v);
  });

  server.Put("/admin/update", [&ctx](const Request& req, Response& res) {
    if (!ctx.updates.publish(http::queryParam(req, "version"), req.body)) {
      return http::sendError(ctx, res, 400, "invalid version or cannot store the installer");
    }
    http::sendJson(ctx, res, 200, okReply());
  });

  server.Get("/admin/logs", [&ctx](const Request&, Response& res) {
    Json::Value v;
    v["logs"] = Json::Value(Json::arrayValue);
    for (const LogUpload& log : ctx.accounts.logs()) {
      Json::Value item;
      item["id"] = static_cast<Json::Int64>(log.id);
      item["time"] = static_cast<Json::Int64>(log.time);
      item["remote"] = log.remote;
      item["text"] = log.body;
      v["logs"].append(item);
    }
    http::sendJson(ctx, res, 200, v);
  });

  server.Get("/admin/counters", [&ctx](const Request&, Response& res) {
    Json::Value v;
    v["endpoints"] = Json::Value(Json::objectValue);
    for (const auto& [endpoint, c] : ctx.counters.snapshot()) {
      Json::Value item;
      item["requests"] = static_cast<Json::UInt64>(c.requests);
      item["bytesIn"] = static_cast<Json::UInt64>(c.bytesIn);
      item["bytesOut"] = static_cast<Json::UInt64>(c.bytesOut);
      v["endpoints"][endpoint] = item;
    }
    http::sendJson(ctx, res, 200, v);
  });
  server.Post("/admin/counters/reset", [&ctx](const Request&, Response& res) {
    ctx.counters.reset();
    http::sendJson(ctx, res, 200, okReply());
  });

  server.Get("/admin/tree", [&ctx](const Request& req, Response& res) {
    User user;
    if (!ctx.accounts.findUserByName(http::queryParam(req, "user"), &user)) {
      return http::sendError(ctx, res, 404, "no such user");
    }
    Json::Value v;
    v["entries"] = Json::Value(Json::arrayValue);
    for (const TreeDumpRow& row : ctx.tree.dump(user.id)) {
      Json::Value item;
      item["path"] = row.path;
      item["type"] = row.type;
      item["size"] = static_cast<Json::Int64>(row.size);
      if (row.type == kTypeFile) item["sha1"] = contentSha1(ctx, row);
      v["entries"].append(item);
    }
    v["used"] = static_cast<Json::Int64>(user.used);
    http::sendJson(ctx, res, 200, v);
  });
}

}  // namespace varnelo::service
