#include "NautilusProvider.h"

#include <nautilus-extension.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "ClassFactory.h"
#include "ClassIds.h"
#include "Log.h"

namespace varnelo::shellext {

namespace {

// Files whose emblems are checked again once a second, so that a state the
// implementation learns later reaches the view. Bounded: past this many the
// oldest are no longer followed.
constexpr guint kMaxFollowed = 20000;
constexpr guint kRecheckSeconds = 1;
constexpr uint32_t kFolderAttribute = 0x10;
constexpr uint32_t kFirstCommand = 1;
constexpr uint32_t kLastCommand = 0x7FFF;

GType gProviderType = 0;
ShellExtState* gState = nullptr;

struct Provider {
  GObject parent;
  std::array<IShellIconOverlayIdentifier*, kOverlayCount>* overlays;
  // NautilusFileInfo* → the emblem names it was given, joined by '\n'.
  GHashTable* followed;
  guint recheck;
};

struct ProviderClass {
  GObjectClass parent;
};

GObjectClass* gParentClass = nullptr;

template <class T>
T* createProxy(const VarneloGuid& clsid, const VarneloGuid& iid) {
  void* factoryObject = nullptr;
  if (!VARNELO_SUCCEEDED(dllGetClassObject(*gState, &clsid, &kIidIClassFactory, &factoryObject)))
    return nullptr;
  auto* factory = static_cast<IClassFactory*>(factoryObject);
  void* object = nullptr;
  factory->lpVtbl->CreateInstance(factory, nullptr, &iid, &object);
  factory->lpVtbl->Release(factory);
  return static_cast<T*>(object);
}

// ---- emblems ----

std::string localPath(NautilusFileInfo* file) {
  GFile* location = nautilus_file_info_get_location(file);
  if (!location) return {};
  char* path = g_file_get_path(location);
  g_object_unref(location);
  std::string result = path ? path : "";
  g_free(path);
  return result;
}

// The emblems for one file, highest priority first, joined by '\n'.
std::string emblemsFor(Provider* self, const std::string& path, bool folder) {
  struct Found {
    int32_t priority;
    size_t order;
    std::string emblem;
  };
  std::vector<Found> found;
  const std::string& own = gState->modulePath();
  for (size_t i = 0; i < kOverlayCount; ++i) {
    IShellIconOverlayIdentifier* overlay = (*self->overlays)[i];
    if (!overlay) continue;
    if (overlay->lpVtbl->IsMemberOf(overlay, path.c_str(), folder ? kFolderAttribute : 0) !=
        VARNELO_S_OK)
      continue;
    int32_t priority = 100;
    overlay->lpVtbl->GetPriority(overlay, &priority);
    char icon[4096] = "";
    int32_t index = 0;
    uint32_t flags = 0;
    std::string emblem(kClasses[i].emblem);
    if (VARNELO_SUCCEEDED(
            overlay->lpVtbl->GetOverlayInfo(overlay, icon, sizeof icon, &index, &flags))) {
      // A theme icon name of the implementation's own; our file (left as
      // it was) or a path means our emblem.
      const std::string answer(icon);
      if (!answer.empty() && answer != own && answer.find('/') == std::string::npos)
        emblem = answer;
    }
    found.push_back({priority, i, std::move(emblem)});
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const Found& a, const Found& b) { return a.priority < b.priority; });
  std::string joined;
  for (const Found& f : found) {
    if (!joined.empty()) joined += '\n';
    joined += f.emblem;
  }
  return joined;
}

void addEmblems(NautilusFileInfo* file, const std::string& joined) {
  size_t start = 0;
  while (start < joined.size()) {
    size_t end = joined.find('\n', start);
    if (end == std::string::npos) end = joined.size();
    nautilus_file_info_add_emblem(file, joined.substr(start, end - start).c_str());
    start = end + 1;
  }
}

void forgetFile(gpointer data, GObject* gone) {
  auto* self = static_cast<Provider*>(data);
  g_hash_table_remove(self->followed, gone);
}

gboolean recheck(gpointer data) {
  auto* self = static_cast<Provider*>(data);
  std::vector<NautilusFileInfo*> changed;
  GHashTableIter it;
  gpointer key, value;
  g_hash_table_iter_init(&it, self->followed);
  while (g_hash_table_iter_next(&it, &key, &value)) {
    auto* file = static_cast<NautilusFileInfo*>(key);
    const std::string path = localPath(file);
    if (path.empty()) continue;
    const std::string now = emblemsFor(self, path, nautilus_file_info_is_directory(file));
    if (now != static_cast<const char*>(value)) changed.push_back(file);
  }
  // Invalidating asks the view to call update_file_info again, which
  // records the new emblems.
  for (NautilusFileInfo* file : changed) nautilus_file_info_invalidate_extension_info(file);
  return G_SOURCE_CONTINUE;
}

NautilusOperationResult updateFileInfo(NautilusInfoProvider* provider, NautilusFileInfo* file,
                                       GClosure*, NautilusOperationHandle** handle) {
  if (handle) *handle = nullptr;
  auto* self = reinterpret_cast<Provider*>(provider);
  const std::string path = localPath(file);
  if (path.empty()) return NAUTILUS_OPERATION_COMPLETE;
  std::string joined = emblemsFor(self, path, nautilus_file_info_is_directory(file));
  addEmblems(file, joined);
  const bool known = g_hash_table_contains(self->followed, file);
  if (known || g_hash_table_size(self->followed) < kMaxFollowed) {
    if (!known) g_object_weak_ref(G_OBJECT(file), forgetFile, self);
    g_hash_table_insert(self->followed, file, g_strdup(joined.c_str()));
  }
  return NAUTILUS_OPERATION_COMPLETE;
}

void cancelUpdate(NautilusInfoProvider*, NautilusOperationHandle*) {}

void initInfoProvider(gpointer iface, gpointer) {
  auto* info = static_cast<NautilusInfoProviderInterface*>(iface);
  info->update_file_info = updateFileInfo;
  info->cancel_update = cancelUpdate;
}

// ---- menu ----

struct MenuBuilder {
  VarneloMenu menu;  // first: the implementation sees only this
  struct Item {
    uint32_t position;
    uint32_t commandId;
    std::string label;
  };
  std::vector<Item> items;
};

int insertItem(VarneloMenu* menu, uint32_t position, uint32_t commandId, const char* label) {
  auto* builder = reinterpret_cast<MenuBuilder*>(menu);
  if (!label || commandId < kFirstCommand || commandId > kLastCommand) return 0;
  builder->items.push_back({position, commandId, label});
  return 1;
}

struct Command {
  IContextMenu* menu;  // one reference per item
  uint32_t offset;
};

void freeCommand(gpointer data, GClosure*) {
  auto* command = static_cast<Command*>(data);
  command->menu->lpVtbl->Release(command->menu);
  delete command;
}

void activate(NautilusMenuItem*, gpointer data) {
  auto* command = static_cast<Command*>(data);
  VarneloInvokeCommandInfo info{};
  info.size = sizeof info;
  info.commandOffset = command->offset;
  const VarneloResult result = command->menu->lpVtbl->InvokeCommand(command->menu, &info);
  if (!VARNELO_SUCCEEDED(result))
    logLine("menu command %u failed: 0x%08x", command->offset, static_cast<unsigned>(result));
}

// Builds the items of one menu: a fresh proxy, initialised with the
// selection or the folder, asked for its items.
GList* menuItems(const char* folder, const std::vector<std::string>& paths) {
  static const VarneloGuid kMenuClsid = VARNELO_CLSID_CONTEXT_MENU;
  auto* menu = createProxy<IContextMenu>(kMenuClsid, kIidIContextMenu);
  if (!menu) return nullptr;
  void* initObject = nullptr;
  GList* result = nullptr;
  if (VARNELO_SUCCEEDED(menu->lpVtbl->QueryInterface(menu, &kIidIShellExtInit, &initObject))) {
    auto* init = static_cast<IShellExtInit*>(initObject);
    std::vector<const char*> raw;
    for (const std::string& p : paths) raw.push_back(p.c_str());
    VarneloDataObject data{raw.size(), raw.data()};
    const VarneloResult initialised =
        init->lpVtbl->Initialize(init, folder, folder ? nullptr : &data, nullptr);
    init->lpVtbl->Release(init);
    MenuBuilder builder{{insertItem}, {}};
    if (VARNELO_SUCCEEDED(initialised) &&
        VARNELO_SUCCEEDED(menu->lpVtbl->QueryContextMenu(menu, &builder.menu, 0, kFirstCommand,
                                                         kLastCommand, 0))) {
      std::stable_sort(builder.items.begin(), builder.items.end(),
                       [](const auto& a, const auto& b) { return a.position < b.position; });
      for (const auto& item : builder.items) {
        const uint32_t offset = item.commandId - kFirstCommand;
        char help[512] = "";
        menu->lpVtbl->GetCommandString(menu, offset, VARNELO_GCS_HELPTEXT, nullptr, help,
                                       sizeof help);
        const std::string name = "Varnelo::command" + std::to_string(offset);
        NautilusMenuItem* entry =
            nautilus_menu_item_new(name.c_str(), item.label.c_str(), help, nullptr);
        menu->lpVtbl->AddRef(menu);
        g_signal_connect_data(entry, "activate", G_CALLBACK(activate), new Command{menu, offset},
                              freeCommand, GConnectFlags(0));
        result = g_list_append(result, entry);
      }
    }
  }
  menu->lpVtbl->Release(menu);
  return result;
}

GList* getFileItems(NautilusMenuProvider*, GList* files) {
  std::vector<std::string> paths;
  for (GList* l = files; l; l = l->next) {
    std::string path = localPath(NAUTILUS_FILE_INFO(l->data));
    if (path.empty()) return nullptr;  // not a local file: nothing of ours applies
    paths.push_back(std::move(path));
  }
  if (paths.empty()) return nullptr;
  return menuItems(nullptr, paths);
}

GList* getBackgroundItems(NautilusMenuProvider*, NautilusFileInfo* folder) {
  const std::string path = folder ? localPath(folder) : std::string();
  if (path.empty()) return nullptr;
  return menuItems(path.c_str(), {});
}

void initMenuProvider(gpointer iface, gpointer) {
  auto* menu = static_cast<NautilusMenuProviderInterface*>(iface);
  menu->get_file_items = getFileItems;
  menu->get_background_items = getBackgroundItems;
}

// ---- the object ----

void providerInit(GTypeInstance* instance, gpointer) {
  auto* self = reinterpret_cast<Provider*>(instance);
  self->overlays = new std::array<IShellIconOverlayIdentifier*, kOverlayCount>{};
  for (size_t i = 0; i < kOverlayCount; ++i)
    (*self->overlays)[i] = createProxy<IShellIconOverlayIdentifier>(
        kClasses[i].clsid, kIidIShellIconOverlayIdentifier);
  self->followed = g_hash_table_new_full(g_direct_hash, g_direct_equal, nullptr, g_free);
  self->recheck = g_timeout_add_seconds(kRecheckSeconds, recheck, self);
}

gboolean dropWeakRef(gpointer key, gpointer, gpointer self) {
  g_object_weak_unref(G_OBJECT(key), forgetFile, self);
  return TRUE;
}

void providerFinalize(GObject* object) {
  auto* self = reinterpret_cast<Provider*>(object);
  if (self->recheck) g_source_remove(self->recheck);
  g_hash_table_foreach_remove(self->followed, dropWeakRef, self);
  g_hash_table_unref(self->followed);
  for (IShellIconOverlayIdentifier* overlay : *self->overlays)
    if (overlay) overlay->lpVtbl->Release(overlay);
  delete self->overlays;
  gParentClass->finalize(object);
}

void providerClassInit(gpointer klass, gpointer) {
  gParentClass = static_cast<GObjectClass*>(g_type_class_peek_parent(klass));
  G_OBJECT_CLASS(klass)->finalize = providerFinalize;
}

}  // namespace

GType registerProviderType(GTypeModule* module, ShellExtState& state) {
  gState = &state;
  const GTypeInfo info = {sizeof(ProviderClass),
                          nullptr,
                          nullptr,
                          providerClassInit,
                          nullptr,
                          nullptr,
                          sizeof(Provider),
                          0,
                          providerInit,
                          nullptr};
  gProviderType = g_type_module_register_type(module, G_TYPE_OBJECT, "VarneloShellExtProvider",
                                              &info, GTypeFlags(0));
  const GInterfaceInfo infoProvider = {initInfoProvider, nullptr, nullptr};
  g_type_module_add_interface(module, gProviderType, NAUTILUS_TYPE_INFO_PROVIDER, &infoProvider);
  const GInterfaceInfo menuProvider = {initMenuProvider, nullptr, nullptr};
  g_type_module_add_interface(module, gProviderType, NAUTILUS_TYPE_MENU_PROVIDER, &menuProvider);
  return gProviderType;
}

GType providerType() {
  return gProviderType;
}

}  // namespace varnelo::shellext
