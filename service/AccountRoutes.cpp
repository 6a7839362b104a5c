// Sign-in and account endpoints: the three token requests, the browser
// authorisation page, the profile and the ping. Token requests and the API
// answer only on the HTTPS listener; the authorisation page is on both,
// because the client opens it in a browser over plain HTTP.
#include "HttpUtil.h"
#include "Log.h"
#include "Routes.h"
#include "UrlCodec.h"

namespace varnelo::service {
namespace {
using httplib::Request;
using httplib::Response;

void sendTokens(ServiceContext& ctx, Response& res, const TokenPair& pair, bool confirmed) {
  std::string body =
      "oauth_token=" + oauthEncode(pair.token) + "&oauth_token_secret=" + oauthEncode(pair.secret);
  if (confirmed) body += "&oauth_callback_confirmed=true";
  http::sendText(ctx, res, 200, body, "application/x-www-form-urlencoded");
}

// 401 for a wrong password, 409 {"code":1} for an account that is not
// activated, 409 {"code":4} for an account unknown to the provider or a
// passport account not bound to a service account.
bool sendSignInRefusal(ServiceContext& ctx, Response& res, SignInResult result) {
  Json::Value v;
  switch (result) {
    case SignInResult::kOk:
      return false;
    case SignInResult::kWrongPassword:
      http::sendError(ctx, res, 401, "wrong user name or password");
      return true;
    case SignInResult::kInactive:
      v["code"] = 1;
      v["error"] = "account not activated";
      break;
    case SignInResult::kUnbound:
    case SignInResult::kUnknown:
      v["code"] = 4;
      v["error"] = "account not registered or not bound";
      break;
  }
  http::sendJson(ctx, res, 409, v);
  return true;
}

std::string authorizeForm(const std::string& token, const std::string& provider,
                          const std::string& message) {
  std::string html;
  if (!message.empty()) html += "<p class=\"error\">" + htmlEscape(message) + "</p>\n";
  html +=
      "<form method=\"post\" action=\"/oauth/authorize\">\n"
      "<input type=\"hidden\" name=\"oauth_token\" value=\"" +
      htmlEscape(token) +
      "\">\n"
      "<input type=\"hidden\" name=\"provider\" value=\"" +
      htmlEscape(provider) +
      "\">\n"
      "<p><label>User name or e-mail <input name=\"username\"></label></p>\n"
      "<p><label>Password <input type=\"password\" name=\"password\"></label></p>\n"
      "<p><button type=\"submit\">Sign in and allow Varnelo</button></p>\n</form>";
  return html;
}

}  // namespace

void installAccountRoutes(httplib::Server& server, ServiceContext& ctx, bool secure) {
  auto httpsOnly = [&ctx, secure](Response& res) {
    if (secure) return false;
    http::sendError(ctx, res, 403, "the account service answers over HTTPS only");
    return true;
  };

  server.Post("/oauth/quick_token", [&ctx, secure, httpsOnly](const Request& req, Response& res) {
    Caller caller;
    if (httpsOnly(res) ||
        !http::authenticate(ctx, req, res, secure, TokenRequirement::kNone, &caller)) {
      return;
    }
    std::string provider = queryValue(caller.query, "provider");
    if (provider.empty()) provider = "smart";
    User user;
    SignInResult result =
        ctx.accounts.signIn(queryValue(caller.query, "username"),
                            queryValue(caller.query, "password"), provider, &user);
    if (sendSignInRefusal(ctx, res, result)) return;
    sendTokens(ctx, res, ctx.tokens.issue(caller.consumer, TokenKind::kAccess, user.id), false);
  });

  server.Post("/oauth/request_token", [&ctx, secure, httpsOnly](const Request& req, Response& res) {
    Caller caller;
    if (httpsOnly(res) ||
        !http::authenticate(ctx, req, res, secure, TokenRequirement::kNone, &caller)) {
      return;
    }
    sendTokens(ctx, res, ctx.tokens.issue(caller.consumer, TokenKind::kRequest, 0), true);
  });

  server.Post("/oauth/access_token", [&ctx, secure, httpsOnly](const Request& req, Response& res) {
    Caller caller;
    if (httpsOnly(res) ||
        !http::authenticate(ctx, req, res, secure, TokenRequirement::kRequest, &caller)) {
      return;
    }
    TokenPair access;
    if (!ctx.tokens.exchange(caller.token, queryValue(caller.query, "oauth_verifier"), &access)) {
      http::sendError(ctx, res, 401, "request token not authorised or wrong verifier");
      return;
    }
    sendTokens(ctx, res, access, false);
  });

  server.Get("/oauth/authorize", [&ctx](const Request& req, Response& res) {
    std::string token = http::queryParam(req, "oauth_token");
    TokenInfo info;
    if (!ctx.tokens.lookup(token, &info) || info.kind != TokenKind::kRequest) {
      http::sendHtml(ctx, res, 404, "Unknown request",
                     "<p>This sign-in request is unknown or has expired. "
                     "Start the sign-in in Varnelo again.</p>");
      return;
    }
    http::sendHtml(ctx, res, 200, "Sign in to Varnelo",
                   authorizeForm(token, http::queryParam(req, "provider"), ""));
  });

  server.Post("/oauth/authorize", [&ctx](const Request& req, Response& res) {
    auto form = parseQuery(req.body);
    std::string token = queryValue(form, "oauth_token");
    std::string provider = queryValue(form, "provider");
    User user;
    SignInResult result =
        ctx.accounts.signIn(queryValue(form, "username"), queryValue(form, "password"),
                            Accounts::validProvider(provider) ? provider : "smart", &user);
    if (result != SignInResult::kOk) {
      const char* why = result == SignInResult::kInactive ? "This account is not activated yet."
                        : result == SignInResult::kWrongPassword
                            ? "Wrong user name or password."
                            : "This account is not registered or not bound to Varnelo.";
      http::sendHtml(ctx, res, 200, "Sign in to Varnelo", authorizeForm(token, provider, why));
      return;
    }
    std::string verifier;
    if (!ctx.tokens.authorize(token, user.id, &verifier)) {
      http::sendHtml(ctx, res, 404, "Unknown request",
                     "<p>This sign-in request is unknown or has "
                     "expired. Start the sign-in in Varnelo again.</p>");
      return;
    }
    http::sendHtml(ctx, res, 200, "Varnelo is allowed",
                   "<p>Type this verification code into Varnelo:</p>\n<p><code id=\"verifier\">" +
                       htmlEscape(verifier) + "</code></p>");
  });

  auto userInfo = [&ctx, secure, httpsOnly](const Request& req, Response& res) {
    Caller caller;
    if (httpsOnly(res) ||
        !http::authenticate(ctx, req, res, secure, TokenRequirement::kAccess, &caller)) {
      return;
    }
    User user;
    if (!ctx.accounts.findUser(caller.tokenInfo.user, &user)) {
      http::sendError(ctx, res, 401, "the account of this token is gone");
      return;
    }
    Json::Value u;
    u["id"] = static_cast<Json::Int64>(user.id);
    u["username"] = user.name;
    u["nickname"] = user.name;
    u["email"] = user.email;
    u["native"] = user.provider == "native";
    Json::Value account;
    account["type"] = user.provider;
    account["login"] = user.name;
    account["email"] = user.email;
    u["accounts"].append(account);
    Json::Value reply;
    reply["user"] = u;
    http::sendJson(ctx, res, 200, reply);
  };
  server.Get("/api/1/user_info", userInfo);
  server.Post("/api/1/user_info", userInfo);

  auto ping = [&ctx, secure, httpsOnly](const Request& req, Response& res) {
    Caller caller;
    if (httpsOnly(res) ||
        !http::authenticate(ctx, req, res, secure, TokenRequirement::kAccess, &caller)) {
      return;
    }
    Json::Value v;
    v["code"] = 0;
    http::sendJson(ctx, res, 200, v);
  };
  server.Post("/api/1/ping", ping);
  server.Get("/api/1/ping", ping);
}

}  // namespace varnelo::service
