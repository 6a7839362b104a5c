// Shared set-up of the client's end-to-end tests: one varnelo-service for the
// whole test binary (started on first use, over HTTPS with its own CA), fresh
// users per test, and password sign-in through the exported functions.
// Used from the test thread; the service's admin helpers are thread safe.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "Consumer.h"
#include "ServiceProcess.h"
#include "varnelo/account.h"
#include "varnelo/meta.h"

namespace varnelo::e2e {

struct CredentialsDeleter {
  void operator()(varnelo_credentials* c) const { varnelo_destroy_token(c); }
};
using Credentials = std::unique_ptr<varnelo_credentials, CredentialsDeleter>;

struct TokenDeleter {
  void operator()(varnelo_token_pair* t) const { varnelo_destroy_inner_token(t); }
};
using Token = std::unique_ptr<varnelo_token_pair, TokenDeleter>;

// The binary's service; stopped when the process exits.
inline test::ServiceProcess& client_service() {
  static test::ServiceProcess service;
  return service;
}

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service().started()) << service().error();
    service().exportEnvironment();
    unsetenv("USE_HTTPS");
  }

  static test::ServiceProcess& service() { return client_service(); }

  // A user name no other test uses.
  static std::string fresh_user(const char* stem) {
    static std::atomic<int> next{0};
    return std::string(stem) + std::to_string(++next);
  }

  // Adds a native user and signs in with the password; null on failure.
  static Credentials sign_in(const std::string& name, const std::string& password = "pw 1&2") {
    if (!service().addUser(name, password)) return nullptr;
    varnelo_token_pair* token = nullptr;
    int32_t rc = varnelo_auth_quick_token(name.c_str(), password.c_str(), &http::client_consumer(),
                                          &token, nullptr);
    Token owned(token);
    if (rc != 200) {
      ADD_FAILURE() << "sign-in of " << name << " gave " << rc;
      return nullptr;
    }
    varnelo_credentials* credentials = nullptr;
    varnelo_auth_combine(name.c_str(), &http::client_consumer(), token, &credentials);
    return Credentials(credentials);
  }
};

}  // namespace varnelo::e2e
