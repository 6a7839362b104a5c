// Batched small puts: /info's offer, one request answering per file (a new
// file, a stale base, bytes that do not match their key), the change feed,
// requests refused whole for their shape, and a service without the offer.
#include <gtest/gtest.h>

#include "TestClient.h"

namespace varnelo::test {
namespace {

struct File {
  std::string path;
  std::string content;
  std::string base;
  std::string key;  // empty: the content's
};

Json::Value member(const File& f) {
  Json::Value m;
  m["path"] = f.path;
  m["key"] = f.key.empty() ? urlSafeBase64(sha1Bytes(f.content)) : f.key;
  m["fileSize"] = std::to_string(f.content.size());
  m["base"] = f.base;
  m["chunkSize"] = 4194304;
  m["mimeType"] = "text/plain";
  m["editTime"] = "1234";
  return m;
}

std::string batchBody(const std::vector<File>& files) {
  Json::Value manifest;
  manifest["files"] = Json::Value(Json::arrayValue);
  std::string contents;
  for (const File& f : files) {
    manifest["files"].append(member(f));
    contents += f.content;
  }
  Json::StreamWriterBuilder w;
  w["indentation"] = "";
  return Json::writeString(w, manifest) + "\n" + contents;
}

class PutBatchTest : public AccountTest {
 protected:
  Reply putBatch(const std::string& body) {
    return client_->send("POST", service_->httpBase() + "/2/put_batch", body,
                         client_->accessSigning(), {"Content-Type: application/octet-stream"});
  }
  std::string cursor() {
    return client_->call("/info", Json::Value()).json["notify"]["cursor"].asString();
  }
};

TEST_F(PutBatchTest, EachFileIsAnsweredAndAppliedOnItsOwn) {
  Reply info = client_->call("/info", Json::Value());
  ASSERT_EQ(info.status, 200);
  EXPECT_EQ(info.json["putBatch"]["files"].asInt(), 256);
  EXPECT_EQ(info.json["putBatch"]["bytes"].asInt(), 4 * 1024 * 1024);

  Reply first = client_->upload("home/d/old.txt", "old content", 4194304);
  ASSERT_EQ(first.status, 200);
  const std::string oldVer = first.json["ver"].asString();
  const std::string before = cursor();

  std::vector<File> files = {
      {"home/d/new.txt", "new content", "", ""},
      {"home/d/old.txt", "edit on a stale base", "", ""},  // no base but the file exists
      {"home/d/bad.txt", "bytes that do not match", "", urlSafeBase64(sha1Bytes("other"))},
      {"/home/e/f/deep.txt", std::string(16384, 'x'), "", ""},
      {"home/d/old.txt", "edit on the current version", oldVer, ""},
      {"home/..", "refused path", "", ""},
  };
  Reply r = putBatch(batchBody(files));
  ASSERT_EQ(r.status, 200) << r.body;
  const Json::Value& results = r.json["results"];
  ASSERT_EQ(results.size(), files.size());
  std::vector<int> codes;
  for (const auto& item : results) codes.push_back(item["code"].asInt());
  EXPECT_EQ(codes, (std::vector<int>{200, 409, 400, 200, 200, 400}));
  EXPECT_EQ(results[0]["path"].asString(), "home/d/new.txt");
  EXPECT_EQ(results[3]["path"].asString(), "/home/e/f/deep.txt") << "the request's path style";
  EXPECT_FALSE(results[0]["ver"].asString().empty());
  EXPECT_NE(results[4]["ver"].asString(), oldVer);

  EXPECT_EQ(get("home/d/new.txt").json["fileSize"].asString(), "11");
  EXPECT_EQ(get("home/e/f/deep.txt").json["fileSize"].asString(), "16384") << "folders were made";
  EXPECT_EQ(get("home/d/old.txt").json["ver"].asString(), results[4]["ver"].asString());
  EXPECT_EQ(get("home/d/bad.txt").status, 404);
  EXPECT_NE(cursor(), before) << "the change feed was told";
}

TEST_F(PutBatchTest, AMalformedRequestIsRefusedWholeAndAppliesNothing) {
  const File good{"home/untouched.txt", "fine", "", ""};
  const std::string valid = batchBody({good});
  std::vector<std::pair<const char*, std::string>> bodies = {
      {"no manifest line", "{\"files\":[]}"},
      {"not JSON", "{files}\nfine"},
      {"no files", "{\"files\":[]}\n"},
      {"files not an array", "{\"files\":{}}\nfine"},
      {"one byte short", valid.substr(0, valid.size() - 1)},
      {"one byte over", valid + "x"},
      {"over the file limit", batchBody(std::vector<File>(257, good))},
  };
  auto withMember = [&](const char* name, const Json::Value& value) {
    Json::Value m = member(good);
    m[name] = value;
    Json::Value manifest;
    manifest["files"].append(m);
    Json::StreamWriterBuilder w;
    w["indentation"] = "";
    return Json::writeString(w, manifest) + "\n" + good.content;
  };
  bodies.emplace_back("size as a number", withMember("fileSize", 4));
  bodies.emplace_back("negative size", withMember("fileSize", "-4"));
  bodies.emplace_back("short key", withMember("key", "AAAA"));
  bodies.emplace_back("bad chunk size", withMember("chunkSize", 1000));
  bodies.emplace_back("bad base", withMember("base", "!!"));
  bodies.emplace_back("no edit time", withMember("editTime", Json::Value()));
  File big{"home/big", std::string(16385, 'b'), "", ""};
  bodies.emplace_back("a file over the small size", batchBody({good, big}));
  File empty{"home/empty", "", "", ""};
  bodies.emplace_back("an empty file", batchBody({good, empty}));
  for (const auto& [why, body] : bodies) {
    EXPECT_EQ(putBatch(body).status, 400) << why;
  }
  EXPECT_EQ(get("home/untouched.txt").status, 404) << "nothing of a refused batch is applied";
  EXPECT_EQ(putBatch(valid).status, 200) << "the connection and the account still work";
}

TEST(PutBatchOffTest, AServiceWithoutBatchesOffersNone) {
  ServiceProcess::Options options;
  options.extraArgs = {"--batch", "off"};
  ServiceProcess service(options);
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.addUser("single", "pw"));
  TestClient client(service);
  ASSERT_TRUE(client.signIn("single", "pw"));
  Reply info = client.call("/info", Json::Value());
  ASSERT_EQ(info.status, 200);
  EXPECT_FALSE(info.json.isMember("putBatch"));
  EXPECT_EQ(client
                .send("POST", service.httpBase() + "/2/put_batch",
                      batchBody({{"home/a", "a", "", ""}}), client.accessSigning())
                .status,
            404);
}

}  // namespace
}  // namespace varnelo::test
