#include "HttpUtil.h"

#include <exception>
#include <memory>

#include "Log.h"
#include "UrlCodec.h"

namespace varnelo::service::http {

FaultDecision& currentFaults() {
  thread_local FaultDecision decision;
  return decision;
}

std::string origin(const httplib::Request& req, bool secure) {
  std::string host = req.get_header_value("Host");
  if (host.empty()) host = req.local_addr + ":" + std::to_string(req.local_port);
  return std::string(secure ? "https://" : "http://") + host;
}

std::string compactJson(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, value);
}

bool parseJson(const std::string& body, Json::Value* out) {
  size_t begin = body.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) {
    *out = Json::Value();
    return true;
  }
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  try {
    return reader->parse(body.data() + begin, body.data() + body.size(), out, &errors);
  } catch (const std::exception&) {
    // Nesting deeper than the reader's limit is thrown, not returned: a bad
    // request like any other unreadable body, not a server error.
    *out = Json::Value();
    return false;
  }
}

void sendText(ServiceContext& ctx, httplib::Response& res, int status, const std::string& text,
              const char* contentType) {
  res.status = status;
  const FaultDecision& faults = currentFaults();
  if (faults.drop && !text.empty()) {
    // Announce the whole body, send half of it, then drop the connection.
    auto body = std::make_shared<std::string>(text);
    res.set_content_provider(body->size(), contentType,
                             [body](size_t, size_t, httplib::DataSink& sink) {
                               sink.write(body->data(), body->size() / 2);
                               return false;
                             });
  } else {
    res.set_content(text, contentType);
  }
  (void)ctx;
}

void sendJson(ServiceContext& ctx, httplib::Response& res, int status, const Json::Value& value) {
  sendText(ctx, res, status, compactJson(value), "application/json");
}

void sendError(ServiceContext& ctx, httplib::Response& res, int status,
               const std::string& message) {
  Json::Value v;
  v["error"] = message;
  sendJson(ctx, res, status, v);
}

void sendHtml(ServiceContext& ctx, httplib::Response& res, int status, const std::string& title,
              const std::string& bodyHtml) {
  std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                     htmlEscape(title) + "</title></head>\n<body>\n<h1>" + htmlEscape(title) +
                     "</h1>\n" + bodyHtml + "\n</body></html>\n";
  sendText(ctx, res, status, page, "text/html; charset=utf-8");
}

bool authenticate(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res,
                  bool secure, TokenRequirement requirement, Caller* caller) {
  SignedRequest signedRequest;
  signedRequest.method = req.method;
  signedRequest.scheme = secure ? "https" : "http";
  signedRequest.host = req.get_header_value("Host");
  signedRequest.target = req.target;
  signedRequest.authorization = req.get_header_value("Authorization");
  std::string type = req.get_header_value("Content-Type");
  if (req.method == "POST" && type.rfind("application/x-www-form-urlencoded", 0) == 0) {
    signedRequest.formBody = parseQuery(req.body);
  }
  OAuthResult result = ctx.verifier.verify(signedRequest, requirement, caller);
  if (result == OAuthResult::kOk) return true;
  logLine(LogLevel::kWarning, "%s %s refused: %s", req.method.c_str(), req.path.c_str(),
          oauthResultName(result));
  sendError(ctx, res, 401, std::string("signature refused: ") + oauthResultName(result));
  return false;
}

std::string queryParam(const httplib::Request& req, const std::string& name) {
  size_t q = req.target.find('?');
  if (q == std::string::npos) return {};
  return queryValue(parseQuery(std::string_view(req.target).substr(q + 1)), name);
}

bool isLoopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1" || address == "::ffff:127.0.0.1";
}

}  // namespace varnelo::service::http
