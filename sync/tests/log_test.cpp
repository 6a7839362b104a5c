#include "Log.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <regex>

#include "TempDir.h"
#include "platform/files.h"

using varnelo::Logger;
using varnelo::test::TempDir;

namespace {

std::string readLog() {
  std::string text;
  platform::files::readFile(Logger::instance().path(), text);
  return text;
}

class LogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    Logger::instance().close();
    Logger::instance().setThreshold(varnelo::kLogInfo);
    unsetenv("CURL_USERAGENT");
  }
  TempDir dir_;
};

}  // namespace

TEST_F(LogTest, FileStartsWithBomAndHeaderAndIsNamedByTime) {
  varnelo::log_open(dir_.path());
  const std::string path = Logger::instance().path();
  EXPECT_TRUE(std::regex_match(platform::files::fileName(path),
                               std::regex(R"(\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d\.log)")))
      << path;
  EXPECT_EQ(platform::files::parentPath(path), dir_ / "log");
  const std::string text = readLog();
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_TRUE(std::regex_match(
      text.substr(3),
      std::regex(R"(Log started at \d{4}-\d\d-\d\d \d\d:\d\d:\d\d, with level \[info\]\n)")))
      << text;
}

TEST_F(LogTest, ThresholdFiltersEntriesButNotLocationLines) {
  varnelo::log_open(dir_.path());
  varnelo::log_write(varnelo::kLogDebug, "sync", "hidden %d", 1);
  varnelo::log_write(varnelo::kLogError, "sync", "shown %d", 2);
  log_location();
  const std::string text = readLog();
  EXPECT_EQ(text.find("hidden"), std::string::npos);
  EXPECT_TRUE(std::regex_search(
      text,
      std::regex(
          R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d, type:error, thread:\d+, module:sync\]: shown 2\n)")));
  EXPECT_NE(text.find("source file:[sync/tests/log_test.cpp], func name:["), std::string::npos)
      << text;
}

TEST_F(LogTest, UnknownLevelWritesEmptyTypeAndNullModuleIsEmpty) {
  Logger::instance().setThreshold(varnelo::kLogAll);
  varnelo::log_open(dir_.path());
  varnelo::log_write(42, nullptr, "odd");
  EXPECT_NE(readLog().find(", type:, thread:"), std::string::npos);
  EXPECT_NE(readLog().find("module:]: odd\n"), std::string::npos);
}

TEST_F(LogTest, UserAgentWithPercentIsWrittenVerbatim) {
  setenv("CURL_USERAGENT", "Varnelo/1.0 (100% %s %n)", 1);
  varnelo::log_open(dir_.path());
  EXPECT_NE(readLog().find("module:varnelo]: Varnelo/1.0 (100% %s %n)\n"), std::string::npos);
}

TEST_F(LogTest, SecondOpenInTheSameSecondTruncatesTheSameFile) {
  // Retry until both opens land in one second (at most a few tries).
  for (int attempt = 0; attempt < 5; ++attempt) {
    varnelo::log_open(dir_.path());
    const std::string first = Logger::instance().path();
    varnelo::log_write(varnelo::kLogError, "sync", "from the first start");
    varnelo::log_open(dir_.path());
    if (Logger::instance().path() != first) continue;
    const std::string text = readLog();
    EXPECT_EQ(text.find("from the first start"), std::string::npos);
    EXPECT_EQ(text.rfind("Log started at", 0), std::string::npos);  // BOM comes first
    EXPECT_EQ(text.find("Log started at"), 3u);
    return;
  }
  FAIL() << "could not open twice within one second";
}

TEST_F(LogTest, WritesWhileClosedAreDropped) {
  Logger::instance().close();
  varnelo::log_write(varnelo::kLogFatal, "sync", "nowhere");
  log_location();
  EXPECT_FALSE(Logger::instance().isOpen());
}

TEST(QualifiedName, StripsReturnTypeAndParameters) {
  EXPECT_EQ(varnelo::qualifiedFunctionName("virtual int varnelo::UploadDataTask::run(int, char*)"),
            "varnelo::UploadDataTask::run");
  EXPECT_EQ(varnelo::qualifiedFunctionName("main()"), "main");
}
