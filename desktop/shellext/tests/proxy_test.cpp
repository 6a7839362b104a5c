// The proxies against a fake implementation library: creation on first use,
// E_FAIL without an implementation, retries, the icon file, the object
// count, and unloading while calls run.
#include <thread>

#include "Fixture.h"
#include "ProxyObject.h"

namespace varnelo::shellext::test {
namespace {

using ProxyTest = ShellExtTest;

TEST_F(ProxyTest, RealObjectIsMadeOnFirstUseAndAnswersThroughTheProxy) {
  install("v1");
  state_.load();
  IShellIconOverlayIdentifier* o = overlay();
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(control("creates"), 0);  // nothing real until the first call
  EXPECT_EQ(o->lpVtbl->IsMemberOf(o, "/x/member.txt", 0), VARNELO_S_OK);
  EXPECT_EQ(o->lpVtbl->IsMemberOf(o, "/x/other.txt", 0), VARNELO_S_FALSE);
  int32_t priority = -1;
  EXPECT_EQ(o->lpVtbl->GetPriority(o, &priority), VARNELO_S_OK);
  EXPECT_EQ(priority, 1);
  EXPECT_EQ(control("creates"), 1);
  EXPECT_EQ(control("live"), 1);
  o->lpVtbl->Release(o);
  EXPECT_EQ(control("live"), 0);  // the proxy's end releases the real object
}

TEST_F(ProxyTest, WithoutLibraryOrEntryPointEveryForwardedCallFails) {
  state_.load();  // nothing at the path
  EXPECT_FALSE(state_.loaded());
  IShellIconOverlayIdentifier* o = overlay();
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->lpVtbl->IsMemberOf(o, "/member", 0), VARNELO_E_FAIL);
  // QueryInterface, AddRef and Release still work.
  void* same = nullptr;
  EXPECT_EQ(o->lpVtbl->QueryInterface(o, &kIidIUnknown, &same), VARNELO_S_OK);
  EXPECT_EQ(same, o);
  EXPECT_EQ(o->lpVtbl->AddRef(o), 3u);
  EXPECT_EQ(o->lpVtbl->Release(o), 2u);
  o->lpVtbl->Release(o);

  install("noexport");
  state_.load();
  EXPECT_TRUE(state_.loaded());
  int32_t priority = 0;
  EXPECT_EQ(o->lpVtbl->GetPriority(o, &priority), VARNELO_E_FAIL);
  o->lpVtbl->Release(o);
}

TEST_F(ProxyTest, AnEmptySlotIsRetriedOnTheNextCall) {
  install("v1");
  state_.load();
  control("empty", 2);
  IShellIconOverlayIdentifier* o = overlay();
  EXPECT_EQ(o->lpVtbl->IsMemberOf(o, "/member", 0), VARNELO_E_FAIL);
  EXPECT_EQ(o->lpVtbl->IsMemberOf(o, "/member", 0), VARNELO_E_FAIL);
  EXPECT_EQ(o->lpVtbl->IsMemberOf(o, "/member", 0), VARNELO_S_OK);
  EXPECT_EQ(control("creates"), 3);
  o->lpVtbl->Release(o);
}

TEST_F(ProxyTest, OverlayInfoNamesTheModuleUnlessTheImplementationAnswers) {
  install("v1");
  state_.load();
  IShellIconOverlayIdentifier* o = overlay(2);
  char icon[256] = "junk";
  int32_t index = -1;
  uint32_t flags = 0;
  EXPECT_EQ(o->lpVtbl->GetOverlayInfo(o, icon, sizeof icon, &index, &flags), VARNELO_S_OK);
  EXPECT_EQ(std::string(icon), dir_ + "/libvarneloShellExt.so");
  // A small buffer gets as much of it as fits, terminated.
  char small[8];
  EXPECT_EQ(o->lpVtbl->GetOverlayInfo(o, small, sizeof small, &index, &flags), VARNELO_S_OK);
  EXPECT_EQ(std::string(small), "/tmp/sh");
  control("write-icon", 1);
  EXPECT_EQ(o->lpVtbl->GetOverlayInfo(o, icon, sizeof icon, &index, &flags), VARNELO_S_OK);
  EXPECT_STREQ(icon, "fake-emblem");
  o->lpVtbl->Release(o);
}

TEST_F(ProxyTest, ObjectCountFollowsFactoriesAndProxies) {
  EXPECT_EQ(dllCanUnloadNow(state_), VARNELO_S_OK);
  void* f = nullptr;
  const VarneloGuid unknown = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  ASSERT_EQ(dllGetClassObject(state_, &unknown, &kIidIClassFactory, &f), VARNELO_S_OK);
  auto* factory = static_cast<IClassFactory*>(f);
  EXPECT_EQ(dllCanUnloadNow(state_), VARNELO_S_FALSE);
  void* object = &f;
  // Any class id gets a factory; an unknown one fails to create.
  EXPECT_EQ(factory->lpVtbl->CreateInstance(factory, nullptr, &kIidIUnknown, &object),
            VARNELO_E_OUTOFMEMORY);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(factory->lpVtbl->LockServer(factory, 1), VARNELO_E_NOTIMPL);
  factory->lpVtbl->Release(factory);
  EXPECT_EQ(state_.objectCount(), 0);

  // A refused interface destroys the new proxy again.
  void* none = nullptr;
  ASSERT_EQ(dllGetClassObject(state_, &kClasses[0].clsid, &kIidIClassFactory, &f), VARNELO_S_OK);
  factory = static_cast<IClassFactory*>(f);
  EXPECT_EQ(factory->lpVtbl->CreateInstance(factory, nullptr, &kIidIContextMenu, &none),
            VARNELO_E_NOINTERFACE);
  IUnknown outer{};
  EXPECT_EQ(factory->lpVtbl->CreateInstance(factory, &outer, &kIidIUnknown, &none),
            VARNELO_CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->lpVtbl->CreateInstance(factory, nullptr, &kIidIUnknown, nullptr),
            VARNELO_E_POINTER);
  factory->lpVtbl->Release(factory);
  EXPECT_EQ(state_.objectCount(), 0);
  EXPECT_EQ(state_.liveProxies(), 0u);

  IShellIconOverlayIdentifier* o = overlay();
  EXPECT_EQ(state_.objectCount(), 1);
  EXPECT_EQ(dllCanUnloadNow(state_), VARNELO_S_FALSE);
  o->lpVtbl->Release(o);
  EXPECT_EQ(dllCanUnloadNow(state_), VARNELO_S_OK);
}

TEST_F(ProxyTest, ContextMenuAnswersBothFacesAndForwardsInitialize) {
  install("v1");
  state_.load();
  const VarneloGuid clsid = VARNELO_CLSID_CONTEXT_MENU;
  auto* menu = create<IContextMenu>(clsid, kIidIContextMenu);
  ASSERT_NE(menu, nullptr);
  void* initObject = nullptr;
  ASSERT_EQ(menu->lpVtbl->QueryInterface(menu, &kIidIShellExtInit, &initObject), VARNELO_S_OK);
  auto* init = static_cast<IShellExtInit*>(initObject);
  void* back = nullptr;
  ASSERT_EQ(init->lpVtbl->QueryInterface(init, &kIidIContextMenu, &back), VARNELO_S_OK);
  EXPECT_EQ(back, menu);
  menu->lpVtbl->Release(menu);
  void* wrong = &back;
  EXPECT_EQ(menu->lpVtbl->QueryInterface(menu, &kIidIShellIconOverlayIdentifier, &wrong),
            VARNELO_E_NOINTERFACE);
  EXPECT_EQ(wrong, nullptr);

  EXPECT_EQ(init->lpVtbl->Initialize(init, "/folder", nullptr, nullptr), VARNELO_S_OK);
  struct Builder {
    VarneloMenu menu;
    std::string label;
    uint32_t id = 0;
  } builder{{[](VarneloMenu* m, uint32_t, uint32_t id, const char* label) {
              auto* b = reinterpret_cast<Builder*>(m);
              b->label = label;
              b->id = id;
              return 1;
            }},
            {},
            0};
  EXPECT_EQ(menu->lpVtbl->QueryContextMenu(menu, &builder.menu, 0, 7, 100, 0),
            VARNELO_MAKE_MENU_RESULT(1));
  EXPECT_EQ(builder.label, "fake /folder");
  EXPECT_EQ(builder.id, 7u);
  VarneloInvokeCommandInfo info{sizeof info, 0, nullptr, 0, nullptr};
  EXPECT_EQ(menu->lpVtbl->InvokeCommand(menu, &info), VARNELO_S_OK);
  init->lpVtbl->Release(init);
  menu->lpVtbl->Release(menu);
  EXPECT_EQ(state_.objectCount(), 0);
}

TEST_F(ProxyTest, UnloadWaitsForARunningCallAndProxiesComeBackAfterLoad) {
  install("v1");
  state_.load();
  IShellIconOverlayIdentifier* o = overlay();
  control("block", 1);
  VarneloResult answered = 0;
  std::thread shell([&] { answered = o->lpVtbl->IsMemberOf(o, "/member", 0); });
  control("wait-in-call");
  std::atomic<bool> unloaded{false};
  std::thread pipe([&] {
    state_.unload();
    unloaded = true;
  });
  // The unloader cannot get past the running call...
  EXPECT_FALSE(waitFor([&] { return unloaded.load(); }, std::chrono::milliseconds(100)));
  EXPECT_EQ(control("released-during-call"), 0);
  control("block", 0);
  shell.join();
  pipe.join();
  EXPECT_EQ(answered, VARNELO_S_OK);
  EXPECT_FALSE(state_.loaded());
  EXPECT_EQ(o->lpVtbl->IsMemberOf(o, "/member", 0), VARNELO_E_FAIL);
  state_.load();
  EXPECT_EQ(o->lpVtbl->IsMemberOf(o, "/member", 0), VARNELO_S_OK);
  EXPECT_EQ(control("creates"), 1);  // a fresh copy of the library made a new object
  o->lpVtbl->Release(o);
}

TEST_F(ProxyTest, CopyOverNeverLeavesAPartialFileAtTheTarget) {
  install("v1");
  // A source that cannot be read leaves the target as it was, and no
  // temporary file behind.
  EXPECT_TRUE(copyOverAtomically(dir_ + "/missing.so", implementation_));
  EXPECT_TRUE(copyOverAtomically(dir_, implementation_));
  std::string bytes, original;
  ASSERT_FALSE(platform::files::readFile(implementation_, bytes));
  ASSERT_FALSE(platform::files::readFile(fake("v1"), original));
  EXPECT_EQ(bytes, original);
  std::vector<platform::files::DirEntry> entries;
  ASSERT_FALSE(platform::files::listDirectory(dir_, entries));
  EXPECT_EQ(entries.size(), 1u);
  EXPECT_FALSE(copyOverAtomically(fake("v2"), implementation_));
  ASSERT_FALSE(platform::files::readFile(implementation_, bytes));
  ASSERT_FALSE(platform::files::readFile(fake("v2"), original));
  EXPECT_EQ(bytes, original);
  ASSERT_FALSE(platform::files::listDirectory(dir_, entries));
  EXPECT_EQ(entries.size(), 1u);
}

}  // namespace
}  // namespace varnelo::shellext::test
