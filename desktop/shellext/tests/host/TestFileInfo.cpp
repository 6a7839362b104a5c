#include "TestFileInfo.h"

namespace varnelo::shellext::test {

namespace {

struct TestFileInfoClass {
  GObjectClass parent;
};

GObjectClass* gParent = nullptr;

TestFileInfo* self(NautilusFileInfo* info) {
  return reinterpret_cast<TestFileInfo*>(info);
}

void initInterface(gpointer iface, gpointer) {
  auto* i = static_cast<NautilusFileInfoInterface*>(iface);
  i->is_gone = [](NautilusFileInfo*) -> gboolean { return FALSE; };
  i->get_location = [](NautilusFileInfo* f) -> GFile* {
    return G_FILE(g_object_ref(self(f)->location));
  };
  i->get_uri = [](NautilusFileInfo* f) { return g_file_get_uri(self(f)->location); };
  i->get_name = [](NautilusFileInfo* f) { return g_file_get_basename(self(f)->location); };
  i->get_uri_scheme = [](NautilusFileInfo* f) { return g_file_get_uri_scheme(self(f)->location); };
  i->is_directory = [](NautilusFileInfo* f) { return self(f)->directory; };
  i->get_file_type = [](NautilusFileInfo* f) {
    return self(f)->directory ? G_FILE_TYPE_DIRECTORY : G_FILE_TYPE_REGULAR;
  };
  i->add_emblem = [](NautilusFileInfo* f, const char* name) { self(f)->emblems->push_back(name); };
  i->invalidate_extension_info = [](NautilusFileInfo* f) { ++self(f)->invalidated; };
}

void finalize(GObject* object) {
  auto* f = reinterpret_cast<TestFileInfo*>(object);
  g_object_unref(f->location);
  delete f->emblems;
  gParent->finalize(object);
}

}  // namespace

GType testFileInfoType() {
  static GType type = 0;
  if (!type) {
    const GTypeInfo info = {sizeof(TestFileInfoClass),
                            nullptr,
                            nullptr,
                            [](gpointer klass, gpointer) {
                              gParent = static_cast<GObjectClass*>(g_type_class_peek_parent(klass));
                              G_OBJECT_CLASS(klass)->finalize = finalize;
                            },
                            nullptr,
                            nullptr,
                            sizeof(TestFileInfo),
                            0,
                            nullptr,
                            nullptr};
    type = g_type_register_static(G_TYPE_OBJECT, "VarneloTestFileInfo", &info, GTypeFlags(0));
    const GInterfaceInfo iface = {initInterface, nullptr, nullptr};
    g_type_add_interface_static(type, NAUTILUS_TYPE_FILE_INFO, &iface);
  }
  return type;
}

TestFileInfo* newTestFileInfo(const std::string& path, bool directory) {
  auto* f = static_cast<TestFileInfo*>(g_object_new(testFileInfoType(), nullptr));
  f->location = g_file_new_for_path(path.c_str());
  f->directory = directory;
  f->emblems = new std::vector<std::string>;
  f->invalidated = 0;
  return f;
}

}  // namespace varnelo::shellext::test
