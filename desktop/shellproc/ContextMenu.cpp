// The context menu object: one item at most. A single file or folder inside
// the sync folder gets "share link" (the application's -extlink); files and
// folders outside it get "send to" (-sendto with each path in double
// quotes). Nothing while the application is not running.
#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "Launcher.h"
#include "Objects.h"
#include "Texts.h"

namespace varnelo::shellproc {

namespace {

const VarneloGuid kIidUnknown = VARNELO_IID_IUnknown;
const VarneloGuid kIidMenu = VARNELO_IID_IContextMenu;
const VarneloGuid kIidInit = VARNELO_IID_IShellExtInit;
constexpr const char* kShareVerb = "varnelo.sharelink";
constexpr const char* kSendVerb = "varnelo.sendto";

enum class Command { None, ShareLink, SendTo };

struct Menu {
  IContextMenu menu;  // first: the object's address is this interface's
  IShellExtInit init;
  std::atomic<uint32_t> refs;
  StateReader* reader;
  std::vector<std::string> paths;  // what the menu is for
  bool background = false;
  Command command = Command::None;  // decided by QueryContextMenu
};

Menu* fromMenu(IContextMenu* i) {
  return reinterpret_cast<Menu*>(i);
}
Menu* fromInit(IShellExtInit* i) {
  return reinterpret_cast<Menu*>(reinterpret_cast<char*>(i) - offsetof(Menu, init));
}

// A normalised path is inside a root when it lies below it (the root
// itself has no remote path to share).
bool inside(const std::string& normalised, const std::vector<std::string>& roots) {
  for (const std::string& root : roots)
    if (normalised.size() > root.size() && normalised.compare(0, root.size(), root) == 0)
      return true;
  return false;
}

bool touchesRoot(const std::string& normalised, const std::vector<std::string>& roots) {
  for (const std::string& root : roots)
    if (normalised.compare(0, root.size(), root) == 0 ||
        root.compare(0, normalised.size(), normalised) == 0)
      return true;
  return false;
}

Command decide(Menu& m) {
  if (m.paths.empty() || !m.reader->running()) return Command::None;
  const std::vector<std::string> roots = m.reader->roots();
  if (roots.empty()) return Command::None;
  // Folder-ness only matters for the comparison with the roots, which end
  // in "/": a trailing "/" on every path compares folders and files alike.
  if (m.paths.size() == 1 && inside(StateReader::normalise(m.paths[0], true), roots))
    return Command::ShareLink;
  if (m.background) return Command::None;
  for (const std::string& p : m.paths) {
    // A path holding a double quote cannot be passed in quotes; a folder
    // holding the sync folder cannot be sent into it.
    if (p.find('"') != std::string::npos) return Command::None;
    if (touchesRoot(StateReader::normalise(p, true), roots)) return Command::None;
  }
  return Command::SendTo;
}

VarneloResult run(Menu& m) {
  std::vector<std::string> args;
  if (m.command == Command::ShareLink) {
    args = {"-extlink", m.paths[0]};
  } else if (m.command == Command::SendTo) {
    args.push_back("-sendto");
    for (const std::string& p : m.paths) args.push_back("\"" + p + "\"");
  } else {
    return VARNELO_E_FAIL;
  }
  return startApplication(args) ? VARNELO_S_OK : VARNELO_E_FAIL;
}

VarneloResult query(Menu* m, const VarneloGuid* iid, void** out) {
  if (!out) return VARNELO_E_POINTER;
  *out = nullptr;
  if (same(iid, kIidUnknown) || same(iid, kIidMenu))
    *out = &m->menu;
  else if (same(iid, kIidInit))
    *out = &m->init;
  else
    return VARNELO_E_NOINTERFACE;
  ++m->refs;
  return VARNELO_S_OK;
}

uint32_t release(Menu* m) {
  const uint32_t left = --m->refs;
  if (left == 0) delete m;
  return left;
}

const IContextMenuVtbl kMenuVtbl = {
    [](IContextMenu* i, const VarneloGuid* iid, void** out) {
      return query(fromMenu(i), iid, out);
    },
    [](IContextMenu* i) -> uint32_t { return ++fromMenu(i)->refs; },
    [](IContextMenu* i) { return release(fromMenu(i)); },
    [](IContextMenu* i, VarneloMenu* menu, uint32_t index, uint32_t first, uint32_t last,
       uint32_t) -> VarneloResult {
      Menu& m = *fromMenu(i);
      m.command = decide(m);
      if (!menu || m.command == Command::None || first > last) return VARNELO_MAKE_MENU_RESULT(0);
      const std::string label =
          text(m.command == Command::ShareLink ? Text::ShareLink : Text::SendTo);
      if (!menu->insertItem(menu, index, first, label.c_str())) return VARNELO_MAKE_MENU_RESULT(0);
      return VARNELO_MAKE_MENU_RESULT(1);
    },
    [](IContextMenu* i, const VarneloInvokeCommandInfo* info) -> VarneloResult {
      if (!info) return VARNELO_E_INVALIDARG;
      Menu& m = *fromMenu(i);
      const char* ours = m.command == Command::ShareLink ? kShareVerb : kSendVerb;
      const bool mine = info->verb ? std::strcmp(info->verb, ours) == 0 : info->commandOffset == 0;
      if (!mine || m.command == Command::None) return VARNELO_E_INVALIDARG;
      return run(m);
    },
    [](IContextMenu* i, uintptr_t idCmd, uint32_t type, uint32_t*, char* name,
       uint32_t size) -> VarneloResult {
      Menu& m = *fromMenu(i);
      if (idCmd != 0 || m.command == Command::None) return VARNELO_E_INVALIDARG;
      if (type == VARNELO_GCS_VALIDATE) return VARNELO_S_OK;
      if (!name || size == 0) return VARNELO_E_POINTER;
      const bool share = m.command == Command::ShareLink;
      std::string answer;
      if (type == VARNELO_GCS_VERB)
        answer = share ? kShareVerb : kSendVerb;
      else if (type == VARNELO_GCS_HELPTEXT)
        answer = text(share ? Text::ShareLinkHelp : Text::SendToHelp);
      else
        return VARNELO_E_INVALIDARG;
      // Truncated to the buffer, never in the middle of a character.
      size_t n = std::min<size_t>(answer.size(), size - 1);
      while (n > 0 && n < answer.size() && (static_cast<unsigned char>(answer[n]) & 0xC0) == 0x80)
        --n;
      std::memcpy(name, answer.data(), n);
      name[n] = '\0';
      return VARNELO_S_OK;
    },
};

const IShellExtInitVtbl kInitVtbl = {
    [](IShellExtInit* i, const VarneloGuid* iid, void** out) {
      return query(fromInit(i), iid, out);
    },
    [](IShellExtInit* i) -> uint32_t { return ++fromInit(i)->refs; },
    [](IShellExtInit* i) { return release(fromInit(i)); },
    [](IShellExtInit* i, const char* folder, const VarneloDataObject* data,
       void*) -> VarneloResult {
      Menu& m = *fromInit(i);
      m.paths.clear();
      m.command = Command::None;
      m.background = folder != nullptr;
      if (folder) {
        m.paths.emplace_back(folder);
      } else if (data && data->paths) {
        for (size_t k = 0; k < data->count; ++k)
          if (data->paths[k]) m.paths.emplace_back(data->paths[k]);
      }
      return m.paths.empty() ? VARNELO_E_INVALIDARG : VARNELO_S_OK;
    },
};

}  // namespace

IContextMenu* newContextMenu(StateReader& reader) {
  auto* m =
      new (std::nothrow) Menu{{&kMenuVtbl}, {&kInitVtbl}, {1}, &reader, {}, false, Command::None};
  return m ? &m->menu : nullptr;
}

}  // namespace varnelo::shellproc
