// Chunked uploads and downloads: which chunks are required, dedup per
// account, version (409) and quota (402) rules, integrity refusals of chunk
// and small-file PUTs, and data URLs with Range and "X-Mode: meta".
#include <gtest/gtest.h>

#include <unistd.h>

#include <random>

#include "Crypto.h"
#include "TestClient.h"

namespace varnelo::test {
namespace {

constexpr int64_t kChunk = 64 * 1024;

std::string randomBytes(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

Json::Value putBody(const std::string& path, const std::string& content, const std::string& base) {
  Json::Value body;
  body["path"] = path;
  body["keys"] = Json::Value(Json::arrayValue);
  for (const auto& key : TestClient::chunkKeys(content, kChunk))
    body["keys"].append(urlSafeBase64(key));
  body["chunkSize"] = static_cast<Json::Int64>(kChunk);
  body["fileSize"] = std::to_string(content.size());
  body["base"] = base;
  body["editTime"] = "1";
  body["mimeType"] = "text/plain";
  return body;
}

class TransferTest : public AccountTest {
 protected:
  uint64_t counter(const char* endpoint, const char* field) {
    Json::Value c;
    EXPECT_TRUE(service_->counters(&c));
    return c["endpoints"][endpoint][field].asUInt64();
  }
};

TEST_F(TransferTest, OnlyMissingChunksAreRequiredAndSent) {
  std::string content = randomBytes(3 * kChunk + 100, 1);
  content.replace(kChunk, kChunk, content.substr(0, kChunk));  // chunk 1 repeats chunk 0
  Reply first = client_->call("/prepare_put", putBody("home/a.bin", content, ""));
  ASSERT_EQ(first.status, 200);
  std::vector<int> indexes;
  for (const auto& item : first.json["required"]) indexes.push_back(item["index"].asInt());
  EXPECT_EQ(indexes, (std::vector<int>{0, 2, 3})) << "a repeated key is asked for once";

  int puts = -1;
  ASSERT_EQ(client_->upload("home/a.bin", content, kChunk, "", &puts).status, 200);
  EXPECT_EQ(puts, 3);
  uint64_t bytesBefore = counter("/chunk", "bytesIn");
  ASSERT_EQ(client_->upload("home/copy.bin", content, kChunk, "", &puts).status, 200);
  EXPECT_EQ(puts, 0);
  EXPECT_EQ(counter("/chunk", "bytesIn"), bytesBefore) << "no chunk bytes for known content";

  // Another account holds none of these chunks, even though the disk has them.
  ASSERT_TRUE(service_->addUser("stranger", "pw"));
  TestClient stranger(*service_);
  ASSERT_TRUE(stranger.signIn("stranger", "pw"));
  Reply theirs = stranger.call("/prepare_put", putBody("home/a.bin", content, ""));
  EXPECT_EQ(theirs.json["required"].size(), 3u);
  EXPECT_EQ(stranger.call("/commit_put", putBody("home/a.bin", content, "")).status, 400)
      << "cannot commit chunks it never sent";
}

TEST_F(TransferTest, StaleBaseConflictsAndQuotaLimits) {
  std::string v1 = randomBytes(1000, 2), v2 = randomBytes(2000, 3);
  Reply first = client_->upload("home/f", v1, kChunk);
  ASSERT_EQ(first.status, 200);
  std::string ver1 = first.json["ver"].asString();
  EXPECT_EQ(client_->upload("home/f", v2, kChunk, "").status, 409)
      << "empty base on an existing file";
  Reply second = client_->upload("home/f", v2, kChunk, ver1);
  ASSERT_EQ(second.status, 200);
  EXPECT_EQ(client_->call("/prepare_put", putBody("home/f", v1, ver1)).status, 409) << "old base";
  EXPECT_EQ(client_->upload("home/new", v1, kChunk, ver1).status, 409) << "base on a missing file";

  ASSERT_TRUE(service_->setQuota(user_, 2000 + 1500));
  EXPECT_EQ(client_->upload("home/g", randomBytes(1501, 4), kChunk).status, 402);
  EXPECT_EQ(client_->upload("home/g", randomBytes(1500, 4), kChunk).status, 200);
  // Replacing a file counts only the difference.
  EXPECT_EQ(
      client_->upload("home/f", randomBytes(1999, 5), kChunk, second.json["ver"].asString()).status,
      200);
  Reply info = client_->call("/info", Json::Value());
  EXPECT_EQ(info.json["used"].asString(), "3499");
  EXPECT_EQ(info.json["total"].asString(), "3500");
  EXPECT_EQ(info.json["chunkSize"].asInt(), 4 * 1024 * 1024);
}

TEST_F(TransferTest, CommitNeedsEveryChunkAndListsDirtyUploads) {
  std::string content = randomBytes(2 * kChunk + 1, 6);
  Reply prepared = client_->call("/prepare_put", putBody("home/big", content, ""));
  ASSERT_EQ(prepared.json["required"].size(), 3u);
  std::string url0 = prepared.json["required"][0]["url"].asString();
  ASSERT_EQ(client_->plain("PUT", url0, content.substr(0, kChunk)).status, 200);
  EXPECT_EQ(client_->call("/commit_put", putBody("home/big", content, "")).status, 400);

  Reply info = client_->call("/info", Json::Value());
  ASSERT_EQ(info.json["dirty"].size(), 2u);
  const Json::Value& d = info.json["dirty"][1];
  EXPECT_EQ(d["index"].asInt(), 2);
  EXPECT_EQ(d["size"].asInt(), 1);
  EXPECT_EQ(d["path"].asString(), "home/big");
  EXPECT_EQ(d["key"].asString(), urlSafeBase64(sha1Bytes(content.substr(2 * kChunk))));
  // The dirty list's URL completes the upload.
  ASSERT_EQ(client_->plain("PUT", d["url"].asString(), content.substr(2 * kChunk)).status, 200);
  ASSERT_EQ(
      client_->plain("PUT", info.json["dirty"][0]["url"].asString(), content.substr(kChunk, kChunk))
          .status,
      200);
  EXPECT_EQ(client_->call("/commit_put", putBody("home/big", content, "")).status, 200);
  EXPECT_EQ(client_->call("/info", Json::Value()).json["dirty"].size(), 0u);
}

TEST_F(TransferTest, ChunkBytesMustMatchTheirKey) {
  std::string content = randomBytes(kChunk + 10, 7);
  Reply prepared = client_->call("/prepare_put", putBody("home/x", content, ""));
  std::string url = prepared.json["required"][0]["url"].asString();
  std::string wrong = content.substr(0, kChunk);
  wrong[100] ^= 1;
  EXPECT_EQ(client_->plain("PUT", url, wrong).status, 400);
  EXPECT_EQ(client_->plain("PUT", url, content.substr(0, kChunk) + "x").status, 400) << "too long";
  EXPECT_EQ(client_->plain("PUT", url + "0", content.substr(0, kChunk)).status, 403)
      << "forged capability";
  Reply again = client_->call("/prepare_put", putBody("home/x", content, ""));
  EXPECT_EQ(again.json["required"].size(), 2u) << "refused bytes stored nothing";
  // libcurl asks for "100 Continue" before large PUT bodies.
  EXPECT_EQ(client_->plain("PUT", url, content.substr(0, kChunk), {"Expect: 100-continue"}).status,
            200);
  EXPECT_EQ(client_->call("/prepare_put", putBody("home/x", content, "")).json["required"].size(),
            1u);
}

TEST_F(TransferTest, ChunksLostOrCutShortOnDiskAreAskedForAgain) {
  // What a machine crash can leave of chunks that never reached the disk:
  // one file gone, one shorter than it was. The account still holds both
  // keys, yet a new upload of the same content must send them again.
  std::string content = randomBytes(3 * kChunk + 5, 17);
  ASSERT_EQ(client_->upload("home/first.bin", content, kChunk, "").status, 200);
  std::vector<std::string> keys = TestClient::chunkKeys(content, kChunk);
  auto chunkPath = [&](const std::string& key) {
    std::string hex = service::toHex(key);
    return service_->dataDir() + "/chunks/" + hex.substr(0, 2) + "/" + hex;
  };
  ASSERT_EQ(unlink(chunkPath(keys[1]).c_str()), 0);
  ASSERT_EQ(truncate(chunkPath(keys[3]).c_str(), 2), 0);
  Reply prepared = client_->call("/prepare_put", putBody("home/second.bin", content, ""));
  ASSERT_EQ(prepared.status, 200);
  std::vector<int> indexes;
  for (const auto& item : prepared.json["required"]) indexes.push_back(item["index"].asInt());
  EXPECT_EQ(indexes, (std::vector<int>{1, 3}));
  int puts = -1;
  ASSERT_EQ(client_->upload("home/second.bin", content, kChunk, "", &puts).status, 200);
  EXPECT_EQ(puts, 2);
  Reply data = get("home/first.bin");
  ASSERT_EQ(data.status, 200);
  EXPECT_EQ(client_->plain("GET", data.json["dataurl"].asString(), "").body, content)
      << "the chunks sent again serve the first file too";
}

TEST_F(TransferTest, ShareLinksOpenAPageWithTheFile) {
  ASSERT_EQ(client_->upload("home/shared/report.txt", "quarterly numbers", kChunk).status, 200);
  Json::Value body;
  body["path"] = "home/shared/report.txt";
  Reply link = client_->call("/makelink", body);
  ASSERT_EQ(link.status, 200);
  std::string id = link.json["linkid"].asString();
  ASSERT_FALSE(id.empty());
  // The application appends "from=pc" straight after the id.
  Reply page = client_->plain("GET", service_->httpBase() + "/link?id=" + id + "from=pc", "");
  EXPECT_EQ(page.status, 200);
  EXPECT_NE(page.body.find("report.txt"), std::string::npos);
  EXPECT_EQ(client_->plain("GET", service_->httpBase() + "/link/download?id=" + id, "").body,
            "quarterly numbers");
  body["path"] = "home/shared/none.txt";
  EXPECT_EQ(client_->call("/makelink", body).status, 404);
  EXPECT_EQ(client_->plain("GET", service_->httpBase() + "/link?id=0123", "").status, 404);
}

TEST_F(TransferTest, SmallPutIsSignedAndChecked) {
  std::string content = "small file body";
  std::string key = urlSafeBase64(sha1Bytes(content));
  auto put = [&](const std::string& bytes, const std::string& base, size_t size) {
    std::string url = service_->httpBase() + "/2/put?path=home%2fsmall+name.txt&key=" + key +
                      "&fileSize=" + std::to_string(size) + "&base=" + base +
                      "&chunkSize=4194304&mimeType=text/plain&editTime=1234";
    return client_->send("PUT", url, bytes, client_->accessSigning());
  };
  std::string corrupted = content;
  corrupted[0] = 'S';
  EXPECT_EQ(put(corrupted, "", content.size()).status, 400);
  EXPECT_EQ(put(content + "!", "", content.size()).status, 400);
  Reply ok = put(content, "", content.size());
  ASSERT_EQ(ok.status, 200) << ok.body;
  EXPECT_EQ(ok.json["ver"].asString().size(), 24u);
  EXPECT_EQ(put(content, "", content.size()).status, 409) << "exists and no base";
  Reply meta = get("home/small name.txt");
  ASSERT_EQ(meta.status, 200);
  EXPECT_EQ(meta.json["editTime"].asString(), "1234");
  EXPECT_EQ(meta.json["data"].asString(), urlSafeBase64(content)) << "small files come inline";

  // The client's form escaping leaves UTF-8 bytes raw in the query.
  std::string rawName = "\xe6\x8a\xa5\xe5\x91\x8a.txt";
  Reply utf8 = client_->send("PUT",
                             service_->httpBase() + "/2/put?path=home/" + rawName + "&key=" + key +
                                 "&fileSize=15&base=&chunkSize=4194304&mimeType=&editTime=",
                             content, client_->accessSigning());
  EXPECT_EQ(utf8.status, 200) << utf8.body;
  EXPECT_EQ(get("home/" + rawName).json["path"].asString(), "home/" + rawName);

  Signing unsignedPut = client_->accessSigning();
  unsignedPut.corruptSignature = true;
  EXPECT_EQ(client_
                ->send("PUT",
                       service_->httpBase() + "/2/put?path=home/z&key=" + key +
                           "&fileSize=15&base=&chunkSize=4194304&mimeType=&editTime=",
                       content, unsignedPut)
                .status,
            401);
}

// A small put whose content the store holds already writes no chunk, but
// its body is checked all the same: a wrong or long body under a known key
// must never publish that key's content for bytes the caller does not have.
TEST_F(TransferTest, SmallPutOfStoredContentIsCheckedAndRefusalsKeepTheChunk) {
  const std::string content = randomBytes(4096, 21);
  const std::string key = urlSafeBase64(sha1Bytes(content));
  auto put = [&](const std::string& path, const std::string& bytes, const std::string& base) {
    std::string url = service_->httpBase() + "/2/put?path=" + path + "&key=" + key +
                      "&fileSize=4096&base=" + base +
                      "&chunkSize=4194304&mimeType=text/plain&editTime=7";
    return client_->send("PUT", url, bytes, client_->accessSigning());
  };
  ASSERT_EQ(put("home/first", content, "").status, 200);

  std::string flipped = content;
  flipped[4095] ^= 1;
  EXPECT_EQ(put("home/second", flipped, "").status, 400) << "wrong bytes under a stored key";
  EXPECT_EQ(put("home/second", content + "x", "").status, 400) << "a longer body";
  EXPECT_EQ(put("home/second", content.substr(0, 4000), "").status, 400) << "a shorter body";
  EXPECT_EQ(get("home/second").status, 404) << "nothing refused was published";

  Reply again = put("home/second", content, "");
  ASSERT_EQ(again.status, 200) << again.body;
  EXPECT_EQ(get("home/second").json["data"].asString(), urlSafeBase64(content));
  EXPECT_NE(again.json["ver"].asString(), get("home/first").json["ver"].asString());

  // New content refused for a stale base still counts as sent: its chunk is
  // the account's, so the next upload of it needs no bytes.
  const std::string fresh = randomBytes(3000, 22);
  std::string freshKey = urlSafeBase64(sha1Bytes(fresh));
  Reply refused = client_->send("PUT",
                                service_->httpBase() + "/2/put?path=home/first&key=" + freshKey +
                                    "&fileSize=3000&base=&chunkSize=65536&mimeType=&editTime=",
                                fresh, client_->accessSigning());
  EXPECT_EQ(refused.status, 409) << "exists and no base";
  Reply prepared = client_->call("/prepare_put", putBody("home/third", fresh, ""));
  ASSERT_EQ(prepared.status, 200);
  EXPECT_EQ(prepared.json["required"].size(), 0u);
  EXPECT_EQ(client_->call("/commit_put", putBody("home/third", fresh, "")).status, 200);
}

// A small file's content is kept in the database, not as a chunk file, and
// every reader finds it there: the inline reply, the data URL (also as the
// last chunk of a longer file, which then needs only its other chunk), and
// an upload of the same bytes under a chunk file a crash cut short.
TEST_F(TransferTest, SmallFileContentLivesInTheDatabaseAndServesEveryReader) {
  auto smallPut = [&](const std::string& path, const std::string& bytes) {
    std::string url = service_->httpBase() + "/2/put?path=" + path +
                      "&key=" + urlSafeBase64(sha1Bytes(bytes)) +
                      "&fileSize=" + std::to_string(bytes.size()) +
                      "&base=&chunkSize=4194304&mimeType=&editTime=5";
    return client_->send("PUT", url, bytes, client_->accessSigning());
  };
  auto chunkFile = [&](const std::string& bytes) {
    std::string hex = service::toHex(sha1Bytes(bytes));
    return service_->dataDir() + "/chunks/" + hex.substr(0, 2) + "/" + hex;
  };
  const std::string tail = randomBytes(12000, 31);
  ASSERT_EQ(smallPut("home/tail.txt", tail).status, 200);
  EXPECT_NE(access(chunkFile(tail).c_str(), F_OK), 0) << "no chunk file for a small put";
  Reply meta = get("home/tail.txt");
  EXPECT_EQ(meta.json["data"].asString(), urlSafeBase64(tail));
  EXPECT_TRUE(client_->plain("GET", meta.json["dataurl"].asString(), "").body == tail);

  const std::string content = randomBytes(kChunk, 32) + tail;
  Reply prepared = client_->call("/prepare_put", putBody("home/long.bin", content, ""));
  ASSERT_EQ(prepared.status, 200);
  ASSERT_EQ(prepared.json["required"].size(), 1u);
  EXPECT_EQ(prepared.json["required"][0]["index"].asInt(), 0) << "the tail is held already";
  int puts = -1;
  ASSERT_EQ(client_->upload("home/long.bin", content, kChunk, "", &puts).status, 200);
  EXPECT_EQ(puts, 1);
  std::string url = get("home/long.bin").json["dataurl"].asString();
  EXPECT_TRUE(client_->plain("GET", url, "").body == content);
  EXPECT_TRUE(client_->plain("GET", url, "", {"Range: bytes=65530-65545"}).body ==
              content.substr(65530, 16))
      << "across the border into the database's chunk";

  // Bytes first stored as a chunk file, which a crash then cut short: a small
  // put of them stores them again, and the whole copy is what is served.
  const std::string once = randomBytes(9000, 33);
  ASSERT_EQ(client_->upload("home/once.bin", once, kChunk).status, 200);
  ASSERT_EQ(truncate(chunkFile(once).c_str(), 2), 0);
  ASSERT_EQ(smallPut("home/again.txt", once).status, 200);
  EXPECT_EQ(get("home/again.txt").json["data"].asString(), urlSafeBase64(once));
  EXPECT_TRUE(client_->plain("GET", get("home/once.bin").json["dataurl"].asString(), "").body ==
              once)
      << "the database's copy is found before the short file";
}

TEST_F(TransferTest, DataUrlsServeRangesAndKeyLists) {
  std::string content = randomBytes(3 * kChunk + 5, 8);
  ASSERT_EQ(client_->upload("home/r.bin", content, kChunk).status, 200);
  Reply meta = get("home/r.bin");
  std::string url = meta.json["dataurl"].asString();
  ASSERT_FALSE(url.empty());

  Reply whole = client_->plain("GET", url, "");
  EXPECT_EQ(whole.status, 200);
  EXPECT_TRUE(whole.body == content);
  Reply middle = client_->plain("GET", url, "", {"Range: bytes=65530-131080"});
  EXPECT_EQ(middle.status, 206);
  EXPECT_TRUE(middle.body == content.substr(65530, 131080 - 65530 + 1)) << "across a chunk border";
  Reply last = client_->plain("GET", url, "", {"Range: bytes=196608-200000"});
  EXPECT_EQ(last.status, 206);
  EXPECT_TRUE(last.body == content.substr(196608)) << "a range past the end is cut at the end";
  EXPECT_EQ(client_->plain("GET", url, "", {"Range: bytes=999999-"}).status, 416);

  // Form 1: the descriptor (0x10 | 0 for 64 KiB) and the keys inline.
  size_t c = url.find("c="), amp = url.find('&', c);
  std::string expected = std::string(1, '\x10');
  for (const auto& k : TestClient::chunkKeys(content, kChunk)) expected += k;
  EXPECT_EQ(url.substr(c + 2, amp - c - 2), urlSafeBase64(expected));
  Reply keys = client_->plain("GET", url, "", {"X-Mode: meta"});
  EXPECT_TRUE(keys.body == expected);

  std::string forged = url;
  forged[forged.size() - 1] = forged.back() == '0' ? '1' : '0';
  EXPECT_EQ(client_->plain("GET", forged, "").status, 403);
}

TEST_F(TransferTest, LongFilesCarryTheirKeysBehindXModeMeta) {
  std::string content = randomBytes(65 * kChunk, 9);
  ASSERT_EQ(client_->upload("home/long.bin", content, kChunk).status, 200);
  std::string url = get("home/long.bin").json["dataurl"].asString();
  size_t c = url.find("c="), amp = url.find('&', c);
  EXPECT_EQ(url.substr(c + 2, amp - c - 2), urlSafeBase64(std::string(1, '\x20')));
  Reply keys = client_->plain("GET", url, "", {"X-Mode: meta"});
  ASSERT_EQ(keys.body.size(), 1u + 65 * 20);
  EXPECT_EQ(keys.body[0], '\x10');
  EXPECT_TRUE(keys.body.substr(1 + 64 * 20) == sha1Bytes(content.substr(64 * kChunk)));
  Reply tail = client_->plain("GET", url, "", {"Range: bytes=4194304-4194309"});
  EXPECT_TRUE(tail.body == content.substr(4194304, 6));
}

}  // namespace
}  // namespace varnelo::test
