// Sign-in (password and browser), refusals, credentials, ping, profile,
// devices and log upload against the reference service.
#include <cstring>
#include <map>
#include <string>

#include "AccountApi.h"
#include "FormEscape.h"
#include "HttpStatus.h"
#include "Transport.h"
#include "client_fixture.h"

using namespace varnelo::e2e;
using namespace varnelo::http;

namespace {

std::string html_unescape(std::string text) {
  const std::pair<const char*, const char*> entities[] = {
      {"&quot;", "\""}, {"&#39;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}};
  for (auto [from, to] : entities)
    for (size_t at; (at = text.find(from)) != std::string::npos;)
      text.replace(at, std::strlen(from), to);
  return text;
}

// The value of attribute `name` inside one tag's text, or "".
std::string attribute(const std::string& tag, const std::string& name) {
  size_t at = tag.find(" " + name + "=\"");
  if (at == std::string::npos) return "";
  size_t start = at + name.size() + 3;
  return html_unescape(tag.substr(start, tag.find('"', start) - start));
}

// What a browser does with the authorize page: load it, fill the form's
// user name and password next to its hidden fields, submit it to the form's
// action, and read the verification code off the answer page.
std::string authorize_in_browser(const std::string& requestToken, const std::string& user,
                                 const std::string& password) {
  const std::string origin = client_service().httpsBase();
  StringSink page, headers;
  if (http_get(origin + "/oauth/authorize?oauth_token=" + form_escape(requestToken), nullptr, 30000,
               0, 0, page, headers) != 0 ||
      parse_http_status(headers.bytes) != 200)
    return "";
  size_t formAt = page.bytes.find("<form");
  if (formAt == std::string::npos) return "";
  std::string form = page.bytes.substr(formAt, page.bytes.find("</form>", formAt) - formAt);
  std::string action = attribute(form.substr(0, form.find('>')), "action");
  std::string fields = "username=" + form_escape(user) + "&password=" + form_escape(password);
  for (size_t at = 0; (at = form.find("<input", at)) != std::string::npos; ++at) {
    std::string tag = form.substr(at, form.find('>', at) - at);
    if (attribute(tag, "type") == "hidden")
      fields +=
          "&" + form_escape(attribute(tag, "name")) + "=" + form_escape(attribute(tag, "value"));
  }
  StringSink answer, answerHeaders;
  const char* formType[] = {"Content-Type: application/x-www-form-urlencoded", nullptr};
  if (http_post(origin + action, fields.data(), fields.size(), formType, 30000, answer,
                answerHeaders) != 0 ||
      parse_http_status(answerHeaders.bytes) != 200)
    return "";
  size_t code = answer.bytes.find("id=\"verifier\">");
  if (code == std::string::npos) return "";
  code += 14;
  return html_unescape(answer.bytes.substr(code, answer.bytes.find('<', code) - code));
}

}  // namespace

TEST_F(ClientTest, PasswordSignInForBothProviders) {
  std::string native = fresh_user("native"), kuv = fresh_user("kuv");
  // A password with a blank and an ampersand survives the query encoding.
  ASSERT_TRUE(service().addUser(native, "open sesame&co"));
  ASSERT_TRUE(service().addUser(kuv, "kuv-pass", "kuv"));
  const varnelo_token_pair* consumer = &client_consumer();

  varnelo_token_pair* token = nullptr;
  ASSERT_EQ(varnelo_auth_quick_token(native.c_str(), "open sesame&co", consumer, &token, "native"),
            200);
  Token nativeToken(token);
  EXPECT_GT(std::strlen(token->key), 0u);
  EXPECT_GT(std::strlen(token->secret), 0u);
  ASSERT_EQ(varnelo_auth_quick_token(kuv.c_str(), "kuv-pass", consumer, &token, "kuv"), 200);
  Token kuvToken(token);
  // NULL provider means "smart", which finds either kind of account.
  ASSERT_EQ(varnelo_auth_quick_token(kuv.c_str(), "kuv-pass", consumer, &token, nullptr), 200);
  Token smartToken(token);

  varnelo_credentials* raw = nullptr;
  ASSERT_EQ(varnelo_auth_combine(kuv.c_str(), consumer, kuvToken.get(), &raw), 200);
  Credentials credentials(raw);
  EXPECT_EQ(account_ping(credentials.get()), 200);
}

TEST_F(ClientTest, SignInRefusals) {
  std::string user = fresh_user("refused"), inactive = fresh_user("inactive");
  ASSERT_TRUE(service().addUser(user, "right"));
  ASSERT_TRUE(service().addUser(inactive, "right", "native", "inactive"));
  const varnelo_token_pair* consumer = &client_consumer();
  varnelo_token_pair* token = nullptr;
  EXPECT_EQ(varnelo_auth_quick_token(user.c_str(), "wrong", consumer, &token, nullptr), 401);
  EXPECT_EQ(token, nullptr);
  EXPECT_EQ(varnelo_auth_quick_token(inactive.c_str(), "right", consumer, &token, nullptr), -115);
  EXPECT_EQ(varnelo_auth_quick_token("nobody-here", "x", consumer, &token, nullptr), -116);
  // The user exists, but not with that provider.
  EXPECT_EQ(varnelo_auth_quick_token(user.c_str(), "right", consumer, &token, "kuv"), -116);
  EXPECT_EQ(token, nullptr);

  varnelo_token_pair stranger{"not-a-consumer", "secret"};
  EXPECT_EQ(varnelo_auth_quick_token(user.c_str(), "right", &stranger, &token, nullptr), 401);
}

TEST_F(ClientTest, BrowserSignIn) {
  std::string user = fresh_user("browser");
  ASSERT_TRUE(service().addUser(user, "from the browser"));
  const varnelo_token_pair* consumer = &client_consumer();

  varnelo_token_pair* raw = nullptr;
  ASSERT_EQ(varnelo_auth_request_token(consumer, &raw), 200);
  Token request(raw);
  std::string verifier = authorize_in_browser(request->key, user, "from the browser");
  ASSERT_FALSE(verifier.empty());

  EXPECT_EQ(varnelo_auth_access_token(consumer, request.get(), "wrong-verifier", &raw), 401);
  ASSERT_EQ(varnelo_auth_access_token(consumer, request.get(), verifier.c_str(), &raw), 200);
  Token access(raw);
  varnelo_credentials* credentials = nullptr;
  ASSERT_EQ(varnelo_auth_combine(user.c_str(), consumer, access.get(), &credentials), 200);
  Credentials owned(credentials);
  EXPECT_STREQ(credentials->user, user.c_str());
  EXPECT_EQ(account_ping(credentials), 200);

  // The request token was used up: it cannot be exchanged twice.
  EXPECT_NE(varnelo_auth_access_token(consumer, request.get(), verifier.c_str(), &raw), 200);
}

TEST_F(ClientTest, PingAndProfileNeedValidCredentials) {
  std::string user = fresh_user("profile");
  Credentials credentials = sign_in(user);
  ASSERT_TRUE(credentials);
  EXPECT_EQ(account_ping(credentials.get()), 200);

  varnelo_user_info_result* info = nullptr;
  ASSERT_EQ(varnelo_user_info(credentials.get(), &info), 200);
  std::string text = info->text;
  varnelo_destroy_user_info(info);
  EXPECT_NE(text.find("\"" + user + "\""), std::string::npos) << text;
  EXPECT_NE(text.find("\n   "), std::string::npos);  // indented, not compact

  varnelo_token_pair forged{credentials->access.key, "not-the-secret"};
  varnelo_credentials* bad = nullptr;
  ASSERT_EQ(varnelo_auth_combine(user.c_str(), &client_consumer(), &forged, &bad), 200);
  Credentials badOwned(bad);
  EXPECT_EQ(account_ping(bad), 401);
  EXPECT_EQ(varnelo_user_info(bad, &info), 401);
  EXPECT_EQ(info, nullptr);
}

TEST_F(ClientTest, DevicesAndLogUpload) {
  Credentials credentials = sign_in(fresh_user("devices"));
  ASSERT_TRUE(credentials);
  const std::string name = "\xe5\x8a\x9e\xe5\x85\xac\xe5\xae\xa4 PC";  // UTF-8 device name
  EXPECT_EQ(varnelo_set_device(credentials.get(), "dev-1", name.c_str()), 200);
  EXPECT_EQ(varnelo_set_device(credentials.get(), "dev-2", "laptop"), 200);

  auto devices = [&] {
    std::map<std::string, std::string> found;
    varnelo_device_list_result* list = nullptr;
    EXPECT_EQ(varnelo_list_devices(credentials.get(), &list), 200);
    if (list == nullptr) return found;
    for (int32_t i = 0; i < varnelo_array_size(list->devices); ++i) {
      varnelo_device_info info{};
      EXPECT_EQ(varnelo_devinfo_array_at(list->devices, i, &info), 200);
      if (info.devId) found[info.devId] = info.devName;
    }
    varnelo_device_destroy_list_result(list);
    return found;
  };
  auto listed = devices();
  EXPECT_EQ(listed["dev-1"], name);
  EXPECT_EQ(listed["dev-2"], "laptop");
  EXPECT_EQ(varnelo_unlink_device(credentials.get(), "dev-1"), 200);
  listed = devices();
  EXPECT_EQ(listed.count("dev-1"), 0u);
  EXPECT_EQ(listed.size(), 1u);

  const std::string text = "client log line " + fresh_user("marker");
  EXPECT_EQ(varnelo_log2(text.c_str()), 200);
  Json::Value logs;
  ASSERT_TRUE(service().logUploads(&logs));
  bool seen = false;
  for (const Json::Value& entry : logs["logs"]) seen = seen || entry["text"].asString() == text;
  EXPECT_TRUE(seen);
  EXPECT_EQ(varnelo_log(credentials.get(), "device", "{}", 2), 200);
}
