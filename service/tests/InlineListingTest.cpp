// Listings that carry their small children's content ("inline"): which
// children get it, that it is their bytes, the reply's budget, and that a
// listing which does not ask, or a service started with --inline off,
// answers as before.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "TestClient.h"

namespace varnelo::test {
namespace {

constexpr int64_t kChunk = 64 * 1024;
constexpr int64_t kSmall = 16384;

class InlineListingTest : public AccountTest {
 protected:
  void put(const std::string& path, const std::string& content) {
    Reply r = client_->upload(path, content, kChunk);
    ASSERT_EQ(r.status, 200) << path << ": " << r.body;
  }
  Reply list(const std::string& path, const Json::Value& inlineLimit) {
    Json::Value body;
    body["path"] = path;
    body["base"] = "";
    body["list"] = 1;
    body["showType"] = 0;
    if (!inlineLimit.isNull()) body["inline"] = inlineLimit;
    return client_->call("/get", body);
  }
  // The listed children by name.
  static std::map<std::string, Json::Value> byName(const Reply& r) {
    std::map<std::string, Json::Value> out;
    for (const Json::Value& e : r.json["entries"]) out[e["name"].asString()] = e;
    return out;
  }
};

TEST_F(InlineListingTest, SmallChildrenCarryTheirBytesAndNothingElseChanges) {
  const std::string small = "a small file\n";
  const std::string edge(kSmall, 'e');
  const std::string large(kSmall + 1, 'L');
  put("home/dir/small.txt", small);
  put("home/dir/edge.bin", edge);
  put("home/dir/large.bin", large);
  put("home/dir/sub/inner.txt", "below");
  put("home/dir/empty", "");

  Reply info = client_->call("/info", Json::Value());
  ASSERT_EQ(info.status, 200);
  EXPECT_EQ(info.json["inline"].asInt64(), kSmall);

  Reply plain = list("home/dir", Json::Value());
  Reply inlined = list("home/dir", Json::Value::Int64(kSmall));
  ASSERT_EQ(plain.status, 200);
  ASSERT_EQ(inlined.status, 200) << inlined.body;
  auto kids = byName(inlined);
  ASSERT_EQ(kids.size(), 5u);
  EXPECT_EQ(kids["small.txt"]["data"].asString(), urlSafeBase64(small));
  EXPECT_EQ(kids["edge.bin"]["data"].asString(), urlSafeBase64(edge));
  EXPECT_FALSE(kids["large.bin"].isMember("data")) << "larger than the limit";
  EXPECT_FALSE(kids["sub"].isMember("data")) << "a folder";
  EXPECT_FALSE(kids["empty"].isMember("data")) << "nothing to carry";

  // Without "inline" no child carries content; with it, only "data" differs.
  for (const Json::Value& e : plain.json["entries"]) EXPECT_FALSE(e.isMember("data"));
  Json::Value stripped = inlined.json;
  for (Json::Value& e : stripped["entries"]) e.removeMember("data");
  EXPECT_EQ(stripped, plain.json);

  // A smaller limit asked for is kept; a limit that is not a positive
  // integer asks for nothing.
  auto limited = byName(list("home/dir", 100));
  EXPECT_TRUE(limited["small.txt"].isMember("data"));
  EXPECT_FALSE(limited["edge.bin"].isMember("data"));
  for (const Json::Value& bad : {Json::Value(0), Json::Value(-5), Json::Value("16384")}) {
    for (const auto& [name, e] : byName(list("home/dir", bad)))
      EXPECT_FALSE(e.isMember("data")) << name << " with inline " << bad.toStyledString();
  }
  // A file's own entry is not a listing: its head carries data as before.
  EXPECT_EQ(list("home/dir/small.txt", Json::Value::Int64(kSmall)).json["data"].asString(),
            urlSafeBase64(small));
}

TEST_F(InlineListingTest, ContentPastTheReplyBudgetIsLeftToSingleRequests) {
  // 4 MiB holds 256 files of the largest inline size; the ones after them
  // (in listing order) come without content, even the tiny last one.
  const int kFull = 256;
  char name[32];
  for (int i = 0; i < kFull + 3; ++i) {
    snprintf(name, sizeof name, "home/many/f%04d", i);
    put(name, std::string(kSmall, static_cast<char>('a' + i % 26)));
  }
  put("home/many/z-tiny", "z");
  Reply r = list("home/many", Json::Value::Int64(kSmall));
  ASSERT_EQ(r.status, 200);
  const Json::Value& entries = r.json["entries"];
  ASSERT_EQ(entries.size(), static_cast<Json::ArrayIndex>(kFull + 4));
  int carried = 0;
  for (Json::ArrayIndex i = 0; i < entries.size(); ++i) {
    const bool has = entries[i].isMember("data");
    EXPECT_EQ(has, static_cast<int>(i) < kFull) << entries[i]["name"].asString();
    carried += has;
  }
  EXPECT_EQ(carried, kFull);
  EXPECT_EQ(entries[0]["data"].asString(), urlSafeBase64(std::string(kSmall, 'a')));
}

TEST(InlineOffTest, AServiceWithoutInlineListingsOffersNoneAndSendsNone) {
  ServiceProcess::Options options;
  options.extraArgs = {"--inline", "off"};
  ServiceProcess service(options);
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.addUser("plain", "pw"));
  TestClient client(service);
  ASSERT_TRUE(client.signIn("plain", "pw"));
  ASSERT_EQ(client.upload("home/a.txt", "content", kChunk).status, 200);
  Reply info = client.call("/info", Json::Value());
  ASSERT_EQ(info.status, 200);
  EXPECT_FALSE(info.json.isMember("inline"));
  Json::Value body;
  body["path"] = "home";
  body["list"] = 1;
  body["inline"] = Json::Value::Int64(kSmall);
  Reply listed = client.call("/get", body);
  ASSERT_EQ(listed.status, 200);
  ASSERT_EQ(listed.json["entries"].size(), 1u);
  EXPECT_FALSE(listed.json["entries"][0].isMember("data"));
}

}  // namespace
}  // namespace varnelo::test
