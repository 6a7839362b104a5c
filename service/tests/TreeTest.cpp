// Tree semantics seen through the metadata endpoints: case-insensitive names
// that keep their case, versions that change up the folder chain, move, copy,
// delete to trash, undelete and purge, and path validation.
#include <gtest/gtest.h>

#include "TestClient.h"

namespace varnelo::test {
namespace {

constexpr int64_t kChunk = 64 * 1024;

class TreeTest : public AccountTest {
 protected:
  std::string ver(const std::string& path) { return get(path).json["ver"].asString(); }
  int mkdir(const std::string& path) {
    Json::Value body;
    body["path"] = path;
    body["editTime"] = "1";
    return client_->call("/mkdir", body).status;
  }
  int twoPaths(const char* endpoint, const std::string& from, const std::string& to) {
    Json::Value body;
    body["from"] = from;
    body["to"] = to;
    return client_->call(endpoint, body).status;
  }
  Reply onePath(const char* endpoint, const std::string& path) {
    Json::Value body;
    body["path"] = path;
    return client_->call(endpoint, body);
  }
  Reply remove(const std::string& path) {
    Json::Value body;
    body["paths"].append(path);
    return client_->call("/delete", body);
  }
  int upload(const std::string& path, const std::string& content) {
    return client_->upload(path, content, kChunk).status;
  }
};

TEST_F(TreeTest, NamesIgnoreCaseButKeepTheirCase) {
  ASSERT_EQ(mkdir("home/Photos"), 200);
  EXPECT_EQ(mkdir("/home/PHOTOS"), 409) << "same name in other letters";
  ASSERT_EQ(upload("home/photos/Beach.JPG", "sand"), 200) << "lands in the existing folder";
  Reply listing = get("/HOME/photos", true);
  ASSERT_EQ(listing.status, 200);
  EXPECT_EQ(listing.json["path"].asString(), "/home/Photos");
  ASSERT_EQ(listing.json["entries"].size(), 1u);
  EXPECT_EQ(listing.json["entries"][0]["path"].asString(), "/home/Photos/Beach.JPG");
  EXPECT_EQ(listing.json["entries"][0]["type"].asInt(), 1);
  EXPECT_EQ(listing.json["entries"][0]["fileSize"].asString(), "4");
  EXPECT_EQ(get("home/photos", false).json["path"].asString(), "home/Photos")
      << "no leading slash back";
  EXPECT_EQ(get("home", true).json["entries"][0]["fileCount"].asInt(), 1);
}

TEST_F(TreeTest, MalformedPathsAreRefused) {
  for (const char* path :
       {"", "/", "home//a", "home/./a", "home/../x", "home/a/", "other/a", "x"}) {
    EXPECT_EQ(get(path).status, 400) << path;
    EXPECT_EQ(mkdir(path), 400) << path;
  }
  EXPECT_EQ(mkdir("home/a/.."), 400);
  EXPECT_EQ(get("home/missing").status, 404);
  EXPECT_EQ(get("home").status, 200) << "home exists for a new account";
  // A body nested deeper than the JSON reader goes is a bad request too.
  const std::string deep = std::string(5000, '[') + std::string(5000, ']');
  EXPECT_EQ(client_
                ->send("POST", service_->httpBase() + "/mkdir", deep, client_->accessSigning(),
                       {"Content-Type: application/octet-stream"})
                .status,
            400);
}

TEST_F(TreeTest, VersionsChangeUpTheChainOnly) {
  ASSERT_EQ(mkdir("home/a/b/c"), 200) << "missing parents are created";
  ASSERT_EQ(mkdir("home/side"), 200);
  std::string home = ver("home"), a = ver("home/a"), b = ver("home/a/b"), c = ver("home/a/b/c"),
              side = ver("home/side");
  EXPECT_EQ(home.size(), 24u) << "16 bytes in URL-safe base64 with padding";
  ASSERT_EQ(upload("home/a/b/c/f.txt", "one"), 200);
  EXPECT_NE(ver("home"), home);
  EXPECT_NE(ver("home/a"), a);
  EXPECT_NE(ver("home/a/b"), b);
  EXPECT_NE(ver("home/a/b/c"), c);
  EXPECT_EQ(ver("home/side"), side) << "a folder beside the change keeps its version";

  std::string file = ver("home/a/b/c/f.txt");
  b = ver("home/a/b");
  ASSERT_EQ(client_->upload("home/a/b/c/f.txt", "two", kChunk, file).status, 200);
  EXPECT_NE(ver("home/a/b/c/f.txt"), file);
  EXPECT_NE(ver("home/a/b"), b);
}

TEST_F(TreeTest, APutFindsItsFoldersInAnyCaseMakesTheRestAndStopsAtAFile) {
  ASSERT_EQ(upload("home/a/b/f.txt", "one"), 200);
  ASSERT_EQ(upload("HOME/A/b/C/d/g.txt", "two"), 200) << "a and b found, C and d made";
  Reply listing = get("home/a/b", true);
  ASSERT_EQ(listing.status, 200);
  ASSERT_EQ(listing.json["entries"].size(), 2u) << "no second a or b";
  EXPECT_EQ(listing.json["entries"][0]["path"].asString(), "home/a/b/C");
  EXPECT_EQ(get("home/a/b/c/D/G.TXT").json["path"].asString(), "home/a/b/C/d/g.txt");
  EXPECT_EQ(upload("home/a/b/f.txt/inside.txt", "three"), 409) << "a file stands in the way";
  EXPECT_EQ(upload("home/A/B/F.TXT/x/inside.txt", "three"), 409);
  EXPECT_EQ(get("home/a/b/f.txt").json["type"].asInt(), 1);
}

TEST_F(TreeTest, MoveAndCopyKeepContentAndRefuseCollisions) {
  ASSERT_EQ(upload("home/src/f.bin", std::string(100000, 'x')), 200);
  ASSERT_EQ(upload("home/other.txt", "o"), 200);
  EXPECT_EQ(twoPaths("/copy", "home/src", "home/dst/copy"), 200);
  EXPECT_EQ(twoPaths("/copy", "home/src", "home/dst/copy"), 409);
  EXPECT_EQ(twoPaths("/move", "home/other.txt", "home/src/f.bin"), 409);
  EXPECT_EQ(twoPaths("/move", "home/src", "home/src/inner"), 400) << "into itself";
  EXPECT_EQ(twoPaths("/move", "home/nothing", "home/x"), 404);
  EXPECT_EQ(twoPaths("/move", "home/other.txt", "home/OTHER.txt"), 200) << "case-only rename";
  EXPECT_EQ(get("home/other.txt").json["path"].asString(), "home/OTHER.txt");
  EXPECT_EQ(twoPaths("/move", "home/src", "home/moved"), 200);
  EXPECT_EQ(get("home/src").status, 404);

  Json::Value tree;
  ASSERT_TRUE(service_->dumpTree(user_, &tree));
  std::map<std::string, std::string> sha;
  for (const auto& e : tree["entries"]) sha[e["path"].asString()] = e["sha1"].asString();
  EXPECT_EQ(sha["home/moved/f.bin"], sha["home/dst/copy/f.bin"]);
  EXPECT_EQ(sha["home/moved/f.bin"].size(), 40u);
  EXPECT_EQ(tree["used"].asInt64(), 200001) << "the copy counts, the move does not";
}

TEST_F(TreeTest, DeleteUndeleteAndPurge) {
  ASSERT_EQ(upload("home/d/a.txt", "A"), 200);
  ASSERT_EQ(upload("home/d/b.txt", "B"), 200);
  std::string dirVer = ver("home/d");
  EXPECT_EQ(remove("home/d/a.txt").status, 200);
  EXPECT_NE(ver("home/d"), dirVer) << "a deletion changes the folder's version";
  EXPECT_EQ(get("home/d/a.txt").status, 404);

  Reply partial = [&] {
    Json::Value body;
    body["paths"].append("home/d/b.txt");
    body["paths"].append("home/d/missing");
    return client_->call("/delete", body);
  }();
  EXPECT_EQ(partial.status, 298);
  EXPECT_EQ(partial.json["code"].asInt(), 3);
  EXPECT_EQ(partial.json["paths"].size(), 2u);

  // A new a.txt blocks its restore; b.txt comes back.
  ASSERT_EQ(upload("home/d/a.txt", "new"), 200);
  Reply undeleted = onePath("/undelete", "home/d");
  EXPECT_EQ(undeleted.status, 298);
  EXPECT_EQ(get("home/d/b.txt").status, 200);
  EXPECT_EQ(get("home/d/a.txt").json["fileSize"].asString(), "3");
  EXPECT_EQ(onePath("/purge", "home").status, 200) << "empties the trash";
  EXPECT_EQ(onePath("/undelete", "home/d/a.txt").status, 404);

  ASSERT_EQ(remove("home/d").status, 200);
  EXPECT_EQ(onePath("/undelete", "/home/d").status, 200);
  EXPECT_EQ(get("home/d", true).json["entries"].size(), 2u) << "a folder comes back whole";
  EXPECT_EQ(remove("home").status, 400);
}

}  // namespace
}  // namespace varnelo::test
