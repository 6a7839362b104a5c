// Every file metadata function against the reference service: storage
// facts, folders, the chunked put (prepare → chunk PUTs → commit), reading
// a file back through its data address and key list, the small-file put,
// move, copy, delete, undelete, purge and share links.
#include <openssl/sha.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "HttpStatus.h"
#include "KeyList.h"
#include "MetaApi.h"
#include "OAuthHeader.h"
#include "Transport.h"
#include "client_fixture.h"

using namespace varnelo::e2e;
using namespace varnelo::http;

namespace {

constexpr uint32_t k64KiB = 65536;

struct GetDeleter {
  void operator()(varnelo_meta_get_result* r) const { varnelo_meta_destroy_get_result(r); }
};
using GetResult = std::unique_ptr<varnelo_meta_get_result, GetDeleter>;

std::string pattern(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 977) & 0xff);
  return bytes;
}

std::vector<uint8_t> chunk_keys(const std::string& content, uint32_t chunkSize) {
  std::vector<uint8_t> keys;
  for (size_t at = 0; at < content.size(); at += chunkSize) {
    uint8_t key[20];
    size_t n = std::min<size_t>(chunkSize, content.size() - at);
    SHA1(reinterpret_cast<const uint8_t*>(content.data() + at), n, key);
    keys.insert(keys.end(), key, key + 20);
  }
  return keys;
}

int status_of(int curlCode, const StringSink& headers) {
  return curlCode != 0 ? curlCode : parse_http_status(headers.bytes);
}

class MetaTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    if (HasFatalFailure()) return;
    credentials = sign_in(fresh_user("meta"));
    ASSERT_TRUE(credentials);
  }

  GetResult get(const std::string& path, bool list = false, int32_t* code = nullptr) {
    varnelo_meta_get_result* raw = nullptr;
    int32_t rc = varnelo_meta_get(credentials.get(), path.c_str(), &raw, nullptr, list ? 1 : 0, 0);
    if (code != nullptr)
      *code = rc;
    else
      EXPECT_EQ(rc, 200) << path;
    return GetResult(raw);
  }

  // prepare_put → PUT of every required chunk → commit_put; returns commit's code.
  int32_t put_file(const std::string& path, const std::string& content, uint32_t chunkSize,
                   varnelo_meta_entry& entry, size_t* uploaded = nullptr) {
    std::vector<uint8_t> keys = chunk_keys(content, chunkSize);
    int32_t count = static_cast<int32_t>(keys.size() / 20);
    varnelo_meta_prepare_result* prepared = nullptr;
    int32_t rc =
        varnelo_meta_prepare_put(credentials.get(), path.c_str(), keys.data(), count, chunkSize,
                                 static_cast<int64_t>(content.size()), nullptr, &prepared);
    if (rc != 200) return rc;
    size_t sent = 0;
    for (int32_t i = 0; i < varnelo_array_size(prepared->required); ++i) {
      varnelo_meta_indexurl required{};
      EXPECT_EQ(varnelo_meta_indexurl_array_at(prepared->required, i, &required), 200);
      EXPECT_GE(required.index, 0);
      EXPECT_LT(required.index, count);
      size_t offset = size_t(required.index) * chunkSize;
      PutBlock block;
      block.data = reinterpret_cast<const uint8_t*>(content.data()) + offset;
      block.length = std::min<size_t>(chunkSize, content.size() - offset);
      StringSink body, headers;
      EXPECT_EQ(status_of(http_put(required.url, block, nullptr, 30000, body, headers), headers),
                200)
          << body.bytes;
      ++sent;
    }
    varnelo_meta_destroy_prepare_result(prepared);
    if (uploaded != nullptr) *uploaded = sent;
    return varnelo_meta_commit_put(credentials.get(), path.c_str(), keys.data(), count, chunkSize,
                                   static_cast<int64_t>(content.size()), "133000000000000000",
                                   "application/octet-stream", nullptr, &entry);
  }

  Credentials credentials;
};

}  // namespace

TEST_F(MetaTest, InfoAnnouncesChunkSizeAndUsage) {
  varnelo_meta_info_record info{};
  ASSERT_EQ(varnelo_meta_info(credentials.get(), &info), 200);
  EXPECT_EQ(info.chunkSize, 4u << 20);
  EXPECT_GT(info.total, 0);
  EXPECT_GE(info.used, 0);
  EXPECT_EQ(info.dirty, 0);
  std::vector<DirtyChunk> dirty;
  EXPECT_EQ(meta_info_dirty(credentials.get(), &info, dirty), 200);
  EXPECT_TRUE(dirty.empty());
}

TEST_F(MetaTest, ChunkedPutAndReadBack) {
  varnelo_meta_entry folder{};
  ASSERT_EQ(varnelo_meta_mkdir(credentials.get(), "home/docs", "132000000000000000", &folder), 200);

  const std::string content = pattern(3 * k64KiB - 1000, 1);
  varnelo_meta_entry entry{};
  size_t uploaded = 0;
  ASSERT_EQ(put_file("home/docs/three.bin", content, k64KiB, entry, &uploaded), 200);
  EXPECT_EQ(uploaded, 3u);

  GetResult file = get("home/docs/three.bin");
  ASSERT_TRUE(file);
  EXPECT_EQ(std::memcmp(file->entry.ver, entry.ver, 16), 0);
  EXPECT_EQ(file->entry.fileSize, static_cast<int64_t>(content.size()));
  EXPECT_STREQ(file->entry.editTime, "133000000000000000");
  ASSERT_NE(file->dataurl, nullptr);
  EXPECT_EQ(file->data, nullptr);  // too large to come inline

  // The key list rides in the data address (inline form).
  std::vector<uint8_t> keys(3 * 20);
  ASSERT_EQ(decode_key_list(file->dataurl, k64KiB, 3, keys.data()), 200);
  EXPECT_EQ(keys, chunk_keys(content, k64KiB));
  EXPECT_EQ(decode_key_list(file->dataurl, 4u << 20, 3, keys.data()), -1);

  // A ranged GET of the middle chunk.
  StringSink body, headers;
  int status =
      status_of(http_get(file->dataurl, nullptr, 30000, k64KiB, k64KiB, body, headers), headers);
  EXPECT_TRUE(status == 206 || status == 200) << status;
  EXPECT_EQ(body.bytes, content.substr(k64KiB, k64KiB));

  // The same content again needs no chunk at all.
  varnelo_meta_entry again{};
  ASSERT_EQ(put_file("home/docs/copy-of-three.bin", content, k64KiB, again, &uploaded), 200);
  EXPECT_EQ(uploaded, 0u);

  GetResult listing = get("home/docs", true);
  ASSERT_TRUE(listing);
  std::set<std::string> names;
  for (int32_t i = 0; i < varnelo_array_size(listing->entries); ++i) {
    varnelo_meta_entry child{};
    ASSERT_EQ(varnelo_meta_entry_array_at(listing->entries, i, &child), 200);
    ASSERT_NE(child.path, nullptr);
    names.insert(child.path);
  }
  EXPECT_EQ(names.size(), 2u);
  EXPECT_EQ(varnelo_array_size(get("home/docs", false)->entries), 0);
}

TEST_F(MetaTest, LongKeyListIsFetchedWithMetaMode) {
  // More chunks than the service puts inline: the data address carries only
  // the descriptor and the list is fetched from it.
  const int32_t count = 70;
  const std::string content = pattern(size_t(count) * k64KiB, 2);
  varnelo_meta_entry entry{};
  ASSERT_EQ(put_file("home/long.bin", content, k64KiB, entry), 200);
  GetResult file = get("home/long.bin");
  ASSERT_TRUE(file && file->dataurl);
  std::vector<uint8_t> keys(size_t(count) * 20);
  ASSERT_EQ(decode_key_list(file->dataurl, k64KiB, count, keys.data()), 200);
  EXPECT_EQ(keys, chunk_keys(content, k64KiB));
  EXPECT_EQ(decode_key_list(file->dataurl, k64KiB, count - 1, keys.data()), -1);

  StringSink body, headers;
  uint64_t last = uint64_t(count - 1) * k64KiB;
  EXPECT_EQ(http_get(file->dataurl, nullptr, 30000, last, k64KiB, body, headers), 0);
  EXPECT_EQ(body.bytes, content.substr(last));
}

TEST_F(MetaTest, SmallFilePutAndInlineData) {
  const std::string content = "small file body\n";
  uint8_t key[20];
  SHA1(reinterpret_cast<const uint8_t*>(content.data()), content.size(), key);
  size_t length = 0;
  ASSERT_EQ(small_put_url("home/note one.txt", key, content.size(), 4u << 20, "text/plain",
                          "133000000000000001", nullptr, nullptr, &length),
            200);
  std::string url(length + 1, '\0');
  ++length;
  ASSERT_EQ(small_put_url("home/note one.txt", key, content.size(), 4u << 20, "text/plain",
                          "133000000000000001", nullptr, url.data(), &length),
            200);
  url.resize(length);

  char* auth = nullptr;
  ASSERT_EQ(make_oauth_header(credentials.get(), &auth, "PUT", url.c_str()), 200);
  std::string authLine = std::string("Authorization: ") + auth;
  std::free(auth);
  const char* headersOut[] = {authLine.c_str(), nullptr};
  PutBlock block;
  block.data = reinterpret_cast<const uint8_t*>(content.data());
  block.length = content.size();
  StringSink body, headers;
  ASSERT_EQ(status_of(http_put(url, block, headersOut, 30000, body, headers), headers), 200)
      << body.bytes;
  EXPECT_NE(body.bytes.find("\"ver\""), std::string::npos);

  GetResult file = get("home/note one.txt");
  ASSERT_TRUE(file);
  ASSERT_EQ(file->dataLength, static_cast<int32_t>(content.size()));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file->data), file->dataLength), content);
  EXPECT_STREQ(file->entry.mimeType, "text/plain");
}

TEST_F(MetaTest, MoveCopyDeleteUndeletePurgeAndLinks) {
  varnelo_meta_entry entry{};
  ASSERT_EQ(put_file("home/a.bin", pattern(1000, 3), k64KiB, entry), 200);
  EXPECT_EQ(varnelo_meta_move(credentials.get(), "home/a.bin", "home/b.bin"), 200);
  int32_t code = 0;
  get("home/a.bin", false, &code);
  EXPECT_EQ(code, 404);
  EXPECT_EQ(varnelo_meta_copy(credentials.get(), "home/b.bin", "home/c.bin"), 200);
  EXPECT_TRUE(get("home/c.bin"));
  EXPECT_EQ(varnelo_meta_move(credentials.get(), "home/missing", "home/x"), 404);

  char* link = nullptr;
  ASSERT_EQ(varnelo_meta_mklink(credentials.get(), "home/b.bin", &link), 200);
  EXPECT_GT(std::strlen(link), 0u);
  varnelo_meta_destroy_linkid(link);

  EXPECT_EQ(meta_delete(credentials.get(), "home/b.bin", 30000), 200);
  get("home/b.bin", false, &code);
  EXPECT_EQ(code, 404);
  varnelo_meta_purge_result* result = nullptr;
  EXPECT_EQ(varnelo_meta_undelete(credentials.get(), "home/b.bin", &result), 200);
  EXPECT_EQ(result, nullptr);
  EXPECT_TRUE(get("home/b.bin"));

  EXPECT_EQ(meta_delete(credentials.get(), "home/c.bin", 30000), 200);
  EXPECT_EQ(varnelo_meta_purge(credentials.get(), "home/c.bin", &result), 200);
  EXPECT_EQ(result, nullptr);
  EXPECT_NE(varnelo_meta_undelete(credentials.get(), "home/c.bin", &result), 200);
  EXPECT_EQ(result, nullptr);
}

TEST_F(MetaTest, ConflictsAndMissingPaths) {
  varnelo_meta_entry first{}, second{};
  ASSERT_EQ(put_file("home/v.bin", pattern(500, 4), k64KiB, first), 200);
  // A commit based on no version while one exists is a conflict.
  ASSERT_EQ(put_file("home/v.bin", pattern(600, 5), k64KiB, second), 409);
  int32_t code = 0;
  EXPECT_FALSE(get("home/nothing/here", true, &code));
  EXPECT_EQ(code, 404);
}
