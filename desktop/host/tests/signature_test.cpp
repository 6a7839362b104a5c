#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "SigningKey.h"
#include "UpdateManifest.h"
#include "UpdateSignature.h"

namespace varnelo::host {
namespace {

using test::SigningKey;

std::string manifestText(const UpdateManifest& m) {
  return "/* comments are allowed */ {\"x86\": {\"version\": \"" + m.version + "\", \"url\": \"" +
         m.url + "\", \"sha256\": \"" + m.sha256 + "\", \"signature2\": \"" + m.signature +
         "\", \"expires\": " + std::to_string(m.expires) +
         ", \"sequence\": " + std::to_string(m.sequence) + "}, \"other\": 1}";
}

class SignatureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(keys_.add(publisher_.publicBase64()));
    manifest_.version = "1.3.0";
    manifest_.url = "https://127.0.0.1:8443/update/varnelo-win/Varnelo-x86-1.3.0-Setup.run";
    manifest_.sha256 = SigningKey::sha256Hex(installer_);
    publisher_.signManifest(manifest_);
  }

  std::optional<std::string> verifyText(const std::string& text) {
    auto parsed = parse_update_manifest(text, nullptr);
    if (!parsed) return "did not parse";
    return verify_manifest(*parsed, keys_);
  }

  SigningKey publisher_;
  TrustedKeys keys_;
  std::string installer_ = "#!/bin/sh\necho installer\n";
  UpdateManifest manifest_;
};

TEST_F(SignatureTest, AManifestSignedByTheTrustedKeyPasses) {
  auto parsed = parse_update_manifest(manifestText(manifest_), nullptr);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->version, "1.3.0");
  EXPECT_EQ(verify_manifest(*parsed, keys_), std::nullopt);
}

TEST_F(SignatureTest, ChangedMissingOrForeignSignaturesAreRefused) {
  UpdateManifest changed = manifest_;
  changed.version = "1.3.1";
  EXPECT_TRUE(verifyText(manifestText(changed)));
  changed = manifest_;
  changed.url = "http://elsewhere.example/Varnelo.run";
  EXPECT_TRUE(verifyText(manifestText(changed)));
  changed = manifest_;
  changed.sha256[0] = changed.sha256[0] == 'a' ? 'b' : 'a';
  EXPECT_TRUE(verifyText(manifestText(changed)));

  changed = manifest_;
  changed.signature.clear();
  EXPECT_EQ(verifyText(manifestText(changed)), "the manifest carries no signature");
  EXPECT_TRUE(verifyText(R"({"x86": {"version": "1.3.0", "url": "http://a/b"}})"));

  SigningKey other;
  changed = manifest_;
  other.signManifest(changed);
  EXPECT_TRUE(verifyText(manifestText(changed)));
  changed.signature = "not base64!";
  EXPECT_TRUE(verifyText(manifestText(changed)));

  EXPECT_TRUE(verify_manifest(manifest_, TrustedKeys{})) << "no key trusted, nothing passes";
}

TEST_F(SignatureTest, ExpiryAndSequenceAreSignedAndChecked) {
  // Both are covered by the signature: moving the expiry or raising the
  // sequence of a captured manifest breaks it.
  UpdateManifest changed = manifest_;
  changed.expires += 3600;
  EXPECT_TRUE(verifyText(manifestText(changed)));
  changed = manifest_;
  changed.sequence += 1;
  EXPECT_TRUE(verifyText(manifestText(changed)));
  changed = manifest_;
  changed.expires = 0;
  publisher_.signManifest(changed);  // signs with a fresh expiry
  changed.expires = 0;
  EXPECT_EQ(verify_manifest(changed, keys_), "the manifest carries no expiry");
  // A manifest as older services sent it: only the first signature.
  EXPECT_TRUE(verifyText(R"({"x86": {"version": "1.3.0", "url": "http://a/b", "sha256": ")" +
                         manifest_.sha256 + R"(", "signature": ")" + manifest_.signature +
                         R"("}})"));
  EXPECT_FALSE(parse_update_manifest(
      R"({"x86": {"version": "1", "url": "http://a", "expires": "x"}})", nullptr));
  EXPECT_FALSE(parse_update_manifest(
      R"({"x86": {"version": "1", "url": "http://a", "sequence": -1}})", nullptr));

  const int64_t now = manifest_.expires - 100;
  manifest_.sequence = 40;
  EXPECT_EQ(check_fresh(manifest_, now, 40), std::nullopt) << "the same manifest again";
  EXPECT_EQ(check_fresh(manifest_, now, 0), std::nullopt);
  EXPECT_TRUE(check_fresh(manifest_, now, 41)) << "older than one accepted before";
  EXPECT_TRUE(check_fresh(manifest_, manifest_.expires, 40)) << "expired";
}

TEST_F(SignatureTest, ManifestsOfTheWrongShapeDoNotParse) {
  std::string why;
  EXPECT_FALSE(parse_update_manifest("not json", &why));
  EXPECT_FALSE(parse_update_manifest(std::string(20000, '['), &why));
  EXPECT_FALSE(parse_update_manifest(R"({"x64": {"version": "1", "url": "http://a"}})", &why));
  EXPECT_EQ(why, "the manifest has no \"x86\" object");
  EXPECT_FALSE(parse_update_manifest(R"({"x86": "1.3.0"})", &why));
  EXPECT_FALSE(parse_update_manifest(R"({"x86": {"version": 13, "url": "http://a"}})", &why));
  EXPECT_FALSE(parse_update_manifest(R"({"x86": {"version": "1.3.0"}})", &why));
  // The version becomes part of a file name; the URL must be a web address.
  EXPECT_FALSE(
      parse_update_manifest(R"({"x86": {"version": "../../x", "url": "http://a"}})", &why));
  EXPECT_FALSE(parse_update_manifest(R"({"x86": {"version": "..", "url": "http://a"}})", &why));
  EXPECT_FALSE(
      parse_update_manifest(R"({"x86": {"version": "1.3", "url": "file:///bin/sh"}})", &why));
  EXPECT_FALSE(parse_update_manifest(R"({"x86": {"version": "1.3", "url": "http://a\nb"}})", &why));
  EXPECT_FALSE(parse_update_manifest(
      R"({"x86": {"version": "1.3", "url": "http://a", "sha256": "xyz"}})", &why));
}

TEST_F(SignatureTest, AnInstallerWithOneChangedByteIsRefused) {
  char dir[] = "/tmp/host-signature-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/installer.run";
  std::ofstream(path, std::ios::binary) << installer_;
  EXPECT_EQ(verify_installer(path, manifest_.sha256), std::nullopt);
  std::string changed = installer_;
  changed[3] ^= 1;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << changed;
  EXPECT_TRUE(verify_installer(path, manifest_.sha256));
  EXPECT_TRUE(verify_installer(std::string(dir) + "/missing", manifest_.sha256));
  unlink(path.c_str());
  rmdir(dir);
}

TEST(Base64Test, StrictDecoding) {
  EXPECT_EQ(base64_decode("aGk="), "hi");
  EXPECT_EQ(base64_decode("aGlq"), "hij");
  EXPECT_EQ(base64_decode("aGk"), std::nullopt);
  EXPECT_EQ(base64_decode("a=Gk"), std::nullopt);
  EXPECT_EQ(base64_decode("aG-_"), std::nullopt);
  EXPECT_EQ(base64_decode(""), std::nullopt);
}

}  // namespace
}  // namespace varnelo::host
