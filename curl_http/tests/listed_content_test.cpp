// Listings that carry small files' content: the offer read from /info
// (only a positive integer counts, clamped), the "inline" member a listing
// sends, and each entry's content read back (present, absent, malformed).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CannedServerTest.h"
#include "EnvGuard.h"
#include "JsonAccess.h"
#include "MetaApi.h"
#include "RawHttpServer.h"
#include "varnelo/meta.h"

using namespace varnelo::http;
using varnelo::test::RawHttpServer;

namespace {

const std::string kVer = "AAECAwQFBgcICQoLDA0ODw==";
const std::string kInfo =
    "\"protocol\":1,\"chunkSize\":4194304,\"smallFileSize\":16384,\"used\":\"0\",\"total\":\"1\"";

class ListedContentTest : public varnelo::test::CannedServerTest {
 protected:
  uint32_t offered(const std::string& member) {
    server.reply("200 OK", "{" + kInfo + member + "}");
    varnelo_meta_info_record info{};
    NotifyOffer notify;
    uint32_t limit = 12345;
    EXPECT_EQ(meta_info_notify(creds, &info, notify, nullptr, &limit), 200) << member;
    return limit;
  }
};

}  // namespace

TEST_F(ListedContentTest, TheOfferIsAPositiveIntegerClampedOrNothing) {
  EXPECT_EQ(offered(",\"inline\":16384"), 16384u);
  EXPECT_EQ(offered(""), 0u);
  EXPECT_EQ(offered(",\"inline\":\"16384\""), 0u);
  EXPECT_EQ(offered(",\"inline\":0"), 0u);
  EXPECT_EQ(offered(",\"inline\":-7"), 0u);
  EXPECT_EQ(offered(",\"inline\":2.5"), 0u);
  EXPECT_EQ(offered(",\"inline\":{}"), 0u);
  EXPECT_EQ(offered(",\"inline\":99999999999"), kMaxInlineFileSize);
  // A malformed offer leaves the rest of the reply as it is.
  server.reply("200 OK",
               "{" + kInfo + ",\"inline\":[1],\"notify\":{\"cursor\":\"c1\",\"wait\":9}}");
  varnelo_meta_info_record info{};
  NotifyOffer notify;
  uint32_t limit = 1;
  ASSERT_EQ(meta_info_notify(creds, &info, notify, nullptr, &limit), 200);
  EXPECT_EQ(limit, 0u);
  EXPECT_TRUE(notify.offered);
  EXPECT_EQ(info.chunkSize, 4194304u);
}

TEST_F(ListedContentTest, ListingsAskForContentAndEachEntryGivesItsOwn) {
  const std::string entry = "{\"ver\":\"" + kVer + "\",\"type\":1,\"fileSize\":\"5\"";
  const std::string listing =
      "{\"ver\":\"" + kVer + "\",\"type\":2,\"path\":\"home\",\"fileCount\":5,\"entries\":[" +
      entry + ",\"data\":\"aGVsbG8=\"}," + entry + "}," + entry + ",\"data\":5}," + entry +
      ",\"data\":\"aGV*bG8=\"}," + entry + ",\"data\":\"\"}]}";
  server.reply("200 OK", listing);
  varnelo_meta_get_result* raw = nullptr;
  ASSERT_EQ(meta_list(creds, "home", &raw, 16384), 200);
  varnelo::test::GetResultPtr result(raw);
  EXPECT_EQ(lastBody()["inline"].asInt(), 16384);
  EXPECT_TRUE(is_integer(lastBody()["inline"]));

  std::vector<uint8_t> bytes;
  ASSERT_EQ(meta_entry_inline_data(result->entries, 0, bytes), 200);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "hello");
  EXPECT_EQ(meta_entry_inline_data(result->entries, 1, bytes), 404) << "none carried";
  EXPECT_EQ(meta_entry_inline_data(result->entries, 2, bytes), -1) << "not text";
  EXPECT_EQ(meta_entry_inline_data(result->entries, 3, bytes), -1) << "not base64";
  EXPECT_TRUE(bytes.empty());
  // Empty text is no bytes: the caller's length check refuses it for a
  // file of 5 bytes.
  EXPECT_EQ(meta_entry_inline_data(result->entries, 4, bytes), 200);
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(meta_entry_inline_data(result->entries, 5, bytes), 404);
  EXPECT_EQ(meta_entry_inline_data(nullptr, 0, bytes), 404);

  // Without a limit, or without a listing, nothing is asked for.
  server.reply("200 OK", listing);
  ASSERT_EQ(meta_list(creds, "home", &raw), 200);
  result.reset(raw);
  EXPECT_FALSE(lastBody().isMember("inline"));
  server.reply("200 OK", "{\"ver\":\"" + kVer + "\",\"type\":1}");
  ASSERT_EQ(meta_get(creds, "home/f", &raw, nullptr, false, 0, 16384), 200);
  result.reset(raw);
  EXPECT_FALSE(lastBody().isMember("inline"));
}
