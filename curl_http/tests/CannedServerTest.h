// The base of the tests that put the client against fixed replies from a
// loopback server: the service address pointing at that server, plain HTTP,
// no proxy or speed settings from the environment, and credentials that
// sign requests to it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "EnvGuard.h"
#include "JsonAccess.h"
#include "RawHttpServer.h"
#include "varnelo/account.h"
#include "varnelo/meta.h"

namespace varnelo::test {

class CannedServerTest : public ::testing::Test {
 protected:
  CannedServerTest() {
    env.set("VARNELO_SERVICE", "127.0.0.1:" + std::to_string(server.port()) + ":1");
    env.unset("USE_HTTPS");
    for (const char* name : {"CURL_PROXY_SETTINGTYPE", "CURL_PROXY", "CURL_UPLOAD_SPEEDLIMIT",
                             "CURL_DOWNLOAD_SPEEDLIMIT", "CURL_USERAGENT"})
      env.unset(name);
    varnelo_token_pair consumer{"ck", "cs"}, access{"ak", "as"};
    varnelo_auth_combine("me", &consumer, &access, &creds);
  }
  ~CannedServerTest() override { varnelo_destroy_token(creds); }

  // The JSON body of the last request the server took.
  Json::Value lastBody() {
    Json::Value v;
    EXPECT_TRUE(varnelo::http::parse_json(server.last().body, v)) << server.last().body;
    return v;
  }

  EnvGuard env;
  RawHttpServer server;
  varnelo_credentials* creds = nullptr;
};

struct GetResultDeleter {
  void operator()(varnelo_meta_get_result* r) const { varnelo_meta_destroy_get_result(r); }
};
using GetResultPtr = std::unique_ptr<varnelo_meta_get_result, GetResultDeleter>;

}  // namespace varnelo::test
