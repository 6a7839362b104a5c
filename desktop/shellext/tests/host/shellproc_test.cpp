// Our implementation library's parts on their own: the state reader over a
// statecache.db written by the application's FileStateCache (a file that
// appears late, a writer holding the database, a replaced file), and the
// context menu's command strings.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <platform/files.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <thread>

#include "FileStateCache.h"
#include "Objects.h"
#include "StateReader.h"
#include "Texts.h"

namespace varnelo::shellproc {
namespace {

namespace files = platform::files;

bool eventually(const std::function<bool()>& condition) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class ShellProcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/shellproc-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_FALSE(files::createDirectories(dir_ + "/sync"));
    db_ = dir_ + "/statecache.db";
  }
  void TearDown() override { files::removeTree(dir_); }

  // A fresh file state cache with the sync folder as its root, running.
  void startCache(desktop::FileStateCache& cache) {
    ASSERT_TRUE(cache.open(db_));
    cache.addRoot(dir_ + "/sync");
    cache.setRunning(true);
  }
  std::string file(const std::string& name) {
    const std::string p = dir_ + "/sync/" + name;
    EXPECT_FALSE(files::writeFile(p, "x"));
    return p;
  }

  std::string dir_;
  std::string db_;
};

TEST_F(ShellProcTest, ADatabaseThatAppearsLaterIsRead) {
  StateReader reader(db_);
  const std::string p = file("late.txt");
  EXPECT_FALSE(reader.running());
  EXPECT_FALSE(reader.state(StateReader::normalise(p, false)));
  desktop::FileStateCache cache;
  startCache(cache);
  cache.apply(p, 16);
  EXPECT_TRUE(eventually([&] { return reader.state(StateReader::normalise(p, false)) == 16; }));
  EXPECT_TRUE(reader.running());
  EXPECT_EQ(reader.roots(), std::vector<std::string>{StateReader::normalise(dir_ + "/sync", true)});
}

TEST_F(ShellProcTest, AWriterHoldingTheDatabaseGetsNoCachedMiss) {
  desktop::FileStateCache cache;
  startCache(cache);
  const std::string p = file("held.txt");
  cache.apply(p, 4);
  StateReader reader(db_);
  ASSERT_TRUE(reader.running());  // a complete snapshot of the database as it is

  // Another connection holds the database (as the writer does during a
  // batch) without changing anything.
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(db_.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
  // The reader gives up on the held database instead of waiting for it...
  EXPECT_FALSE(reader.state(StateReader::normalise(p, false)));
  ASSERT_EQ(sqlite3_exec(writer, "ROLLBACK;", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(writer);
  // ...and did not remember that as "no row": nothing changed since, yet
  // the state is read.
  EXPECT_TRUE(eventually([&] { return reader.state(StateReader::normalise(p, false)) == 4; }));
}

TEST_F(ShellProcTest, AReplacedDatabaseIsReadAfresh) {
  StateReader reader(db_);
  const std::string p = file("moved.txt");
  {
    desktop::FileStateCache cache;
    startCache(cache);
    cache.apply(p, 0);
    ASSERT_TRUE(eventually([&] { return reader.state(StateReader::normalise(p, false)) == 0; }));
  }
  // The application starts over with a new file (an emptied data folder).
  ASSERT_FALSE(files::removeFile(db_));
  desktop::FileStateCache fresh;
  startCache(fresh);
  fresh.apply(p, 256);
  EXPECT_TRUE(eventually([&] { return reader.state(StateReader::normalise(p, false)) == 256; }));
  fresh.setRunning(false);
  EXPECT_TRUE(eventually([&] { return !reader.running(); }));
}

// Runs `ask` on a thread of its own and reports whether it came back within
// the deadline. A FIFO left blocking is released by opening its other end,
// so the thread always ends and is joined.
bool answersWithin(const std::function<void()>& ask, const std::string& fifo,
                   std::chrono::milliseconds deadline = std::chrono::seconds(3)) {
  std::promise<void> done;
  std::future<void> answered = done.get_future();
  std::thread asker([&] {
    ask();
    done.set_value();
  });
  const bool inTime = answered.wait_for(deadline) == std::future_status::ready;
  if (!inTime && !fifo.empty()) {
    const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    answered.wait();
    if (fd >= 0) ::close(fd);
  }
  asker.join();
  return inTime;
}

TEST_F(ShellProcTest, AFifoOrADeviceInPlaceOfTheDatabaseAnswersAtOnce) {
  const std::string p = StateReader::normalise(file("a.txt"), false);
  ASSERT_EQ(::mkfifo(db_.c_str(), 0600), 0);
  {
    StateReader reader(db_);
    EXPECT_TRUE(answersWithin(
        [&] {
          EXPECT_FALSE(reader.running());
          EXPECT_FALSE(reader.shownState(p));
        },
        db_));
  }
  // An endless file: a link to a device that never runs dry.
  ASSERT_FALSE(files::removeFile(db_));
  ASSERT_EQ(::symlink("/dev/zero", db_.c_str()), 0);
  {
    StateReader reader(db_);
    EXPECT_TRUE(answersWithin([&] { EXPECT_FALSE(reader.running()); }, ""));
  }
  // A real database with a FIFO where SQLite looks for its journal.
  ASSERT_FALSE(files::removeFile(db_));
  desktop::FileStateCache cache;
  startCache(cache);
  const std::string journal = db_ + "-journal";
  ASSERT_EQ(::mkfifo(journal.c_str(), 0600), 0);
  {
    StateReader reader(db_);
    EXPECT_TRUE(answersWithin([&] { EXPECT_FALSE(reader.running()); }, journal));
  }
  // Once the FIFO is gone the database is read as usual.
  ASSERT_FALSE(files::removeFile(journal));
  StateReader reader(db_);
  EXPECT_TRUE(eventually([&] { return reader.running(); }));
}

// Sets the locale variables for one case and puts the old ones back.
class ScopedLanguage {
 public:
  ScopedLanguage(const char* language, const char* lcAll, const char* lcMessages,
                 const char* lang) {
    const char* values[] = {language, lcAll, lcMessages, lang};
    for (int i = 0; i < 4; ++i) {
      if (const char* old = ::getenv(kNames[i])) saved_[i] = old;
      if (values[i])
        ::setenv(kNames[i], values[i], 1);
      else
        ::unsetenv(kNames[i]);
    }
  }
  ~ScopedLanguage() {
    for (int i = 0; i < 4; ++i) {
      if (saved_[i])
        ::setenv(kNames[i], saved_[i]->c_str(), 1);
      else
        ::unsetenv(kNames[i]);
    }
  }

 private:
  static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> saved_[4];
};

TEST(ShellProcTexts, TheMenuFollowsTheDesktopsLanguage) {
  struct Case {
    const char *language, *lcAll, *lcMessages, *lang;
    bool english;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, "en_US.UTF-8", true},
      {nullptr, nullptr, nullptr, "zh_CN.UTF-8", false},
      {nullptr, nullptr, nullptr, "C.UTF-8", true},  // the plain desktop: English
      {nullptr, nullptr, nullptr, nullptr, true},
      {nullptr, nullptr, nullptr, "de_DE.UTF-8", true},  // no German texts: English
      {"", "", "", "en_GB.UTF-8", true},                 // empty counts as unset
      {nullptr, "zh_CN.UTF-8", nullptr, "en_US.UTF-8", false},
      {nullptr, "en_US.UTF-8", "zh_CN.UTF-8", "zh_CN.UTF-8", true},
      {nullptr, nullptr, "zh_TW.UTF-8", "en_US.UTF-8", false},
      {"en_GB:en", nullptr, nullptr, "zh_CN.UTF-8", true},
      {"zh_CN", nullptr, nullptr, "en_US.UTF-8", false},
      {"de:zh_CN:en", nullptr, nullptr, "en_US.UTF-8", false},  // first one we have
      {"de:fr", nullptr, nullptr, "zh_CN.UTF-8", false},        // none: the locale
  };
  for (const Case& c : cases) {
    ScopedLanguage use(c.language, c.lcAll, c.lcMessages, c.lang);
    EXPECT_EQ(desktopIsEnglish(), c.english)
        << (c.language ? c.language : "-") << " " << (c.lcAll ? c.lcAll : "-") << " "
        << (c.lcMessages ? c.lcMessages : "-") << " " << (c.lang ? c.lang : "-");
    EXPECT_EQ(text(Text::SendTo), c.english ? "Send to Varnelo" : "发送到Varnelo");
  }
}

TEST_F(ShellProcTest, EveryStateHasExactlyOneEmblem) {
  for (int state : {0, 1, 2, 3, 4, 16, 256, 8, 32}) {
    int shown = 0;
    for (Emblem e :
         {Emblem::Editing, Emblem::Normal, Emblem::Syncing, Emblem::Ignored, Emblem::Conflicted})
      shown += emblemShows(e, state) ? 1 : 0;
    EXPECT_EQ(shown, 1) << "state " << state;
  }
}

TEST_F(ShellProcTest, CommandStringsAndVerbs) {
  desktop::FileStateCache cache;
  startCache(cache);
  StateReader reader(db_);
  const std::string p = file("doc.txt");
  ::setenv("LANGUAGE", "zh_CN", 1);
  ::setenv("VARNELO_PROGRAM", "/nonexistent/varnelo", 1);

  IContextMenu* menu = newContextMenu(reader);
  void* initObject = nullptr;
  const VarneloGuid iidInit = VARNELO_IID_IShellExtInit;
  ASSERT_EQ(menu->lpVtbl->QueryInterface(menu, &iidInit, &initObject), VARNELO_S_OK);
  auto* init = static_cast<IShellExtInit*>(initObject);
  const char* paths[] = {p.c_str()};
  VarneloDataObject data{1, paths};
  ASSERT_EQ(init->lpVtbl->Initialize(init, nullptr, &data, nullptr), VARNELO_S_OK);
  EXPECT_EQ(init->lpVtbl->Initialize(init, nullptr, nullptr, nullptr), VARNELO_E_INVALIDARG);
  ASSERT_EQ(init->lpVtbl->Initialize(init, nullptr, &data, nullptr), VARNELO_S_OK);
  init->lpVtbl->Release(init);

  struct Builder {
    VarneloMenu menu;
    int items;
  } builder{{[](VarneloMenu* m, uint32_t, uint32_t, const char*) {
              ++reinterpret_cast<Builder*>(m)->items;
              return 1;
            }},
            0};
  // No room for an id: nothing added.
  EXPECT_EQ(menu->lpVtbl->QueryContextMenu(menu, &builder.menu, 0, 5, 4, 0),
            VARNELO_MAKE_MENU_RESULT(0));
  EXPECT_EQ(menu->lpVtbl->QueryContextMenu(menu, &builder.menu, 0, 5, 9, 0),
            VARNELO_MAKE_MENU_RESULT(1));
  EXPECT_EQ(builder.items, 1);

  char text[64];
  ASSERT_EQ(menu->lpVtbl->GetCommandString(menu, 0, VARNELO_GCS_VERB, nullptr, text, sizeof text),
            VARNELO_S_OK);
  EXPECT_STREQ(text, "varnelo.sharelink");
  // The Chinese help text cut to a buffer of 8 bytes keeps whole characters.
  char small[8];
  ASSERT_EQ(
      menu->lpVtbl->GetCommandString(menu, 0, VARNELO_GCS_HELPTEXT, nullptr, small, sizeof small),
      VARNELO_S_OK);
  EXPECT_STREQ(small, "获取");
  EXPECT_EQ(menu->lpVtbl->GetCommandString(menu, 1, VARNELO_GCS_VERB, nullptr, text, sizeof text),
            VARNELO_E_INVALIDARG);

  // Another menu's verb is refused; our own fails only because the program
  // cannot be started.
  VarneloInvokeCommandInfo byVerb{sizeof byVerb, 0, "varnelo.sendto", 0, nullptr};
  EXPECT_EQ(menu->lpVtbl->InvokeCommand(menu, &byVerb), VARNELO_E_INVALIDARG);
  byVerb.verb = "varnelo.sharelink";
  EXPECT_EQ(menu->lpVtbl->InvokeCommand(menu, &byVerb), VARNELO_E_FAIL);
  VarneloInvokeCommandInfo byOffset{sizeof byOffset, 0, nullptr, 1, nullptr};
  EXPECT_EQ(menu->lpVtbl->InvokeCommand(menu, &byOffset), VARNELO_E_INVALIDARG);
  menu->lpVtbl->Release(menu);
  ::unsetenv("VARNELO_PROGRAM");
}

}  // namespace
}  // namespace varnelo::shellproc
