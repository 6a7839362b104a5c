// The canned-reply server that other modules' tests use for replies the real
// service never sends: bytes go out exactly as set, requests are recorded.
#include <gtest/gtest.h>

#include "CannedServer.h"
#include "TestClient.h"

namespace varnelo::test {
namespace {

TEST(CannedServerTest, AnswersEachPathAsSetAndRecordsRequests) {
  CannedServer canned;
  ASSERT_TRUE(canned.started());
  TestClient client;
  canned.set("/get", 409, R"({"code":4})");
  canned.setRaw("/info", "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\n{\"cut");

  Reply conflict = client.plain("POST", canned.base() + "/get?x=1", "{\"path\":\"home\"}",
                                {"Content-Type: application/octet-stream"});
  EXPECT_EQ(conflict.status, 409);
  EXPECT_EQ(conflict.json["code"].asInt(), 4);
  Reply cut = client.plain("POST", canned.base() + "/info", "null");
  EXPECT_NE(cut.curlCode, 0) << "the announced length never arrives";
  EXPECT_EQ(client.plain("GET", canned.base() + "/other", "").status, 404);

  auto requests = canned.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/get?x=1");
  EXPECT_EQ(requests[0].body, "{\"path\":\"home\"}");
  EXPECT_EQ(requests[0].header("content-type"), "application/octet-stream");
  EXPECT_EQ(canned.requestCount("/get"), 1u);
}

}  // namespace
}  // namespace varnelo::test
