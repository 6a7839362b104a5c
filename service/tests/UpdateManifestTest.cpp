// The update manifest as the service serves it: installer URLs that come
// from the service's configuration whatever Host a request names, and a
// second signature over version, URL, digest, expiry and sequence number
// that a replayed or stale manifest cannot renew.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <ctime>
#include <fstream>
#include <memory>

#include "TestClient.h"

namespace varnelo::test {
namespace {

std::string decodeBase64(const std::string& text) {
  std::string out(text.size() / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return {};
  size_t pad = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
  out.resize(static_cast<size_t>(n) - pad);
  return out;
}

// Whether `signature` (base64) is the service key's over `message`.
bool signedByService(const ServiceProcess& service, const std::string& message,
                     const std::string& signature) {
  std::ifstream in(service.dataDir() + "/update-key.pub");
  std::string line;
  std::getline(in, line);
  std::string raw = decodeBase64(line);
  std::string sig = decodeBase64(signature);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                  reinterpret_cast<const unsigned char*>(raw.data()), raw.size()),
      &EVP_PKEY_free);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  return key && ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
         EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(sig.data()), sig.size(),
                          reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}

std::string message1(const Json::Value& x86) {
  return "varnelo-update-1\nx86\n" + x86["version"].asString() + "\n" + x86["url"].asString() +
         "\n" + x86["sha256"].asString() + "\n";
}

std::string message2(const Json::Value& x86) {
  return "varnelo-update-2\nx86\n" + x86["version"].asString() + "\n" + x86["url"].asString() +
         "\n" + x86["sha256"].asString() + "\n" + std::to_string(x86["expires"].asInt64()) + "\n" +
         std::to_string(x86["sequence"].asInt64()) + "\n";
}

TEST(UpdateManifestTest, TheInstallerUrlIsTheServicesWhateverTheHostHeaderSays) {
  ServiceProcess service;
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.publishUpdate("2.0.1", "installer bytes"));
  TestClient client(service);
  const std::string path = "/update/varnelo-win/version.dat";
  const std::string file = "/update/varnelo-win/Varnelo-x86-2.0.1-Setup.run";
  for (const std::string& base : {service.httpBase(), service.httpsBase()}) {
    Reply forged = client.plain("GET", base + path, "", {"Host: attacker.example:80"});
    ASSERT_EQ(forged.status, 200) << base << " curl code " << forged.curlCode;
    const Json::Value& x86 = forged.json["x86"];
    EXPECT_EQ(x86["url"].asString(), base + file);
    EXPECT_TRUE(signedByService(service, message1(x86), x86["signature"].asString()))
        << "older clients check the first signature";
    EXPECT_TRUE(signedByService(service, message2(x86), x86["signature2"].asString()));
  }
}

TEST(UpdateManifestTest, ManifestsExpireAndEachPublicationHasAHigherSequence) {
  ServiceProcess service;
  ASSERT_TRUE(service.started()) << service.error();
  TestClient client;
  const std::string url = service.httpBase() + "/update/varnelo-win/version.dat";
  ASSERT_TRUE(service.publishUpdate("2.0.1", "one"));
  const int64_t now = static_cast<int64_t>(time(nullptr));
  Json::Value first = client.plain("GET", url, "").json["x86"];
  EXPECT_GE(first["expires"].asInt64(), now + 24 * 3600) << "outlives a daily check";
  EXPECT_LE(first["expires"].asInt64(), now + 3 * 24 * 3600 + 60);
  // At least the publication time: a data folder made afresh cannot fall
  // below the sequence clients saw from the old one.
  EXPECT_GE(first["sequence"].asInt64(), now - 60);

  ASSERT_TRUE(service.publishUpdate("2.0.2", "two"));
  Json::Value second = client.plain("GET", url, "").json["x86"];
  EXPECT_GT(second["sequence"].asInt64(), first["sequence"].asInt64());
  // Replaying the old manifest with the new sequence breaks its signature.
  first["sequence"] = second["sequence"];
  EXPECT_FALSE(signedByService(service, message2(first), first["signature2"].asString()));
  EXPECT_TRUE(signedByService(service, message2(second), second["signature2"].asString()));

  // The sequence survives a restart of the service.
  ASSERT_TRUE(service.restart());
  Json::Value again =
      client.plain("GET", service.httpBase() + "/update/varnelo-win/version.dat", "").json["x86"];
  EXPECT_EQ(again["sequence"].asInt64(), second["sequence"].asInt64());
}

TEST(UpdateManifestTest, AConfiguredUpdateBaseIsWhatManifestsName) {
  ServiceProcess::Options options;
  options.extraArgs = {"--update-base", "https://updates.example.com/"};
  ServiceProcess service(options);
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.publishUpdate("2.0.1", "installer bytes"));
  TestClient client;
  Reply manifest = client.plain("GET", service.httpBase() + "/update/varnelo-win/version.dat", "");
  EXPECT_EQ(manifest.json["x86"]["url"].asString(),
            "https://updates.example.com/update/varnelo-win/Varnelo-x86-2.0.1-Setup.run");

  ServiceProcess::Options bad;
  bad.extraArgs = {"--update-base", "ftp://updates.example.com"};
  bad.startTimeoutMs = 5000;
  ServiceProcess refused(bad);
  EXPECT_FALSE(refused.started());
}

}  // namespace
}  // namespace varnelo::test
