// Result records and array accessors over replies of every shape, and the
// NULL handling of the exported functions that need no network.
#include <gtest/gtest.h>

#include <string>

#include "JsonAccess.h"
#include "MetaEntry.h"
#include "Records.h"
#include "varnelo/meta.h"

using namespace varnelo::http;

namespace {

Json::Value parse(const std::string& text) {
  Json::Value v;
  EXPECT_TRUE(parse_json(text, v)) << text;
  return v;
}

const varnelo_array* handle(const Json::Value& v) {
  return as_handle(&v);
}

const std::string kVer = "AAECAwQFBgcICQoLDA0ODw==";  // bytes 0..15

}  // namespace

TEST(JsonAccessTest, WrongShapesReadAsNullInsteadOfThrowing) {
  Json::Value array = parse("[1, {\"a\": 2}]");
  EXPECT_TRUE(member(array, "a").isNull());
  EXPECT_TRUE(member(parse("\"text\""), "a").isNull());
  EXPECT_TRUE(element(parse("{\"0\": 1}"), 0).isNull());
  EXPECT_TRUE(element(array, -1).isNull());
  EXPECT_TRUE(element(array, 2).isNull());
  EXPECT_EQ(member(element(array, 1), "a").asInt(), 2);

  EXPECT_TRUE(is_integer(parse("[12]")[0]));
  EXPECT_FALSE(is_integer(parse("[12.0]")[0]));
  EXPECT_FALSE(is_integer(parse("[\"12\"]")[0]));
  EXPECT_FALSE(integer_in(parse("[5000000000]")[0], INT32_MIN, INT32_MAX));
  EXPECT_FALSE(integer_in(parse("[18446744073709551615]")[0], 0, INT64_MAX));
  EXPECT_EQ(decimal_text("5000000000"), 5000000000LL);
  EXPECT_EQ(decimal_text("junk"), 0);
}

TEST(JsonAccessTest, DeeplyNestedOrBrokenBodiesAreRejected) {
  Json::Value v;
  EXPECT_FALSE(parse_json(std::string(100000, '['), v));
  EXPECT_FALSE(parse_json(std::string(5000, '[') + std::string(5000, ']'), v));
  EXPECT_FALSE(parse_json("{\"a\": ", v));
  EXPECT_TRUE(parse_json("// note\n{\"a\": 1 /* c */}", v));
  EXPECT_EQ(write_compact(Json::Value()), "null\n");
}

TEST(MetaEntryTest, ParsesVersionTypeAndSizes) {
  varnelo_meta_entry e{};
  Json::Value reply = parse("{\"ver\":\"" + kVer +
                            "\",\"path\":\"home/a\",\"type\":1,\"fileSize\":\"5000000000\","
                            "\"fileCount\":12,\"editTime\":\"133\",\"mimeType\":7}");
  ASSERT_EQ(parse_meta_entry(reply, e), 200);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(e.ver[i], i);
  EXPECT_STREQ(e.path, "home/a");
  EXPECT_EQ(e.fileSize, 5000000000LL);
  EXPECT_EQ(e.fileCount, 12);
  EXPECT_STREQ(e.editTime, "133");
  EXPECT_EQ(e.mimeType, nullptr);
  EXPECT_EQ(e.type, 1u);

  EXPECT_EQ(
      parse_meta_entry(parse("{\"ver\":\"" + kVer + "\",\"type\":32768,\"fileSize\":1.5}"), e),
      200);
  EXPECT_EQ(e.fileSize, 0);
  EXPECT_EQ(e.path, nullptr);
  // 15 bytes, type 4, type as text, no type, not an object at all.
  EXPECT_EQ(parse_meta_entry(parse("{\"ver\":\"AAECAwQFBgcICQoLDA0O\",\"type\":1}"), e), -1);
  EXPECT_EQ(parse_meta_entry(parse("{\"ver\":\"" + kVer + "\",\"type\":4}"), e), -1);
  EXPECT_EQ(parse_meta_entry(parse("{\"ver\":\"" + kVer + "\",\"type\":\"1\"}"), e), -1);
  EXPECT_EQ(parse_meta_entry(parse("{\"ver\":\"" + kVer + "\"}"), e), -1);
  EXPECT_EQ(parse_meta_entry(parse("[\"" + kVer + "\"]"), e), -1);
}

TEST(ArrayAccessorTest, EntryPathCodeAndIndexUrl) {
  Json::Value entries =
      parse("[{\"ver\":\"" + kVer + "\",\"type\":2,\"path\":\"home/d\"}, 7, null]");
  varnelo_meta_entry e{};
  EXPECT_EQ(varnelo_array_size(handle(entries)), 3);
  EXPECT_EQ(varnelo_meta_entry_array_at(handle(entries), 0, &e), 200);
  EXPECT_STREQ(e.path, "home/d");
  EXPECT_EQ(varnelo_meta_entry_array_at(handle(entries), 1, &e), 404);
  EXPECT_EQ(e.path, nullptr);
  EXPECT_EQ(varnelo_meta_entry_array_at(handle(entries), 2, &e), -1);  // null: no "ver"
  EXPECT_EQ(varnelo_meta_entry_array_at(handle(entries), 3, &e), -1);  // outside reads as null
  EXPECT_EQ(varnelo_meta_entry_array_at(nullptr, 0, &e), 404);

  Json::Value codes = parse(
      "[{\"path\":\"a\",\"code\":404},{\"path\":\"b\",\"code\":\"x\"},"
      "{\"path\":3},[]]");
  varnelo_meta_pathcode pc{"stale", 9};
  EXPECT_EQ(varnelo_meta_pathcode_array_at(handle(codes), 0, &pc), 200);
  EXPECT_STREQ(pc.path, "a");
  EXPECT_EQ(pc.code, 404);
  EXPECT_EQ(varnelo_meta_pathcode_array_at(handle(codes), 1, &pc), 200);
  EXPECT_EQ(pc.code, 0);
  EXPECT_EQ(varnelo_meta_pathcode_array_at(handle(codes), 2, &pc), 404);
  EXPECT_EQ(varnelo_meta_pathcode_array_at(handle(codes), 3, &pc), 404);
  EXPECT_EQ(pc.path, nullptr);

  Json::Value urls = parse(
      "[{\"index\":3,\"url\":\"http://h/c/3\"},{\"index\":\"3\",\"url\":\"u\"},"
      "{\"index\":1,\"url\":null}]");
  varnelo_meta_indexurl iu{};
  EXPECT_EQ(varnelo_meta_indexurl_array_at(handle(urls), 0, &iu), 200);
  EXPECT_EQ(iu.index, 3);
  EXPECT_STREQ(iu.url, "http://h/c/3");
  EXPECT_EQ(varnelo_meta_indexurl_array_at(handle(urls), 1, &iu), 404);
  EXPECT_EQ(iu.index, -1);
  EXPECT_EQ(varnelo_meta_indexurl_array_at(handle(urls), 2, &iu), 404);
  EXPECT_EQ(varnelo_meta_indexurl_array_at(handle(urls), -7, &iu), 404);
}

TEST(ArrayAccessorTest, DevicesAndStrings) {
  Json::Value devices =
      parse("[{\"devId\":\"d1\",\"devName\":\"pc\"},{\"devId\":\"d2\",\"devName\":5}]");
  varnelo_device_info info{"x", "y"};
  EXPECT_EQ(varnelo_devinfo_array_at(handle(devices), 0, &info), 200);
  EXPECT_STREQ(info.devId, "d1");
  EXPECT_STREQ(info.devName, "pc");
  EXPECT_EQ(varnelo_devinfo_array_at(handle(devices), 1, &info), 404);
  EXPECT_EQ(info.devId, nullptr);
  EXPECT_EQ(info.devName, nullptr);
  EXPECT_EQ(varnelo_devinfo_array_at(handle(devices), 2, &info), 404);
  EXPECT_EQ(varnelo_devinfo_array_at(nullptr, 0, &info), 404);

  Json::Value strings = parse("[\"a\", 1]");
  EXPECT_STREQ(varnelo_string_array_at(handle(strings), 0), "a");
  EXPECT_EQ(varnelo_string_array_at(handle(strings), 1), nullptr);
  EXPECT_EQ(varnelo_string_array_at(handle(strings), 99), nullptr);
  EXPECT_EQ(varnelo_string_array_at(nullptr, 0), nullptr);
  EXPECT_EQ(varnelo_array_size(nullptr), 0);
  Json::Value object = parse("{\"a\":1}");
  EXPECT_EQ(varnelo_array_size(handle(object)), 0);
}

TEST(ExportedRecordsTest, CombineCopiesAndDestroyAcceptsNull) {
  std::string key = "ck", secret = "cs";
  varnelo_token_pair consumer{key.c_str(), secret.c_str()};
  varnelo_token_pair access{"ak", "as"};
  varnelo_credentials* c = nullptr;
  EXPECT_EQ(varnelo_auth_combine("me", nullptr, &access, &c), 499);
  EXPECT_EQ(varnelo_auth_combine("me", &consumer, nullptr, &c), 499);
  EXPECT_EQ(c, nullptr);
  ASSERT_EQ(varnelo_auth_combine(nullptr, &consumer, &access, &c), 200);
  key = "changed";
  EXPECT_STREQ(c->consumer.key, "ck");
  EXPECT_STREQ(c->access.secret, "as");
  EXPECT_STREQ(c->user, "");
  EXPECT_EQ(varnelo_destroy_token(c), 200);

  EXPECT_EQ(varnelo_destroy_token(nullptr), 200);
  EXPECT_EQ(varnelo_destroy_inner_token(nullptr), 200);
  EXPECT_EQ(varnelo_destroy_user_info(nullptr), 200);
  EXPECT_EQ(varnelo_device_destroy_list_result(nullptr), 200);
  EXPECT_EQ(varnelo_meta_destroy_get_result(nullptr), 200);
  EXPECT_EQ(varnelo_meta_destroy_prepare_result(nullptr), 200);
  EXPECT_EQ(varnelo_meta_destroy_purge_result(nullptr), 200);
  EXPECT_EQ(varnelo_meta_destroy_linkid(nullptr), 200);
}

TEST(ExportedRecordsTest, NullArgumentsAreRefusedBeforeAnyRequest) {
  varnelo_token_pair consumer{"k", "s"};
  varnelo_token_pair* token = reinterpret_cast<varnelo_token_pair*>(1);
  EXPECT_EQ(varnelo_auth_quick_token(nullptr, "p", &consumer, &token, nullptr), 499);
  EXPECT_EQ(token, nullptr);
  EXPECT_EQ(varnelo_auth_request_token(nullptr, &token), 499);
  EXPECT_EQ(varnelo_auth_access_token(&consumer, nullptr, "v", &token), 499);
  varnelo_meta_get_result* get = nullptr;
  EXPECT_EQ(varnelo_meta_get(nullptr, "home", &get, nullptr, 1, 0), 499);
  EXPECT_EQ(varnelo_meta_move(nullptr, "a", "b"), 499);
  varnelo_meta_info_record info{};
  EXPECT_EQ(varnelo_meta_info(nullptr, &info), 499);
  EXPECT_EQ(varnelo_set_device(nullptr, "d", "n"), 499);
  EXPECT_EQ(varnelo_log2(nullptr), 499);
}
