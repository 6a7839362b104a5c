// The client against fixed replies from a loopback server: malformed,
// hostile and unusual replies the reference service never sends, and the
// exact requests the client puts on the wire.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AccountApi.h"
#include "CannedServerTest.h"
#include "EnvGuard.h"
#include "JsonAccess.h"
#include "KeyList.h"
#include "MetaApi.h"
#include "RawHttpServer.h"
#include "TokenRequest.h"
#include "Transport.h"
#include "varnelo/meta.h"

using namespace varnelo::http;
using varnelo::test::RawHttpServer;

namespace {

const std::string kVer = "AAECAwQFBgcICQoLDA0ODw==";

class CannedReplyTest : public varnelo::test::CannedServerTest {};
using varnelo::test::GetResultPtr;

}  // namespace

TEST_F(CannedReplyTest, TokenRepliesAndRefusals) {
  varnelo_token_pair consumer{"ck", "cs"};
  varnelo_token_pair* token = nullptr;
  const std::string url = server.url("/oauth/request_token?oauth_callback=oob");

  server.reply("200 OK", "oauth_token_secret=ts&oauth_token=tk&oauth_callback_confirmed=true");
  ASSERT_EQ(token_post(url, &consumer, nullptr, &token), 200);
  EXPECT_STREQ(token->key, "tk");
  EXPECT_STREQ(token->secret, "ts");
  varnelo_destroy_inner_token(token);
  // The OAuth parameters travel in the signed URL's query; the body is empty.
  RawHttpServer::Request sent = server.last();
  EXPECT_EQ(sent.line().rfind("POST /oauth/request_token?", 0), 0u);
  EXPECT_TRUE(sent.hasHeader("oauth_callback=oob"));
  EXPECT_TRUE(sent.hasHeader("oauth_signature="));
  EXPECT_TRUE(sent.body.empty());

  server.reply("200 OK", "oauth_token=tk");
  EXPECT_EQ(token_post(url, &consumer, nullptr, &token), -1);
  EXPECT_EQ(token, nullptr);

  const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
  const std::pair<const char*, int> refusals[] = {{"{\"code\":1}", -115},
                                                  {"{\"code\":4}", -116},
                                                  {"{\"code\":7}", 409},
                                                  {"{\"code\":\"4\"}", -1},
                                                  {"[4]", -1},
                                                  {"code=4", -119}};
  for (auto [body, expected] : refusals) {
    server.reply("409 Conflict", body, interim);
    EXPECT_EQ(token_post(url, &consumer, nullptr, &token), expected) << body;
    EXPECT_EQ(token, nullptr);
  }
  server.reply("401 Unauthorized", "");
  EXPECT_EQ(token_post(url, &consumer, nullptr, &token), 401);
}

TEST_F(CannedReplyTest, GetSendsItsMembersAndParsesTheEntry) {
  varnelo_meta_get_result* raw = nullptr;
  server.reply("200 OK", "{\"ver\":\"" + kVer +
                             "\",\"type\":2,\"path\":\"/home\",\"fileSize\":\"5000000000\","
                             "\"data\":\"aGVsbG8=\",\"dataurl\":\"http://h/d?c=x&\","
                             "\"entries\":[{\"ver\":\"" +
                             kVer + "\",\"type\":1,\"fileSize\":12}]}");
  ASSERT_EQ(varnelo_meta_get(creds, "home", &raw, nullptr, 1, 3), 200);
  GetResultPtr result(raw);
  Json::Value body = lastBody();
  EXPECT_EQ(body["path"], "home");
  EXPECT_EQ(body["base"], "");
  EXPECT_TRUE(is_integer(body["list"]));
  EXPECT_EQ(body["list"].asInt(), 1);
  EXPECT_EQ(body["showType"].asInt(), 3);
  RawHttpServer::Request sent = server.last();
  EXPECT_EQ(sent.line(), "POST /get HTTP/1.1");
  EXPECT_TRUE(sent.hasHeader("Authorization: OAuth "));
  EXPECT_TRUE(sent.hasHeader("Content-Type: application/octet-stream"));
  EXPECT_FALSE(sent.hasHeader("Expect:"));

  EXPECT_EQ(result->entry.fileSize, 5000000000LL);
  EXPECT_STREQ(result->entry.path, "/home");
  EXPECT_STREQ(result->dataurl, "http://h/d?c=x&");
  ASSERT_EQ(result->dataLength, 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(result->data), 5), "hello");
  ASSERT_EQ(varnelo_array_size(result->entries), 1);
  varnelo_meta_entry child{};
  EXPECT_EQ(varnelo_meta_entry_array_at(result->entries, 0, &child), 200);
  EXPECT_EQ(child.fileSize, 12);

  uint8_t base[16] = {};
  server.reply("200 OK", "{\"ver\":\"" + kVer + "\",\"type\":1,\"entries\":{\"a\":1}}");
  ASSERT_EQ(varnelo_meta_get(creds, "home/f", &raw, base, 0, 0), 200);
  result.reset(raw);
  EXPECT_EQ(lastBody()["list"].asInt(), 0);
  EXPECT_EQ(lastBody()["base"], "AAAAAAAAAAAAAAAAAAAAAA==");
  EXPECT_EQ(result->entries, nullptr);
  EXPECT_EQ(result->data, nullptr);
  EXPECT_EQ(result->dataurl, nullptr);
}

TEST_F(CannedReplyTest, MalformedGetRepliesGiveNoResult) {
  const std::pair<std::string, int> replies[] = {
      {"{\"ver\":\"AAECAwQFBgcICQoLDA0O\",\"type\":1}", -1},  // 15 bytes
      {"{\"ver\":\"" + kVer + "\",\"type\":4}", -1},
      {"[{\"ver\":\"" + kVer + "\",\"type\":1}]", -1},  // an array, not an object
      {"not json", -119},
      {std::string(200000, '[') + std::string(200000, ']'), -119},
      {"{\"ver\":\"" + kVer + "\",\"type\":1", -119},
  };
  for (const auto& [body, expected] : replies) {
    varnelo_meta_get_result* raw = reinterpret_cast<varnelo_meta_get_result*>(1);
    server.reply("200 OK", body);
    EXPECT_EQ(varnelo_meta_get(creds, "home", &raw, nullptr, 0, 0), expected) << body.substr(0, 60);
    EXPECT_EQ(raw, nullptr);
  }
  varnelo_meta_get_result* raw = nullptr;
  server.reply("404 Not Found", "{\"error\":\"no such path\"}");
  EXPECT_EQ(varnelo_meta_get(creds, "home/x", &raw, nullptr, 0, 0), 404);
  server.reply("404 Not Found", "<html>gone</html>");
  EXPECT_EQ(varnelo_meta_get(creds, "home/x", &raw, nullptr, 0, 0), -119);
  EXPECT_EQ(raw, nullptr);
  // A reply larger than any listing is refused while it arrives, not held:
  // this one would parse (blanks around an entry) if it were read whole.
  server.reply("200 OK",
               std::string(StringSink::kMaxBytes, ' ') + "{\"ver\":\"" + kVer + "\",\"type\":1}");
  EXPECT_EQ(varnelo_meta_get(creds, "home/x", &raw, nullptr, 0, 0), CURLE_WRITE_ERROR);
  EXPECT_EQ(raw, nullptr);
}

TEST_F(CannedReplyTest, PurgeAndUndeleteHandOutOnlyPartialResults) {
  varnelo_meta_purge_result* result = reinterpret_cast<varnelo_meta_purge_result*>(1);
  server.reply("200 OK", "{}");
  EXPECT_EQ(varnelo_meta_purge(creds, "home/a", &result), 200);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(lastBody()["path"], "home/a");
  EXPECT_EQ(server.last().line(), "POST /purge HTTP/1.1");

  server.reply("298 Partial", "{\"code\":3,\"paths\":[{\"path\":\"home/a/b\",\"code\":409}]}");
  ASSERT_EQ(varnelo_meta_undelete(creds, "home/a", &result), 298);
  EXPECT_EQ(server.last().line(), "POST /undelete HTTP/1.1");
  EXPECT_EQ(result->code, 3);
  varnelo_meta_pathcode pc{};
  ASSERT_EQ(varnelo_meta_pathcode_array_at(result->paths, 0, &pc), 200);
  EXPECT_STREQ(pc.path, "home/a/b");
  EXPECT_EQ(pc.code, 409);
  varnelo_meta_destroy_purge_result(result);

  server.reply("298 Partial", "{\"code\":3,\"paths\":{}}");
  ASSERT_EQ(varnelo_meta_purge(creds, "home/a", &result), 298);
  EXPECT_EQ(result->paths, nullptr);
  varnelo_meta_destroy_purge_result(result);
  server.reply("298 Partial", "{\"code\":\"3\"}");
  EXPECT_EQ(varnelo_meta_purge(creds, "home/a", &result), -1);
  EXPECT_EQ(result, nullptr);
}

TEST_F(CannedReplyTest, InfoChecksEveryMemberAndReadsDamagedChunks) {
  const std::string good =
      "\"protocol\":2,\"chunkSize\":4194304,\"smallFileSize\":16384,\"used\":\"5000000000\"";
  varnelo_meta_info_record info{};
  server.reply("200 OK", "{" + good + ",\"total\":\"9000000000\",\"dirty\":[]}");
  ASSERT_EQ(varnelo_meta_info(creds, &info), 200);
  EXPECT_EQ(lastBody(), Json::Value());  // the body is JSON null
  EXPECT_EQ(info.chunkSize, 4194304u);
  EXPECT_EQ(info.used, 5000000000LL);
  EXPECT_EQ(info.total, 9000000000LL);
  EXPECT_EQ(info.dirty, 0);

  for (const std::string& bad : std::vector<std::string>{
           "{" + good + ",\"total\":\"0\"}", "{" + good + ",\"total\":9}",
           "{\"protocol\":2.0,\"chunkSize\":1,\"smallFileSize\":1,\"used\":\"1\",\"total\":\"1\"}",
           std::string("[1]")}) {
    server.reply("200 OK", bad);
    EXPECT_EQ(varnelo_meta_info(creds, &info), -1) << bad;
  }

  const std::string key = "AAAAAAAAAAAAAAAAAAAAAAAAAAA=";
  std::vector<DirtyChunk> dirty;
  server.reply("200 OK", "{" + good + ",\"total\":\"1\",\"dirty\":[{\"index\":2,\"key\":\"" + key +
                             "\",\"path\":\"home/f\",\"size\":10,\"url\":\"http://h/c\"}]}");
  ASSERT_EQ(meta_info_dirty(creds, &info, dirty), 200);
  EXPECT_EQ(info.dirty, 1);
  ASSERT_EQ(dirty.size(), 1u);
  EXPECT_EQ(dirty[0].index, 2);
  EXPECT_EQ(dirty[0].path, "home/f");
  EXPECT_EQ(dirty[0].size, 10);
  EXPECT_EQ(dirty[0].url, "http://h/c");

  dirty.clear();
  server.reply("200 OK", "{" + good +
                             ",\"total\":\"1\",\"dirty\":[{\"index\":2,\"key\":\"AAAA\","
                             "\"path\":\"p\",\"size\":10,\"url\":\"u\"}]}");
  EXPECT_EQ(meta_info_dirty(creds, &info, dirty), -1);
  server.reply("200 OK", "{" + good + ",\"total\":\"1\",\"dirty\":[7]}");
  EXPECT_EQ(meta_info_dirty(creds, &info, dirty), -1);
}

TEST_F(CannedReplyTest, PutCallsSendKeysAndReadRequiredChunks) {
  varnelo_meta_prepare_result* prepared = nullptr;
  server.reply("200 OK", "{}");
  ASSERT_EQ(varnelo_meta_prepare_put(creds, "home/f", nullptr, 0, 4194304, 0, nullptr, &prepared),
            200);
  Json::Value body = lastBody();
  EXPECT_TRUE(body["keys"].isArray());
  EXPECT_EQ(body["keys"].size(), 0u);
  EXPECT_EQ(body["fileSize"], "0");
  EXPECT_EQ(body["chunkSize"].asUInt(), 4194304u);
  EXPECT_EQ(varnelo_array_size(prepared->required), 0);
  varnelo_meta_destroy_prepare_result(prepared);

  uint8_t keys[40] = {};
  keys[20] = 0xff;
  server.reply("200 OK", "{\"required\":[{\"index\":1,\"url\":\"http://h/up/1\"}]}");
  ASSERT_EQ(
      varnelo_meta_prepare_put(creds, "home/f", keys, 2, 4194304, 5000000000LL, nullptr, &prepared),
      200);
  body = lastBody();
  EXPECT_EQ(body["keys"][1], "_wAAAAAAAAAAAAAAAAAAAAAAAAA=");
  EXPECT_EQ(body["fileSize"], "5000000000");
  varnelo_meta_indexurl iu{};
  ASSERT_EQ(varnelo_meta_indexurl_array_at(prepared->required, 0, &iu), 200);
  EXPECT_EQ(iu.index, 1);
  EXPECT_STREQ(iu.url, "http://h/up/1");
  varnelo_meta_destroy_prepare_result(prepared);

  server.reply("200 OK", "{\"required\":{\"index\":1}}");
  EXPECT_EQ(varnelo_meta_prepare_put(creds, "home/f", keys, 2, 4194304, 1, nullptr, &prepared), -1);
  EXPECT_EQ(prepared, nullptr);

  varnelo_meta_entry entry{};
  server.reply("200 OK", "{\"ver\":\"" + kVer + "\"}");
  ASSERT_EQ(varnelo_meta_commit_put(creds, "home/f", keys, 2, 4194304, 1, "133", "text/plain",
                                    entry.ver, &entry),
            200);
  body = lastBody();
  EXPECT_EQ(body["editTime"], "133");
  EXPECT_EQ(body["mimeType"], "text/plain");
  EXPECT_EQ(body["base"], "AAAAAAAAAAAAAAAAAAAAAA==");
  EXPECT_EQ(entry.ver[15], 15);
  server.reply("200 OK", "{\"ver\":\"AAEC\"}");
  EXPECT_EQ(varnelo_meta_commit_put(creds, "home/f", keys, 2, 4194304, 1, "", "", nullptr, &entry),
            -1);
}

TEST_F(CannedReplyTest, DevicesUserInfoPingLinksAndLog) {
  varnelo_device_list_result* list = nullptr;
  server.reply("200 OK", "{}");
  ASSERT_EQ(varnelo_list_devices(creds, &list), 200);
  EXPECT_EQ(varnelo_array_size(list->devices), 0);
  varnelo_device_destroy_list_result(list);
  server.reply("200 OK", "{\"devices\":{\"devId\":\"d\"}}");
  EXPECT_EQ(varnelo_list_devices(creds, &list), -1);
  EXPECT_EQ(list, nullptr);

  server.reply("200 OK", "{}");
  EXPECT_EQ(varnelo_set_device(creds, "id-1", "\xe7\x94\xb5\xe8\x84\x91"), 200);
  Json::Value body = lastBody();
  EXPECT_EQ(body["devId"], "id-1");
  EXPECT_EQ(body["devName"], "\xe7\x94\xb5\xe8\x84\x91");
  // json_post_status does not read the body, so junk in it is no error.
  server.reply("409 Conflict", "<<junk>>");
  EXPECT_EQ(varnelo_unlink_device(creds, "id-1"), 409);

  char* link = nullptr;
  server.reply("200 OK", "{\"linkid\":\"\"}");
  EXPECT_EQ(varnelo_meta_mklink(creds, "home/f", &link), -1);
  server.reply("200 OK", "{\"linkid\":\"L1\"}");
  ASSERT_EQ(varnelo_meta_mklink(creds, "home/f", &link), 200);
  EXPECT_STREQ(link, "L1");
  EXPECT_EQ(server.last().line(), "POST /makelink HTTP/1.1");
  varnelo_meta_destroy_linkid(link);

  server.reply("200 OK", "not json");
  EXPECT_EQ(varnelo_log2("line one\nline two"), -119);
  EXPECT_EQ(server.last().body, "line one\nline two");
  EXPECT_FALSE(server.last().hasHeader("Authorization:"));
  server.reply("200 OK", "");
  EXPECT_EQ(varnelo_log2("x"), 200);

  server.reply("200 OK", "{\"code\":1}");
  EXPECT_EQ(meta_delete(creds, "home/gone", 5000), 200);  // the reply is not interpreted
  EXPECT_EQ(lastBody()["paths"][0], "home/gone");
}

TEST_F(CannedReplyTest, RangesPutBodiesAndStopping) {
  StringSink body, headers;
  server.reply("206 Partial Content", "abc");
  ASSERT_EQ(http_get(server.url("/data"), nullptr, 5000, 0, 4194304, body, headers), 0);
  EXPECT_TRUE(server.last().hasHeader("Range: bytes=0-4194303\r\n"));
  EXPECT_EQ(body.bytes, "abc");
  server.reply("200 OK", "abc");
  ASSERT_EQ(http_get(server.url("/data"), nullptr, 5000, 0, 0, body, headers), 0);
  EXPECT_FALSE(server.last().hasHeader("Range:"));

  std::string payload(100000, 'z');
  PutBlock block;
  block.data = reinterpret_cast<const uint8_t*>(payload.data());
  block.length = payload.size();
  size_t reported = 0;
  block.onSent = [&](size_t n) { reported += n; };
  const char* extra[] = {"X-Test: 1", nullptr};
  server.reply("200 OK", "{}");
  ASSERT_EQ(http_put(server.url("/up"), block, extra, 5000, body, headers), 0);
  EXPECT_EQ(server.last().line(), "PUT /up HTTP/1.1");
  EXPECT_TRUE(server.last().hasHeader("X-Test: 1"));
  EXPECT_EQ(server.last().body, payload);
  EXPECT_EQ(block.position, payload.size());
  EXPECT_EQ(reported, payload.size());
  EXPECT_TRUE(block.ok);

  PutBlock stopped;
  stopped.data = block.data;
  stopped.length = block.length;
  stopped.isStopping = [] { return true; };
  server.reply("200 OK", "{}");
  EXPECT_EQ(http_put(server.url("/up"), stopped, nullptr, 5000, body, headers),
            CURLE_ABORTED_BY_CALLBACK);
  EXPECT_FALSE(stopped.ok);
  EXPECT_EQ(stopped.position, 0u);
}

TEST_F(CannedReplyTest, PutBodiesReadFromASourceAreSentWholeOrNotAtAll) {
  StringSink body, headers;
  // Larger than the upload buffer, so the source is asked several times, at
  // the positions that follow one another.
  std::string file(3 * kTransferBufferBytes + 12345, '\0');
  for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i * 7 + i / 4093);
  std::vector<size_t> asked;
  PutBlock block;
  block.length = file.size();
  block.source = [&](size_t position, char* out, size_t size) {
    asked.push_back(position);
    std::memcpy(out, file.data() + position, size);
    return size;
  };
  server.reply("200 OK", "{}");
  ASSERT_EQ(http_put(server.url("/up"), block, nullptr, 5000, body, headers), 0);
  EXPECT_EQ(server.last().body, file);
  EXPECT_TRUE(block.ok);
  EXPECT_EQ(block.position, file.size());
  ASSERT_GE(asked.size(), 4u);
  EXPECT_EQ(asked.front(), 0u);

  // A source that runs dry (a file cut short meanwhile) aborts the request:
  // the server never gets a body it could take as complete.
  PutBlock shortened;
  shortened.length = file.size();
  shortened.source = [&](size_t position, char* out, size_t size) -> size_t {
    if (position > 0) return 0;
    std::memcpy(out, file.data(), size);
    return size;
  };
  server.reply("200 OK", "{}");
  EXPECT_EQ(http_put(server.url("/up"), shortened, nullptr, 5000, body, headers),
            CURLE_ABORTED_BY_CALLBACK);
  EXPECT_FALSE(shortened.ok);
  EXPECT_LT(shortened.position, file.size());
}

TEST_F(CannedReplyTest, AddressesOfOtherSchemesAreRefused) {
  StringSink body, headers;
  EXPECT_EQ(http_get("file:///etc/hostname", nullptr, 5000, 0, 0, body, headers),
            CURLE_UNSUPPORTED_PROTOCOL);
  EXPECT_TRUE(body.bytes.empty());
}

TEST_F(CannedReplyTest, FetchedKeyListUsesMetaMode) {
  std::string list(1 + 40, '\x07');
  list[0] = '\x16';
  server.reply("200 OK", list);
  uint8_t keys[40];
  // Descriptor 0x26: form 2, 4 MiB chunks.
  ASSERT_EQ(decode_key_list(server.url("/data?c=Jg==&s=1"), 4u << 20, 2, keys), 200);
  EXPECT_TRUE(server.last().hasHeader("X-Mode: meta\r\n"));
  EXPECT_EQ(keys[39], 7);
  server.reply("404 Not Found", "");
  EXPECT_EQ(decode_key_list(server.url("/data?c=Jg==&s=1"), 4u << 20, 2, keys), 404);
  server.reply("200 OK", list);
  EXPECT_EQ(decode_key_list(server.url("/data?c=Jg==&s=1"), 4u << 20, 3, keys), -1);
}

TEST_F(CannedReplyTest, AutomaticProxyWithoutConfigurationConnectsDirectly) {
  for (const char* name :
       {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
    env.unset(name);
  env.set("CURL_PROXY_SETTINGTYPE", "auto");
  StringSink body, headers;
  server.reply("200 OK", "direct");
  ASSERT_EQ(http_get(server.url("/x"), nullptr, 5000, 0, 0, body, headers), 0);
  EXPECT_EQ(body.bytes, "direct");
  EXPECT_EQ(server.last().line(), "GET /x HTTP/1.1");  // not a proxy request line
}

TEST_F(CannedReplyTest, ManualProxyCarriesPlainRequestsWithCredentials) {
  env.set("CURL_PROXY", "127.0.0.1:" + std::to_string(server.port()));
  env.set("CURL_PROXYUSERPWD", "me:secret");
  StringSink body, headers;
  server.reply("200 OK", "via proxy");
  ASSERT_EQ(http_get("http://service.invalid/x", nullptr, 5000, 0, 0, body, headers), 0);
  EXPECT_EQ(body.bytes, "via proxy");
  EXPECT_EQ(server.last().line(), "GET http://service.invalid/x HTTP/1.1");
  EXPECT_TRUE(server.last().hasHeader("Proxy-Authorization: Basic bWU6c2VjcmV0"));
}

TEST_F(CannedReplyTest, PutBatchSendsManifestAndContentsAndReadsRepliesStrictly) {
  const uint8_t key[VARNELO_KEY_BYTES] = {1, 2, 3};
  const uint8_t base[VARNELO_VERSION_BYTES] = {0, 1, 2,  3,  4,  5,  6,  7,
                                               8, 9, 10, 11, 12, 13, 14, 15};
  std::vector<PutBatchFile> files(2);
  files[0] = {"home/a", key, "abc", 4194304, nullptr, "text/plain", "12"};
  files[1] = {"home/b c", key, "de\nf", 4194304, base, "", "13"};
  std::vector<PutBatchResult> results;

  server.reply("200 OK", "{\"results\":[{\"code\":200,\"ver\":\"" + kVer +
                             "\",\"path\":\"home/a\"},{\"code\":409}]}");
  ASSERT_EQ(meta_put_batch(creds, files, results, 5000), 200);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].code, 200);
  EXPECT_EQ(results[0].ver[15], 15);
  EXPECT_EQ(results[1].code, 409);
  RawHttpServer::Request sent = server.last();
  EXPECT_EQ(sent.line().rfind("POST /2/put_batch ", 0), 0u);
  EXPECT_TRUE(sent.hasHeader("oauth_signature="));
  const size_t newline = sent.body.find('\n');
  ASSERT_NE(newline, std::string::npos);
  EXPECT_EQ(sent.body.substr(newline + 1), "abcde\nf") << "contents follow in order";
  Json::Value manifest;
  ASSERT_TRUE(parse_json(sent.body.substr(0, newline), manifest));
  const Json::Value& m = manifest["files"];
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0]["path"].asString(), "home/a");
  EXPECT_EQ(m[0]["fileSize"].asString(), "3");
  EXPECT_EQ(m[0]["base"].asString(), "");
  EXPECT_EQ(m[1]["base"].asString(), kVer);
  EXPECT_EQ(m[1]["fileSize"].asString(), "4");
  EXPECT_EQ(m[1]["chunkSize"].asInt(), 4194304);
  EXPECT_EQ(m[1]["editTime"].asString(), "13");

  // Anything but one well-formed answer per file fails every file.
  const std::string ok = "{\"code\":200,\"ver\":\"" + kVer + "\"}";
  for (const std::string& bad : std::vector<std::string>{
           "{\"results\":[" + ok + "]}", "{\"results\":[" + ok + "," + ok + "," + ok + "]}",
           "{\"results\":{}}", "[]", "{\"results\":[" + ok + ",7]}",
           "{\"results\":[" + ok + ",{\"code\":\"409\"}]}",
           "{\"results\":[" + ok + ",{\"code\":200}]}",
           "{\"results\":[" + ok + ",{\"code\":200,\"ver\":\"AAAA\"}]}",
           "{\"results\":[" + ok + ",{\"code\":4090}]}",
           "{\"results\":[" + ok + ",{\"code\":409,\"pad\":\"" + std::string(64 * 1024, 'x') +
               "\"}]}"}) {
    server.reply("200 OK", bad);
    EXPECT_NE(meta_put_batch(creds, files, results, 5000), 200) << bad.substr(0, 80);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].code, -1);
    EXPECT_EQ(results[1].code, -1);
  }
  server.reply("500 Internal Server Error", "{}");
  EXPECT_EQ(meta_put_batch(creds, files, results, 5000), 500);
  EXPECT_EQ(results[0].code, -1);
  files[1].content = {};
  EXPECT_EQ(meta_put_batch(creds, files, results, 5000), 499) << "an empty file is not sent";
}

TEST(PutBatchOfferTest, OnlySaneOffersAreTakenAndTheyAreClamped) {
  auto offer = [](const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(parse_json(text, v));
    return read_put_batch_offer(v);
  };
  PutBatchOffer good = offer("{\"putBatch\":{\"files\":256,\"bytes\":4194304}}");
  EXPECT_EQ(good.files, 256);
  EXPECT_EQ(good.bytes, 4194304);
  PutBatchOffer huge = offer("{\"putBatch\":{\"files\":100000000000,\"bytes\":1000000000000}}");
  EXPECT_EQ(huge.files, kMaxPutBatchFiles);
  EXPECT_EQ(huge.bytes, kMaxPutBatchBytes);
  for (const char* bad :
       {"{}", "{\"putBatch\":7}", "{\"putBatch\":{\"files\":\"256\",\"bytes\":4}}",
        "{\"putBatch\":{\"files\":0,\"bytes\":4}}", "{\"putBatch\":{\"files\":2.5,\"bytes\":4}}",
        "{\"putBatch\":{\"files\":4}}", "{\"putBatch\":{\"files\":4,\"bytes\":-1}}"}) {
    EXPECT_EQ(offer(bad).files, 0) << bad;
  }
}
