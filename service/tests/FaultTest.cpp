// Fault injection: the same seed gives the same failures in the same order;
// flipped bytes and dropped connections show up where the plan says.
#include <gtest/gtest.h>

#include <map>

#include "TestClient.h"

namespace varnelo::test {
namespace {

std::vector<int> listStatuses(TestClient& client, int count) {
  std::vector<int> out;
  for (int i = 0; i < count; ++i) {
    out.push_back(client.call("/device/list", Json::Value()).status);
  }
  return out;
}

TEST(FaultTest, SameSeedRepeatsTheSameFailures) {
  ServiceProcess service(ServiceProcess::Options{.faults = "seed=7;/device/list:error=0.5"});
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.addUser("f", "pw"));
  TestClient client(service);
  ASSERT_TRUE(client.signIn("f", "pw"));
  std::vector<int> first = listStatuses(client, 40);
  EXPECT_GT(std::count(first.begin(), first.end(), 500), 5);
  EXPECT_GT(std::count(first.begin(), first.end(), 200), 5);

  ASSERT_TRUE(service.setFaults("seed=7;/device/list:error=0.5"));
  EXPECT_EQ(listStatuses(client, 40), first);
  ASSERT_TRUE(service.setFaults("seed=8;/device/list:error=0.5"));
  EXPECT_NE(listStatuses(client, 40), first);
  ASSERT_TRUE(service.setFaults(""));
  std::vector<int> clean = listStatuses(client, 10);
  EXPECT_EQ(std::count(clean.begin(), clean.end(), 200), 10);
  EXPECT_FALSE(service.setFaults("seed=1;/get:explode=1")) << "unknown fault kind";
}

TEST(FaultTest, APathRuleFailsOnlyThatEntry) {
  ServiceProcess service;
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.addUser("f", "pw"));
  TestClient client(service);
  ASSERT_TRUE(client.signIn("f", "pw"));
  ASSERT_EQ(client.upload("home/a/B", "twin", 65536).status, 200);
  auto get = [&](const std::string& path) {
    Json::Value body;
    body["path"] = path;
    body["list"] = 0;
    return client.call("/get", body).status;
  };
  ASSERT_TRUE(service.setFaults("/get@home/a/B:error=1"));
  EXPECT_EQ(get("home/a/B"), 500);
  EXPECT_EQ(get("/home/a/B"), 500) << "a leading slash names the same path";
  EXPECT_EQ(get("home/a/b"), 200) << "another spelling is another request";
  EXPECT_EQ(get("home/a"), 200);
  ASSERT_TRUE(service.setFaults(""));
  EXPECT_EQ(get("home/a/B"), 200);
}

TEST(FaultTest, FlipAndDropCorruptDataBodies) {
  ServiceProcess service;
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.addUser("f", "pw"));
  TestClient client(service);
  ASSERT_TRUE(client.signIn("f", "pw"));
  std::string content(200000, 'a');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  ASSERT_EQ(client.upload("home/f", content, 65536).status, 200);
  Json::Value body;
  body["path"] = "home/f";
  body["list"] = 0;
  std::string url = client.call("/get", body).json["dataurl"].asString();

  ASSERT_TRUE(service.setFaults("seed=3;/data:flip=1"));
  Reply flipped = client.plain("GET", url, "");
  ASSERT_EQ(flipped.status, 200);
  ASSERT_EQ(flipped.body.size(), content.size());
  size_t differences = 0;
  for (size_t i = 0; i < content.size(); ++i) differences += flipped.body[i] != content[i];
  EXPECT_EQ(differences, 1u);
  ASSERT_TRUE(service.setFaults("seed=3;/data:flip=1"));
  EXPECT_TRUE(client.plain("GET", url, "").body == flipped.body) << "same byte again";

  ASSERT_TRUE(service.setFaults("seed=3;/data:drop=1"));
  Reply dropped = client.plain("GET", url, "");
  EXPECT_NE(dropped.curlCode, 0) << "the connection ends before the announced length";
  EXPECT_LT(dropped.body.size(), content.size());
  ASSERT_TRUE(service.setFaults(""));
  EXPECT_TRUE(client.plain("GET", url, "").body == content);
}

TEST(FaultTest, RefusedUploadsLeaveTheConnectionUsable) {
  ServiceProcess service(ServiceProcess::Options{.faults = "seed=5;/chunk:error=0.5"});
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.addUser("f", "pw"));
  TestClient client(service);
  ASSERT_TRUE(client.signIn("f", "pw"));
  std::string content(8 * 65536, 'q');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + i / 65536);
  Json::Value put;
  put["path"] = "home/f";
  for (const auto& key : TestClient::chunkKeys(content, 65536))
    put["keys"].append(urlSafeBase64(key));
  put["chunkSize"] = 65536;
  put["fileSize"] = std::to_string(content.size());
  put["base"] = "";
  Reply prepared = client.call("/prepare_put", put);
  ASSERT_EQ(prepared.json["required"].size(), 8u);
  // Injected failures answer before the body is read; the next request on
  // the same client must still get its own, proper answer.
  std::map<int, int> statuses;
  for (const auto& item : prepared.json["required"]) {
    size_t offset = item["index"].asUInt64() * 65536;
    std::string url = item["url"].asString();
    ++statuses[client.plain("PUT", url, content.substr(offset, 65536)).status];
    ++statuses[client.plain("PUT", url + "x", content.substr(offset, 65536)).status];
    ++statuses[client.call("/info", Json::Value()).status];
  }
  for (const auto& [status, count] : statuses) {
    EXPECT_TRUE(status == 200 || status == 403 || status == 500) << status << " x" << count;
  }
  EXPECT_GT(statuses[500], 0);
  EXPECT_EQ(statuses[200] + statuses[500] + statuses[403], 24);
}

}  // namespace
}  // namespace varnelo::test
