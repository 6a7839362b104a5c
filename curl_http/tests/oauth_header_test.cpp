// The Authorization header against the published OAuth photo example.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "OAuthHeader.h"
#include "varnelo/account.h"

using namespace varnelo::http;

namespace {

struct CredentialsDeleter {
  void operator()(varnelo_credentials* c) const { varnelo_destroy_token(c); }
};
using CredentialsPtr = std::unique_ptr<varnelo_credentials, CredentialsDeleter>;

CredentialsPtr photo_credentials() {
  varnelo_token_pair consumer{"dpf43f3p2l4k3l03", "kd94hf93k423kf44"};
  varnelo_token_pair access{"nnch734d00sl2jdk", "pfkkdhi9sl3r4s00"};
  varnelo_credentials* c = nullptr;
  EXPECT_EQ(varnelo_auth_combine(nullptr, &consumer, &access, &c), 200);
  return CredentialsPtr(c);
}

std::string percent_decode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// name → unescaped value of an "OAuth a=\"x\", b=\"y\"" header.
std::map<std::string, std::string> header_params(const std::string& header) {
  std::map<std::string, std::string> params;
  EXPECT_EQ(header.rfind("OAuth ", 0), 0u);
  size_t pos = 6;
  while (pos < header.size()) {
    size_t eq = header.find("=\"", pos);
    size_t close = header.find('"', eq + 2);
    if (eq == std::string::npos || close == std::string::npos) break;
    params[header.substr(pos, eq - pos)] = percent_decode(header.substr(eq + 2, close - eq - 2));
    pos = close + 1;
    if (header.compare(pos, 2, ", ") == 0) pos += 2;
  }
  return params;
}

std::string signed_header(const char* nonce, const char* timestamp) {
  CredentialsPtr c = photo_credentials();
  char* value = nullptr;
  EXPECT_EQ(
      make_oauth_header_fixed(c.get(), &value, "GET",
                              "http://photos.example.net/photos?file=vacation.jpg&size=original",
                              nonce, timestamp),
      200);
  std::string header = value ? value : "";
  std::free(value);
  return header;
}

}  // namespace

TEST(OAuthHeaderTest, ReproducesThePhotoExampleSignature) {
  auto params = header_params(signed_header("kllo9940pd9333jh", "1191242096"));
  EXPECT_EQ(params["oauth_signature"], "tR3+Ty81lMeYAr/Fid0kMTYa/WM=");
  EXPECT_EQ(params["oauth_consumer_key"], "dpf43f3p2l4k3l03");
  EXPECT_EQ(params["oauth_token"], "nnch734d00sl2jdk");
  EXPECT_EQ(params["oauth_signature_method"], "HMAC-SHA1");
  EXPECT_EQ(params["oauth_nonce"], "kllo9940pd9333jh");
  EXPECT_EQ(params["oauth_timestamp"], "1191242096");
  EXPECT_EQ(params["oauth_version"], "1.0");
  // The URL's own parameters are signed but not repeated in the header.
  EXPECT_EQ(params.count("file"), 0u);
  EXPECT_EQ(params.count("size"), 0u);
}

// RFC 5849's version of the example (nonce "chapoH") leaves out the optional
// oauth_version; liboauth always signs "oauth_version=1.0", which gives this
// value (computed independently from the same base string plus the version).
TEST(OAuthHeaderTest, SignsTheRfc5849PhotoRequestWithVersion) {
  auto params = header_params(signed_header("chapoH", "137131202"));
  EXPECT_EQ(params["oauth_signature"], "1IAE9RzK+DqSqVTdQ/0zWANXVzs=");
}

TEST(OAuthHeaderTest, EscapesSignatureCharactersAndRefusesMissingInput) {
  std::string header = signed_header("kllo9940pd9333jh", "1191242096");
  EXPECT_NE(header.find("oauth_signature=\"tR3%2bTy81lMeYAr%2fFid0kMTYa%2fWM%3d\""),
            std::string::npos);

  CredentialsPtr c = photo_credentials();
  char* value = reinterpret_cast<char*>(1);
  EXPECT_EQ(make_oauth_header(nullptr, &value, "GET", "http://h/"), 499);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(make_oauth_header(c.get(), &value, "GET", nullptr), 499);
  // Fresh nonces: two signatures of the same request differ.
  char* a = nullptr;
  char* b = nullptr;
  ASSERT_EQ(make_oauth_header(c.get(), &a, "POST", "http://h/get"), 200);
  ASSERT_EQ(make_oauth_header(c.get(), &b, "POST", "http://h/get"), 200);
  EXPECT_STRNE(a, b);
  std::free(a);
  std::free(b);
}

// The engine signs requests from several I/O threads at once (many small
// files in flight). Each header must be the one that URL gets when signed
// alone: a parameter split shared between threads would mix two URLs.
TEST(OAuthHeaderTest, RequestsSignedFromManyThreadsAtOnceKeepTheirOwnSignature) {
  CredentialsPtr c = photo_credentials();
  constexpr int kThreads = 8;
  constexpr int kRounds = 400;
  auto urlOf = [](int t, int i) {
    return "http://photos.example.net/get?file=f" + std::to_string(t) + "_" + std::to_string(i) +
           ".txt&size=" + std::to_string(i) + "&mode=t" + std::to_string(t);
  };
  auto sign = [&](const std::string& url) {
    char* value = nullptr;
    std::string out;
    if (make_oauth_header_fixed(c.get(), &value, "POST", url.c_str(), "n0nce", "1191242096") ==
        200) {
      out = value;
    }
    std::free(value);
    return out;
  };
  std::vector<std::vector<std::string>> expected(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kRounds; ++i) expected[t].push_back(sign(urlOf(t, i)));
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        if (sign(urlOf(t, i)) != expected[t][i]) wrong.fetch_add(1);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}
