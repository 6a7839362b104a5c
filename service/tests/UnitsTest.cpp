// Known answers for the service's own codecs: the OAuth base string and
// signature of the published OAuth example, strict base64, and path parsing.
#include <gtest/gtest.h>

#include "Base64.h"
#include "Crypto.h"
#include "OAuthVerifier.h"
#include "Tree.h"

namespace varnelo::service {
namespace {

TEST(OAuthBaseStringTest, MatchesThePublishedExample) {
  std::vector<QueryParam> params = {{"file", "vacation.jpg"},
                                    {"size", "original"},
                                    {"oauth_consumer_key", "dpf43f3p2l4k3l03"},
                                    {"oauth_token", "nnch734d00sl2jdk"},
                                    {"oauth_signature_method", "HMAC-SHA1"},
                                    {"oauth_timestamp", "1191242096"},
                                    {"oauth_nonce", "kllo9940pd9333jh"},
                                    {"oauth_version", "1.0"}};
  std::string base = OAuthVerifier::baseString("GET", "http://photos.example.net/photos", params);
  EXPECT_EQ(base,
            "GET&http%3A%2F%2Fphotos.example.net%2Fphotos&file%3Dvacation.jpg%26oauth_consumer_key%"
            "3Ddpf43f3p2l4k3l03%26oauth_nonce%3Dkllo9940pd9333jh%26oauth_signature_method%3DHMAC-"
            "SHA1%26oauth_timestamp%3D1191242096%26oauth_token%3Dnnch734d00sl2jdk%26oauth_version%"
            "3D1.0%26size%3Doriginal");
  EXPECT_EQ(base64Encode(hmacSha1("kd94hf93k423kf44&pfkkdhi9sl3r4s00", base), false),
            "tR3+Ty81lMeYAr/Fid0kMTYa/WM=");
}

TEST(Base64Test, DecodingIsStrict) {
  std::string out;
  EXPECT_TRUE(base64Decode("AAECAwQFBgcICQoLDA0ODw==", true, out));
  EXPECT_EQ(out.size(), 16u);
  EXPECT_TRUE(base64Decode("AAECAwQFBgcICQoLDA0ODw", true, out)) << "padding may be left off";
  EXPECT_FALSE(base64Decode("AAECAwQFBgcICQoLDA0ODw=", true, out)) << "half padding";
  EXPECT_FALSE(base64Decode("AAECAwQFBgcICQoLDA0OD+==", true, out)) << "'+' is not URL-safe";
  EXPECT_FALSE(base64Decode("AAECAwQFBgcICQoLDA0ODx==", true, out)) << "stray low bits";
  EXPECT_EQ(base64Encode(std::string("\xfb\xff", 2), true), "-_8=");
  EXPECT_EQ(base64Encode(std::string("\xfb\xff", 2), false), "+/8=");
}

TEST(TreePathTest, AcceptsTheFourSpellingsOfHomeOnly) {
  std::vector<std::string> parts;
  for (const char* ok : {"home", "/home", "HOME/a/b", "/home/a b/c.txt"}) {
    EXPECT_EQ(Tree::parsePath(ok, &parts), kOk) << ok;
  }
  EXPECT_EQ(parts, (std::vector<std::string>{"home", "a b", "c.txt"}));
  for (const char* bad :
       {"", "/", "//home", "home/", "home//a", "home/./a", "home/..", "house/a"}) {
    EXPECT_EQ(Tree::parsePath(bad, &parts), kBadRequest) << bad;
  }
  EXPECT_EQ(Tree::parsePath(std::string("home/a\0b", 8), &parts), kBadRequest);
  EXPECT_EQ(Tree::parsePath("home/" + std::string(256, 'n'), &parts), kBadRequest);
  EXPECT_TRUE(Tree::validChunkSize(4 << 20));
  EXPECT_FALSE(Tree::validChunkSize(3 << 20));
  EXPECT_FALSE(Tree::validChunkSize(32 << 10));
}

}  // namespace
}  // namespace varnelo::service
