// The index repair worker: an upload the service still lacks chunks for
// (prepared, never finished) is completed from the local file when the
// engine starts, without the upload path's help (download-only mode).
#include <openssl/sha.h>

#include <vector>

#include "MetaApi.h"
#include "engine_harness.h"
#include "varnelo/meta.h"

namespace varnelo::e2e {
namespace {

class EngineRepairTest : public EngineTest {};

size_t dirtyChunks(const varnelo_credentials* credentials) {
  varnelo_meta_info_record info{};
  std::vector<http::DirtyChunk> dirty;
  EXPECT_EQ(http::meta_info_dirty(credentials, &info, dirty), 200);
  return dirty.size();
}

TEST_F(EngineRepairTest, MissingChunksOfAPreparedUploadAreSentFromTheLocalFile) {
  const uint32_t chunkSize = 4u << 20;
  std::string content(chunkSize + 1000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 13 + i / 511);
  auto pc = computer();
  pc->write("pending.bin", content);

  varnelo_credentials* credentials = nullptr;
  const varnelo_token_pair access{tokenKey().c_str(), tokenSecret().c_str()};
  ASSERT_EQ(varnelo_auth_combine(user().c_str(), &http::client_consumer(), &access, &credentials),
            200);
  uint8_t keys[2 * SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(content.data()), chunkSize, keys);
  SHA1(reinterpret_cast<const unsigned char*>(content.data()) + chunkSize, 1000,
       keys + SHA_DIGEST_LENGTH);
  varnelo_meta_prepare_result* prepared = nullptr;
  ASSERT_EQ(varnelo_meta_prepare_put(credentials, "home/pending.bin", keys, 2, chunkSize,
                                     static_cast<int64_t>(content.size()), nullptr, &prepared),
            200);
  varnelo_meta_destroy_prepare_result(prepared);
  ASSERT_EQ(dirtyChunks(credentials), 2u);

  ASSERT_EQ(pc->start(kEngineDownload), 200);
  EXPECT_TRUE(waitFor([&] { return dirtyChunks(credentials) == 0; }, 60000));
  // The upload path never ran: the file itself was not published.
  EXPECT_EQ(remoteTree().count("pending.bin"), 0u);
  pc->shutdown();
  varnelo_destroy_token(credentials);
  // Sent by the worker, chunk by chunk.
  std::vector<platform::files::DirEntry> logs;
  platform::files::listDirectory(pc->dataFolder() + "log", logs);
  std::string text;
  for (const auto& log : logs) {
    std::string one;
    platform::files::readFile(pc->dataFolder() + "log/" + log.name, one);
    text += one;
  }
  EXPECT_NE(text.find("index repair: sent chunk 0 of [home/pending.bin]"), std::string::npos);
  EXPECT_NE(text.find("index repair: sent chunk 1 of [home/pending.bin]"), std::string::npos);
}

}  // namespace
}  // namespace varnelo::e2e
