// Known answers for the service's own codecs: the OAuth base string and
// signature of the published OAuth example, strict base64, and path parsing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "Base64.h"
#include "ChunkStore.h"
#include "Crypto.h"
#include "OAuthVerifier.h"
#include "Store.h"
#include "Tokens.h"
#include "Tree.h"

namespace varnelo::service {
namespace {

TEST(OAuthBaseStringTest, MatchesThePublishedExample) {
  std::vector<QueryParam> params = {{"file", "vacation.jpg"},
                                    {"size", "original"},
                                    {"oauth_consumer_key", "dpf43f3p2l4k3l03"},
                                    {"oauth_token", "nnch734d00sl2jdk"},
                                    {"oauth_signature_method", "HMAC-SHA1"},
                                    {"oauth_timestamp", "1191242096"},
                                    {"oauth_nonce", "kllo9940pd9333jh"},
                                    {"oauth_version", "1.0"}};
  std::string base = OAuthVerifier::baseString("GET", "http://photos.example.net/photos", params);
  EXPECT_EQ(base,
            "GET&http%3A%2F%2Fphotos.example.net%2Fphotos&file%3Dvacation.jpg%26oauth_consumer_key%"
            "3Ddpf43f3p2l4k3l03%26oauth_nonce%3Dkllo9940pd9333jh%26oauth_signature_method%3DHMAC-"
            "SHA1%26oauth_timestamp%3D1191242096%26oauth_token%3Dnnch734d00sl2jdk%26oauth_version%"
            "3D1.0%26size%3Doriginal");
  EXPECT_EQ(base64Encode(hmacSha1("kd94hf93k423kf44&pfkkdhi9sl3r4s00", base), false),
            "tR3+Ty81lMeYAr/Fid0kMTYa/WM=");
}

TEST(Base64Test, DecodingIsStrict) {
  std::string out;
  EXPECT_TRUE(base64Decode("AAECAwQFBgcICQoLDA0ODw==", true, out));
  EXPECT_EQ(out.size(), 16u);
  EXPECT_TRUE(base64Decode("AAECAwQFBgcICQoLDA0ODw", true, out)) << "padding may be left off";
  EXPECT_FALSE(base64Decode("AAECAwQFBgcICQoLDA0ODw=", true, out)) << "half padding";
  EXPECT_FALSE(base64Decode("AAECAwQFBgcICQoLDA0OD+==", true, out)) << "'+' is not URL-safe";
  EXPECT_FALSE(base64Decode("AAECAwQFBgcICQoLDA0ODx==", true, out)) << "stray low bits";
  EXPECT_EQ(base64Encode(std::string("\xfb\xff", 2), true), "-_8=");
  EXPECT_EQ(base64Encode(std::string("\xfb\xff", 2), false), "+/8=");
}

// The encoding's own examples, and every length's last group (none, one or
// two padding signs) back to the same bytes.
TEST(Base64Test, EncodingPadsTheLastGroupAndDecodesBack) {
  const char* const vectors[][2] = {{"", ""},
                                    {"f", "Zg=="},
                                    {"fo", "Zm8="},
                                    {"foo", "Zm9v"},
                                    {"foob", "Zm9vYg=="},
                                    {"fooba", "Zm9vYmE="},
                                    {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) EXPECT_EQ(base64Encode(plain, false), encoded);
  std::string bytes, back;
  for (int n = 0; n < 40; ++n) {
    EXPECT_TRUE(base64Decode(base64Encode(bytes, true), true, back)) << n;
    EXPECT_EQ(back, bytes) << n;
    bytes.push_back(static_cast<char>(n * 97 + 255));
  }
}

TEST(TreePathTest, AcceptsTheFourSpellingsOfHomeOnly) {
  std::vector<std::string> parts;
  for (const char* ok : {"home", "/home", "HOME/a/b", "/home/a b/c.txt"}) {
    EXPECT_EQ(Tree::parsePath(ok, &parts), kOk) << ok;
  }
  EXPECT_EQ(parts, (std::vector<std::string>{"home", "a b", "c.txt"}));
  for (const char* bad :
       {"", "/", "//home", "home/", "home//a", "home/./a", "home/..", "house/a"}) {
    EXPECT_EQ(Tree::parsePath(bad, &parts), kBadRequest) << bad;
  }
  EXPECT_EQ(Tree::parsePath(std::string("home/a\0b", 8), &parts), kBadRequest);
  EXPECT_EQ(Tree::parsePath("home/" + std::string(256, 'n'), &parts), kBadRequest);
  EXPECT_TRUE(Tree::validChunkSize(4 << 20));
  EXPECT_FALSE(Tree::validChunkSize(3 << 20));
  EXPECT_FALSE(Tree::validChunkSize(32 << 10));
}

// A chunk store in a fresh folder, removed afterwards.
class ChunkStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/varnelo-chunks-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_TRUE(store_.open(dir_));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  bool exists(const std::string& path) { return std::filesystem::exists(path); }

  std::string dir_;
  ChunkStore store_;
};

TEST_F(ChunkStoreTest, BodiesArrivingInSmallBlocksAreStoredExactlyOrNotAtAll) {
  // Several write blocks' worth, in uneven pieces like a socket hands them.
  std::string bytes(2 * (1 << 20) + 777, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + i / 1021);
  const std::string key = sha1(bytes);
  {
    ChunkStore::Writer writer(store_, bytes.size());
    for (size_t at = 0; at < bytes.size();) {
      size_t n = std::min<size_t>(4096 - at % 13, bytes.size() - at);
      ASSERT_TRUE(writer.write(bytes.data() + at, n));
      at += n;
    }
    EXPECT_EQ(writer.written(), bytes.size());
    ASSERT_EQ(writer.finish(key), kOk);
  }
  std::ifstream in(store_.pathFor(key), std::ios::binary);
  std::string stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(stored, bytes);
  EXPECT_TRUE(store_.wholeOnDisk(key, static_cast<int64_t>(bytes.size())));
  EXPECT_FALSE(store_.wholeOnDisk(key, static_cast<int64_t>(bytes.size()) + 1));
  EXPECT_EQ(store_.makeDurable({key, std::string(20, 'x')}), kOk) << "unknown keys are left alone";

  // One flipped byte, or one byte too many: nothing is stored, and no
  // temporary file stays behind.
  std::string flipped = bytes;
  flipped[1 << 20] ^= 1;
  {
    ChunkStore::Writer writer(store_, flipped.size());
    ASSERT_TRUE(writer.write(flipped.data(), flipped.size()));
    EXPECT_EQ(writer.finish(sha1(bytes + "other")), kBadRequest);
  }
  {
    ChunkStore::Writer writer(store_, 10);
    EXPECT_TRUE(writer.write("0123456789", 10));
    EXPECT_FALSE(writer.write("a", 1));
    EXPECT_EQ(writer.finish(sha1("0123456789a")), kBadRequest);
  }
  EXPECT_EQ(store_.length(sha1(bytes + "other")), -1);
  EXPECT_EQ(store_.length(sha1("0123456789a")), -1);
  EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/chunks/tmp"));
}

TEST_F(ChunkStoreTest, ACommitsManyChunksAreSyncedTogetherAndOneThatFailsFailsTheWhole) {
  // Every sync left to the commit, so that what it meets is known.
  ChunkStore store;
  std::filesystem::create_directory(dir_ + "/commit");
  ASSERT_TRUE(store.open(dir_ + "/commit", nullptr, false));
  std::vector<std::string> keys;
  for (int i = 0; i < 40; ++i) {
    const std::string bytes = "chunk " + std::to_string(i);
    ChunkStore::Writer writer(store, bytes.size());
    ASSERT_TRUE(writer.write(bytes.data(), bytes.size()));
    ASSERT_EQ(writer.finish(sha1(bytes)), kOk);
    keys.push_back(sha1(bytes));
  }
  // A chunk that cannot be opened (here a link to itself) fails the commit,
  // whichever thread meets it, and every chunk stays to be synced.
  const std::string broken = store.pathFor(keys[17]);
  std::filesystem::rename(broken, broken + ".kept");
  std::filesystem::create_symlink(broken, broken);
  EXPECT_EQ(store.makeDurable(keys), kServerError);
  std::filesystem::remove(broken);
  std::filesystem::rename(broken + ".kept", broken);
  // A chunk gone from the disk is left to the commit's own checks.
  std::filesystem::remove(store.pathFor(keys[3]));
  EXPECT_EQ(store.makeDurable(keys), kOk);
  // Synced once, a chunk is not synced again.
  std::filesystem::rename(broken, broken + ".kept");
  std::filesystem::create_symlink(broken, broken);
  EXPECT_EQ(store.makeDurable(keys), kOk);
  std::filesystem::remove(broken);
}

TEST_F(ChunkStoreTest, StoredChunksAreSyncedInTheBackgroundBeforeAnyCommitAsksForThem) {
  std::vector<std::string> keys;
  for (int i = 0; i < 12; ++i) {
    const std::string bytes(1000 + i, static_cast<char>('a' + i));
    ChunkStore::Writer writer(store_, bytes.size());
    ASSERT_TRUE(writer.write(bytes.data(), bytes.size()));
    ASSERT_EQ(writer.finish(sha1(bytes)), kOk);
    keys.push_back(sha1(bytes));
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto anyAwaiting = [&] {
    for (const auto& key : keys)
      if (store_.awaitingSync(key)) return true;
    return false;
  };
  while (anyAwaiting() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_FALSE(anyAwaiting());
  // Nothing is left for the commit: a chunk file it could not even open no
  // longer matters.
  const std::string path = store_.pathFor(keys[5]);
  std::filesystem::rename(path, path + ".kept");
  std::filesystem::create_symlink(path, path);
  EXPECT_EQ(store_.makeDurable(keys), kOk);
  std::filesystem::remove(path);
  std::filesystem::rename(path + ".kept", path);
  store_.close();
  EXPECT_FALSE(exists(dir_ + "/chunks/open"));
}

TEST_F(ChunkStoreTest, TheStoreIsMarkedOpenUntilItsChunksAreMadeDurableOnClose) {
  const std::string marker = dir_ + "/chunks/open";
  EXPECT_TRUE(exists(marker));
  {
    ChunkStore::Writer writer(store_, 5);
    ASSERT_TRUE(writer.write("bytes", 5));
    ASSERT_EQ(writer.finish(sha1("bytes")), kOk);
  }
  store_.close();
  EXPECT_FALSE(exists(marker));
  // An earlier run that never closed the store (its marker is still there)
  // does not keep the next one from opening: that one flushes first.
  ChunkStore again;
  ASSERT_TRUE(again.open(dir_));
  ChunkStore crashedBefore;
  EXPECT_TRUE(crashedBefore.open(dir_));
  EXPECT_EQ(crashedBefore.length(sha1("bytes")), 5);
}

// A metadata store in a fresh folder of its own, removed afterwards.
class ScratchStore : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/varnelo-store-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    store_ = Store::open(dir_);
    ASSERT_TRUE(store_);
  }
  void TearDown() override {
    store_.reset();
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
  std::unique_ptr<Store> store_;
};
class StoreTest : public ScratchStore {};
class ConsumerSecretCacheTest : public ScratchStore {};
class TokenCacheTest : public ScratchStore {};

// Requests read before they write and commit while their reads are still
// open, which stops SQLite's own checkpoint; the log must still be copied
// back and start over instead of growing with every change.
TEST_F(StoreTest, TheWriteAheadLogStaysBoundedUnderSteadyWrites) {
  Store* store = store_.get();
  store->setting("name", "value");
  const std::string bytes(4096, 'x');
  for (int i = 0; i < 4000; ++i) {
    StoreLock lock(*store);
    Database& db = store->db();
    Transaction transaction(db);
    ASSERT_TRUE(transaction.active());
    Statement& read = db.query("SELECT value FROM settings WHERE name = ?");
    read.bind(1, "name");
    ASSERT_EQ(read.step(), SQLITE_ROW);
    std::string key = std::to_string(i);
    key.resize(20, '.');
    ASSERT_TRUE(db.query("INSERT INTO chunk_bytes(key, data) VALUES(?, ?)")
                    .bindBlob(1, key)
                    .bindBlob(2, bytes)
                    .run());
    ASSERT_TRUE(transaction.commit());
  }
  EXPECT_LT(std::filesystem::file_size(dir_ + "/meta.db-wal"), 16u << 20)
      << "the log grew with the data instead of being copied back";
  EXPECT_GT(std::filesystem::file_size(dir_ + "/meta.db"), 8u << 20)
      << "the data never reached the database itself";
}

// The consumer secret every signed request checks against is answered from
// memory, but never a stale one: a change made here counts at once, one made
// by another process on the same database once the short life is over, and
// an unknown key is never remembered as known.
TEST_F(ConsumerSecretCacheTest, ChangesTakeEffectAndUnknownKeysStayUnknown) {
  Store* store = store_.get();
  Tokens tokens(*store, std::chrono::milliseconds(50));
  std::string secret;
  EXPECT_FALSE(tokens.consumerSecret("client", &secret));
  tokens.ensureConsumer("client", "first");
  ASSERT_TRUE(tokens.consumerSecret("client", &secret)) << "a miss was remembered";
  EXPECT_EQ(secret, "first");
  tokens.ensureConsumer("client", "second");
  ASSERT_TRUE(tokens.consumerSecret("client", &secret));
  EXPECT_EQ(secret, "second") << "a secret replaced here must count at once";

  // Another process (add-user of another build) writes the same database.
  {
    auto other = Store::open(dir_);
    ASSERT_TRUE(other);
    Tokens(*other).ensureConsumer("client", "third");
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (tokens.consumerSecret("client", &secret) && secret != "third" &&
         std::chrono::steady_clock::now() < deadline) {
  }
  EXPECT_EQ(secret, "third") << "a secret changed elsewhere was used for ever";

  // Many keys never grow the cache past its bound, and every answer stays right.
  for (int i = 0; i < 40; ++i) tokens.ensureConsumer("c" + std::to_string(i), std::to_string(i));
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 40; ++i) {
      ASSERT_TRUE(tokens.consumerSecret("c" + std::to_string(i), &secret));
      EXPECT_EQ(secret, std::to_string(i));
    }
  }
  EXPECT_FALSE(tokens.consumerSecret("nobody", &secret));
}

// Access tokens are answered from memory; request tokens never are, since
// signing in in the browser and the exchange change them.
TEST_F(TokenCacheTest, RequestTokensAreAlwaysReadAndAccessTokensStayRight) {
  Store* store = store_.get();
  Tokens tokens(*store, std::chrono::milliseconds(60000));
  tokens.ensureConsumer("client", "secret");
  const TokenPair request = tokens.issue("client", TokenKind::kRequest, 0);
  TokenInfo info;
  ASSERT_TRUE(tokens.lookup(request.token, &info));
  EXPECT_EQ(info.user, 0);
  std::string verifier;
  ASSERT_TRUE(tokens.authorize(request.token, 7, &verifier));
  ASSERT_TRUE(tokens.lookup(request.token, &info));
  EXPECT_EQ(info.user, 7) << "a request token's sign-in was not seen";
  EXPECT_EQ(info.verifier, verifier);
  TokenPair access;
  ASSERT_TRUE(tokens.exchange(request.token, verifier, &access));
  EXPECT_FALSE(tokens.lookup(request.token, &info)) << "a consumed request token still counts";
  EXPECT_FALSE(tokens.exchange(request.token, verifier, &access)) << "used twice";

  // Many access tokens: every answer is the token's own, past the bound too.
  std::vector<TokenPair> issued;
  for (int i = 0; i < 1100; ++i) issued.push_back(tokens.issue("client", TokenKind::kAccess, i));
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 1100; i += 7) {
      ASSERT_TRUE(tokens.lookup(issued[i].token, &info));
      EXPECT_EQ(info.user, i);
      EXPECT_EQ(info.secret, issued[i].secret);
      EXPECT_EQ(info.kind, TokenKind::kAccess);
    }
  }
  EXPECT_FALSE(tokens.lookup("no-such-token", &info));
}

}  // namespace
}  // namespace varnelo::service
