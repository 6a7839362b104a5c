// The test host: loads the real libvarneloShellExt.so the way the file
// manager does (a GTypeModule, nautilus_module_initialize, the listed
// types), with the real implementation library beside it, over a
// statecache.db written by the application's own FileStateCache. Checks the
// emblems of every state, the menus and their commands (a recorder stands in
// for the application), the refresh after a change, and a replacement of the
// implementation through the pipe while the module stays loaded.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <platform/files.h>

#include <chrono>
#include <functional>
#include <thread>

#include "FileStateCache.h"
#include "PipeServer.h"
#include "TestFileInfo.h"

namespace varnelo::shellext::test {
namespace {

namespace files = platform::files;

bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    // The module's once-a-second recheck runs on the default main context.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// The file manager's side of module loading: load() opens the file and
// calls its initialize entry point, as the file manager's own module does.
struct HostModule {
  GTypeModule parent;
};
struct HostModuleClass {
  GTypeModuleClass parent;
};
std::string gModulePath;
void* gModuleHandle = nullptr;

GType hostModuleType() {
  static GType type = 0;
  if (type) return type;
  const GTypeInfo info = {
      sizeof(HostModuleClass),
      nullptr,
      nullptr,
      [](gpointer klass, gpointer) {
        auto* module = G_TYPE_MODULE_CLASS(klass);
        module->load = [](GTypeModule* m) -> gboolean {
          if (!gModuleHandle) gModuleHandle = ::dlopen(gModulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
          if (!gModuleHandle) return FALSE;
          auto init = reinterpret_cast<void (*)(GTypeModule*)>(
              ::dlsym(gModuleHandle, "nautilus_module_initialize"));
          if (!init) return FALSE;
          init(m);
          return TRUE;
        };
        module->unload = [](GTypeModule*) {};  // like the file manager: never unloaded
      },
      nullptr,
      nullptr,
      sizeof(HostModule),
      0,
      nullptr,
      nullptr};
  type = g_type_register_static(G_TYPE_TYPE_MODULE, "VarneloHostModule", &info, GTypeFlags(0));
  return type;
}

// update_file_info as the file manager calls it: with a completion
// closure (only used by providers that answer later; ours never do).
NautilusOperationResult update(gpointer provider, TestFileInfo* f) {
  GClosure* done = g_cclosure_new(G_CALLBACK(+[] {}), nullptr, nullptr);
  g_closure_ref(done);
  g_closure_sink(done);
  NautilusOperationHandle* handle = nullptr;
  const NautilusOperationResult result = nautilus_info_provider_update_file_info(
      NAUTILUS_INFO_PROVIDER(provider), NAUTILUS_FILE_INFO(f), done, &handle);
  g_closure_unref(done);
  return result;
}

template <class F>
F entry(const char* name) {
  return reinterpret_cast<F>(::dlsym(gModuleHandle, name));
}

class HostTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/shellext-host-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = new std::string(pattern);
    const std::string& d = *dir_;
    for (const char* sub : {"/data/Varnelo", "/runtime", "/ext/varnelo", "/sync/sub", "/outside"})
      ASSERT_FALSE(files::createDirectories(d + sub));
    ::setenv("XDG_DATA_HOME", (d + "/data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (d + "/runtime").c_str(), 1);
    ::setenv("LANGUAGE", "zh_CN", 1);
    // The recorder the menu starts instead of the application: one line
    // per start, its arguments separated by "|".
    ASSERT_FALSE(files::writeFile(
        d + "/recorder", "#!/bin/sh\nIFS='|'\necho \"$*\" >> \"" + d + "/record\"\n", 0755));
    ::setenv("VARNELO_PROGRAM", (d + "/recorder").c_str(), 1);

    // The module and its implementation, copied: the replacement test
    // writes over the implementation.
    gModulePath = d + "/ext/libvarneloShellExt.so";
    ASSERT_FALSE(files::copyFile(MODULE_FILE, gModulePath));
    ASSERT_FALSE(files::copyFile(IMPLEMENTATION_FILE, d + "/ext/varnelo/libvarneloShellProc.so"));

    cache_ = new desktop::FileStateCache;
    ASSERT_TRUE(cache_->open(d + "/data/Varnelo/statecache.db"));
    cache_->addRoot(d + "/sync");
    cache_->setRunning(true);

    auto* module = static_cast<GTypeModule*>(g_object_new(hostModuleType(), nullptr));
    ASSERT_TRUE(g_type_module_use(module));
    const GType* types = nullptr;
    int count = 0;
    entry<void (*)(const GType**, int*)>("nautilus_module_list_types")(&types, &count);
    ASSERT_EQ(count, 1);
    provider_ = g_object_new(types[0], nullptr);
    ASSERT_TRUE(NAUTILUS_IS_INFO_PROVIDER(provider_));
    ASSERT_TRUE(NAUTILUS_IS_MENU_PROVIDER(provider_));
  }
  static void TearDownTestSuite() {
    if (provider_) g_object_unref(provider_);
    if (auto shutdown = entry<void (*)()>("nautilus_module_shutdown")) shutdown();
    delete cache_;
    files::removeTree(*dir_);
    delete dir_;
  }

  static std::string path(const std::string& relative) { return *dir_ + "/" + relative; }
  static std::string makeFile(const std::string& relative, int state = -1) {
    const std::string p = path(relative);
    EXPECT_FALSE(files::writeFile(p, "x"));
    if (state >= 0) cache_->apply(p, state);
    return p;
  }

  // What update_file_info gives the file now.
  static std::vector<std::string> emblems(const std::string& p, bool directory = false) {
    TestFileInfo* f = newTestFileInfo(p, directory);
    EXPECT_EQ(update(provider_, f), NAUTILUS_OPERATION_COMPLETE);
    std::vector<std::string> result = *f->emblems;
    g_object_unref(f);
    return result;
  }

  static std::vector<std::string> labels(GList* items) {
    std::vector<std::string> result;
    for (GList* l = items; l; l = l->next) {
      char* label = nullptr;
      g_object_get(l->data, "label", &label, nullptr);
      result.push_back(label ? label : "");
      g_free(label);
    }
    return result;
  }
  static GList* fileItems(const std::vector<std::string>& paths) {
    GList* list = nullptr;
    for (const std::string& p : paths)
      list = g_list_append(list, newTestFileInfo(p, files::isDirectory(p)));
    GList* items = nautilus_menu_provider_get_file_items(NAUTILUS_MENU_PROVIDER(provider_), list);
    g_list_free_full(list, g_object_unref);
    return items;
  }
  static std::string record() {
    std::string text;
    files::readFile(path("record"), text);
    return text;
  }

  static std::string* dir_;
  static desktop::FileStateCache* cache_;
  static gpointer provider_;
};

std::string* HostTest::dir_ = nullptr;
desktop::FileStateCache* HostTest::cache_ = nullptr;
gpointer HostTest::provider_ = nullptr;

using Emblems = std::vector<std::string>;

TEST_F(HostTest, EveryStateShowsItsEmblem) {
  EXPECT_EQ(emblems(makeFile("sync/normal.txt", 0)), Emblems{"varnelo-normal"});
  EXPECT_EQ(emblems(makeFile("sync/up.txt", 1)), Emblems{"varnelo-syncing"});
  EXPECT_EQ(emblems(makeFile("sync/down.txt", 2)), Emblems{"varnelo-syncing"});
  EXPECT_EQ(emblems(makeFile("sync/open.txt", 4)), Emblems{"varnelo-editing"});
  EXPECT_EQ(emblems(makeFile("sync/both.txt", 16)), Emblems{"varnelo-conflicted"});
  EXPECT_EQ(emblems(makeFile("sync/failed.txt", 256)), Emblems{"varnelo-ignored"});
  // A folder follows the transfer below it; the sync folder itself too.
  makeFile("sync/sub/inner.txt", 2);
  EXPECT_EQ(emblems(path("sync/sub"), true), Emblems{"varnelo-syncing"});
  EXPECT_EQ(emblems(path("sync"), true), Emblems{"varnelo-syncing"});
  // No row, outside the sync folder, not a local file: nothing.
  EXPECT_EQ(emblems(makeFile("sync/unknown.txt")), Emblems{});
  EXPECT_EQ(emblems(makeFile("outside/free.txt")), Emblems{});
  // Upper case on disk, lower case in the cache.
  EXPECT_EQ(emblems(makeFile("sync/Mixed.TXT", 16)), Emblems{"varnelo-conflicted"});
}

TEST_F(HostTest, NothingShowsWhileTheApplicationIsNotRunning) {
  const std::string p = makeFile("sync/quiet.txt", 0);
  EXPECT_EQ(emblems(p), Emblems{"varnelo-normal"});
  cache_->setRunning(false);
  EXPECT_TRUE(waitFor([&] { return emblems(p).empty(); }));
  EXPECT_EQ(labels(fileItems({p})), std::vector<std::string>{});
  cache_->setRunning(true);
  EXPECT_TRUE(waitFor([&] { return !emblems(p).empty(); }));
}

TEST_F(HostTest, AChangedStateReachesTheViewWithoutBeingAsked) {
  const std::string p = makeFile("sync/changing.txt", 1);
  TestFileInfo* f = newTestFileInfo(p, false);
  update(provider_, f);
  EXPECT_EQ(*f->emblems, Emblems{"varnelo-syncing"});
  cache_->apply(p, 0);
  EXPECT_TRUE(waitFor([&] { return f->invalidated > 0; }));
  f->emblems->clear();
  update(provider_, f);
  EXPECT_EQ(*f->emblems, Emblems{"varnelo-normal"});
  g_object_unref(f);
}

TEST_F(HostTest, MenusOfferShareLinkInsideAndSendToOutside) {
  const std::string inside = makeFile("sync/report.txt", 0);
  const std::string out1 = makeFile("outside/a b.txt");
  const std::string out2 = makeFile("outside/c.txt");

  GList* share = fileItems({inside});
  ASSERT_EQ(labels(share), std::vector<std::string>{"获取分享链接"});
  nautilus_menu_item_activate(NAUTILUS_MENU_ITEM(share->data));
  EXPECT_TRUE(waitFor([] { return !record().empty(); }));
  EXPECT_EQ(record(), "-extlink|" + inside + "\n");
  nautilus_menu_item_list_free(share);

  ASSERT_FALSE(files::removeFile(path("record")));
  GList* send = fileItems({out1, out2});
  ASSERT_EQ(labels(send), std::vector<std::string>{"发送到Varnelo"});
  nautilus_menu_item_activate(NAUTILUS_MENU_ITEM(send->data));
  EXPECT_TRUE(waitFor([] { return !record().empty(); }));
  EXPECT_EQ(record(), "-sendto|\"" + out1 + "\"|\"" + out2 + "\"\n");
  nautilus_menu_item_list_free(send);

  // A selection across the boundary, the sync folder itself, or a folder
  // holding it: nothing to offer.
  EXPECT_EQ(labels(fileItems({inside, out1})), std::vector<std::string>{});
  EXPECT_EQ(labels(fileItems({path("sync")})), std::vector<std::string>{});
  EXPECT_EQ(labels(fileItems({*dir_})), std::vector<std::string>{});

  // Background of a folder inside: its share link; outside: nothing.
  TestFileInfo* sub = newTestFileInfo(path("sync/sub"), true);
  GList* background = nautilus_menu_provider_get_background_items(NAUTILUS_MENU_PROVIDER(provider_),
                                                                  NAUTILUS_FILE_INFO(sub));
  EXPECT_EQ(labels(background), std::vector<std::string>{"获取分享链接"});
  nautilus_menu_item_list_free(background);
  g_object_unref(sub);
  TestFileInfo* outside = newTestFileInfo(path("outside"), true);
  EXPECT_EQ(nautilus_menu_provider_get_background_items(NAUTILUS_MENU_PROVIDER(provider_),
                                                        NAUTILUS_FILE_INFO(outside)),
            nullptr);
  g_object_unref(outside);

  ::setenv("LANGUAGE", "en_GB:en", 1);
  GList* english = fileItems({inside});
  EXPECT_EQ(labels(english), std::vector<std::string>{"Get share link"});
  nautilus_menu_item_list_free(english);
  english = fileItems({out2});
  EXPECT_EQ(labels(english), std::vector<std::string>{"Send to Varnelo"});
  nautilus_menu_item_list_free(english);
  ::setenv("LANGUAGE", "zh_CN", 1);
}

// Last: it leaves another implementation in place.
TEST_F(HostTest, ZReplacingTheImplementationWhileLoaded) {
  const std::string member = makeFile("outside/member.txt");
  EXPECT_EQ(emblems(member), Emblems{});
  // The fake answers "member" for such names with every emblem, in the
  // factory's order (one priority for all).
  ASSERT_TRUE(sendPipeCommand(pipeName(1), "0" + std::string(FAKE_V2_FILE) + '\0'));
  const Emblems all = {"varnelo-editing", "varnelo-normal", "varnelo-syncing", "varnelo-ignored",
                       "varnelo-conflicted"};
  EXPECT_TRUE(waitFor([&] { return emblems(member) == all; }));
  // And back to the real one.
  ASSERT_TRUE(sendPipeCommand(pipeName(1), "0" + std::string(IMPLEMENTATION_FILE) + '\0'));
  EXPECT_TRUE(waitFor([&] { return emblems(member).empty(); }));
  EXPECT_EQ(emblems(makeFile("sync/after.txt", 0)), Emblems{"varnelo-normal"});
  EXPECT_EQ(entry<int32_t (*)()>("DllCanUnloadNow")(), VARNELO_S_FALSE);  // the provider's proxies
}

}  // namespace
}  // namespace varnelo::shellext::test
