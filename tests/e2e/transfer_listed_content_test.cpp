// Content that a hostile listing carries for its small files: only bytes
// of exactly the listed size are written; any other content is not taken,
// and the file is asked for on its own.
#include "CannedServer.h"
#include "TransferCodes.h"
#include "transfer_harness.h"

using namespace varnelo;
using namespace varnelo::e2e;

namespace {

constexpr const char* kVer = "AAAAAAAAAAAAAAAAAAAAAA==";  // 16 zero bytes

std::string fileWithData(const std::string& name, const char* size, const std::string& data) {
  return std::string(R"({"ver":")") + kVer + R"(","path":"home/)" + name +
         R"(","type":1,"fileSize":")" + size + R"(","editTime":"130000000000000000","data":)" +
         data + "}";
}

class ServiceAddress {
 public:
  explicit ServiceAddress(int port)
      : old_(getenv("VARNELO_SERVICE") ? getenv("VARNELO_SERVICE") : "") {
    const std::string p = std::to_string(port);
    setenv("VARNELO_SERVICE", ("127.0.0.1:" + p + ":" + p).c_str(), 1);
  }
  ~ServiceAddress() { setenv("VARNELO_SERVICE", old_.c_str(), 1); }

 private:
  std::string old_;
};

}  // namespace

TEST_F(TransferTest, ListedContentOfAnotherLengthOrFormIsNotWritten) {
  test::CannedServer canned;
  ASSERT_TRUE(canned.started());
  // A per-file request gets the folder again: those files cannot come down.
  canned.set("/get", 200,
             std::string(R"({"ver":")") + kVer +
                 R"(","path":"home","type":2,"fileCount":4,"entries":[)" +
                 fileWithData("good.txt", "5", R"("aGVsbG8=")") + "," +
                 fileWithData("long.txt", "5", R"("aGVsbG8gd29ybGQ=")") + "," +
                 fileWithData("short.txt", "5", R"("aGk=")") + "," +
                 fileWithData("junk.txt", "5", R"("a*b*c*d*e*")") + "]}");
  Pc pc(credentials());
  pc.settings().inlineLimit = 16384;
  {
    ServiceAddress address(canned.port());
    pc.pull();
  }
  EXPECT_EQ(pc.read("good.txt"), "hello");
  for (const char* name : {"long.txt", "short.txt", "junk.txt"})
    EXPECT_FALSE(pc.exists(name)) << name;
  // The listing, then one request for each file whose content was refused.
  EXPECT_EQ(canned.requestCount("/get"), 4u);
}
