// Helpers shared by the route files: replies (JSON, text, HTML) that count
// their bytes and honour the drop fault chosen for the request, the request's
// origin, JSON body parsing, OAuth authentication of a request and the
// loopback check. Called on the request threads; the fault decision of the
// request being served lives in a thread-local slot, since cpp-httplib runs a
// request from routing to reply on one thread.
#pragma once

#include <httplib.h>
#include <json/json.h>

#include <string>
#include <vector>

#include "Faults.h"
#include "OAuthVerifier.h"
#include "ServiceContext.h"

namespace varnelo::service::http {

// The fault decision of the request on this thread (set before routing).
FaultDecision& currentFaults();

// "http://host:port" or "https://host:port" as the client addressed us.
std::string origin(const httplib::Request& req, bool secure);

std::string compactJson(const Json::Value& value);
// An empty body parses as the null value; false for anything but JSON.
bool parseJson(const std::string& body, Json::Value* out);

void sendJson(ServiceContext& ctx, httplib::Response& res, int status, const Json::Value& value);
// {"error": message} with the status.
void sendError(ServiceContext& ctx, httplib::Response& res, int status, const std::string& message);
void sendText(ServiceContext& ctx, httplib::Response& res, int status, const std::string& text,
              const char* contentType);
void sendHtml(ServiceContext& ctx, httplib::Response& res, int status, const std::string& title,
              const std::string& bodyHtml);

// Verifies the request's signature; on failure logs the reason, sends 401
// and returns false.
bool authenticate(ServiceContext& ctx, const httplib::Request& req, httplib::Response& res,
                  bool secure, TokenRequirement requirement, Caller* caller);

bool isLoopback(const std::string& address);

// A query parameter of the raw request target, decoded by our own rules
// (cpp-httplib's parser mangles values that hold "=").
std::string queryParam(const httplib::Request& req, const std::string& name);

}  // namespace varnelo::service::http
