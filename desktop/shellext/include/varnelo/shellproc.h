/* The contract between the file-manager extension (libvarneloShellExt.so)
 * and an implementation library (libvarneloShellProc.so) that decides which
 * emblems and which menu items files get.
 *
 * The extension looks for the implementation beside itself, loads it with
 * dlopen and calls its one export, CreateInstance, with a class id (one of
 * the six below), an interface id and the address of an object slot:
 *
 *   VARNELO_SHELLPROC_EXPORT VarneloResult CreateInstance(const VarneloGuid* clsid,
 *                                                         const VarneloGuid* iid,
 *                                                         void** object);
 *
 * Only the slot is looked at afterwards: non-null means a usable object of
 * the interface asked for, whose one reference now belongs to the
 * extension (released through the object's own Release). The interface id is
 * VARNELO_IID_IShellIconOverlayIdentifier for the five overlay classes and
 * VARNELO_IID_IContextMenu for the context menu class; a context menu object
 * must also answer VARNELO_IID_IShellExtInit through its QueryInterface.
 *
 * Objects are tables of functions whose order never changes: QueryInterface,
 * AddRef, Release first, then the interface's own operations. Texts are
 * UTF-8 and NUL-terminated; paths are absolute local paths.
 *
 * Threads: the extension calls objects from the file manager's main thread.
 * It drops every object (Release) before it unloads the library, and never
 * while one of the object's calls is running. The implementation must
 * answer quickly: the file manager waits for every call.
 */
#ifndef VARNELO_SHELLPROC_H
#define VARNELO_SHELLPROC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VARNELO_SHELLPROC_EXPORT __attribute__((visibility("default")))

/* Result codes, with the values of the system this contract comes from. */
typedef int32_t VarneloResult;
#define VARNELO_S_OK ((VarneloResult)0)
#define VARNELO_S_FALSE ((VarneloResult)1)
#define VARNELO_E_NOTIMPL ((VarneloResult)0x80004001)
#define VARNELO_E_NOINTERFACE ((VarneloResult)0x80004002)
#define VARNELO_E_POINTER ((VarneloResult)0x80004003)
#define VARNELO_E_FAIL ((VarneloResult)0x80004005)
#define VARNELO_E_INVALIDARG ((VarneloResult)0x80070057)
#define VARNELO_E_OUTOFMEMORY ((VarneloResult)0x8007000E)
#define VARNELO_CLASS_E_NOAGGREGATION ((VarneloResult)0x80040110)
#define VARNELO_SUCCEEDED(r) ((VarneloResult)(r) >= 0)
/* QueryContextMenu's success value: how many command ids were used. */
#define VARNELO_MAKE_MENU_RESULT(count) ((VarneloResult)((count)&0xFFFF))

typedef struct VarneloGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
} VarneloGuid;

/* Class ids, all served by the extension's one factory. */
/* {6B68B671-ECFB-430a-9040-CE22CC6F3926} overlay "!VarneloShellExtEditing" */
#define VARNELO_CLSID_OVERLAY_EDITING                \
  {                                                  \
    0x6B68B671, 0xECFB, 0x430a, {                    \
      0x90, 0x40, 0xCE, 0x22, 0xCC, 0x6F, 0x39, 0x26 \
    }                                                \
  }
/* {6B68B672-...} overlay "!VarneloShellExtNormal" */
#define VARNELO_CLSID_OVERLAY_NORMAL                 \
  {                                                  \
    0x6B68B672, 0xECFB, 0x430a, {                    \
      0x90, 0x40, 0xCE, 0x22, 0xCC, 0x6F, 0x39, 0x26 \
    }                                                \
  }
/* {6B68B673-...} overlay "!VarneloShellExtSyncing" */
#define VARNELO_CLSID_OVERLAY_SYNCING                \
  {                                                  \
    0x6B68B673, 0xECFB, 0x430a, {                    \
      0x90, 0x40, 0xCE, 0x22, 0xCC, 0x6F, 0x39, 0x26 \
    }                                                \
  }
/* {6B68B674-...} overlay "!VarneloShellExtIgnored" */
#define VARNELO_CLSID_OVERLAY_IGNORED                \
  {                                                  \
    0x6B68B674, 0xECFB, 0x430a, {                    \
      0x90, 0x40, 0xCE, 0x22, 0xCC, 0x6F, 0x39, 0x26 \
    }                                                \
  }
/* {6B68B675-...} overlay "!VarneloShellExtConflicted" */
#define VARNELO_CLSID_OVERLAY_CONFLICTED             \
  {                                                  \
    0x6B68B675, 0xECFB, 0x430a, {                    \
      0x90, 0x40, 0xCE, 0x22, 0xCC, 0x6F, 0x39, 0x26 \
    }                                                \
  }
/* {237ACFEB-8F60-473b-9D49-9D421B1FB6B9} context menu (handler "Varnelo") */
#define VARNELO_CLSID_CONTEXT_MENU                   \
  {                                                  \
    0x237ACFEB, 0x8F60, 0x473b, {                    \
      0x9D, 0x49, 0x9D, 0x42, 0x1B, 0x1F, 0xB6, 0xB9 \
    }                                                \
  }

/* Interface ids. */
#define VARNELO_IID_IUnknown                         \
  {                                                  \
    0x00000000, 0x0000, 0x0000, {                    \
      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 \
    }                                                \
  }
#define VARNELO_IID_IClassFactory                    \
  {                                                  \
    0x00000001, 0x0000, 0x0000, {                    \
      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 \
    }                                                \
  }
#define VARNELO_IID_IShellIconOverlayIdentifier      \
  {                                                  \
    0x0C6C4200, 0xC589, 0x11D0, {                    \
      0x99, 0x9A, 0x00, 0xC0, 0x4F, 0xD6, 0x55, 0xE1 \
    }                                                \
  }
#define VARNELO_IID_IContextMenu                     \
  {                                                  \
    0x000214E4, 0x0000, 0x0000, {                    \
      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 \
    }                                                \
  }
#define VARNELO_IID_IShellExtInit                    \
  {                                                  \
    0x000214E8, 0x0000, 0x0000, {                    \
      0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 \
    }                                                \
  }

/* ---- IUnknown: the first three slots of every object ---- */
typedef struct IUnknown IUnknown;
typedef struct IUnknownVtbl {
  VarneloResult (*QueryInterface)(IUnknown* self, const VarneloGuid* iid, void** object);
  uint32_t (*AddRef)(IUnknown* self);
  uint32_t (*Release)(IUnknown* self);
} IUnknownVtbl;
struct IUnknown {
  const IUnknownVtbl* lpVtbl;
};

/* ---- IShellIconOverlayIdentifier: one emblem ---- */
/* GetOverlayInfo flags. */
#define VARNELO_ISIOI_ICONFILE 0x1u
#define VARNELO_ISIOI_ICONINDEX 0x2u

typedef struct IShellIconOverlayIdentifier IShellIconOverlayIdentifier;
typedef struct IShellIconOverlayIdentifierVtbl {
  VarneloResult (*QueryInterface)(IShellIconOverlayIdentifier* self, const VarneloGuid* iid,
                                  void** object);
  uint32_t (*AddRef)(IShellIconOverlayIdentifier* self);
  uint32_t (*Release)(IShellIconOverlayIdentifier* self);
  /* S_OK when the file at `path` shows this emblem, S_FALSE when not.
   * `attributes` is 0x10 for a folder, else 0. */
  VarneloResult (*IsMemberOf)(IShellIconOverlayIdentifier* self, const char* path,
                              uint32_t attributes);
  /* `iconFile` (`size` bytes) arrives holding the extension's own path; an
   * implementation that leaves it so gets the extension's own emblem for
   * its class. Otherwise it writes an emblem name there (a name, not a
   * path: the file manager shows the theme icon "emblem-" + name) and sets
   * VARNELO_ISIOI_ICONFILE. */
  VarneloResult (*GetOverlayInfo)(IShellIconOverlayIdentifier* self, char* iconFile, int32_t size,
                                  int32_t* index, uint32_t* flags);
  /* 0 (shown first) to 100 (shown last). */
  VarneloResult (*GetPriority)(IShellIconOverlayIdentifier* self, int32_t* priority);
} IShellIconOverlayIdentifierVtbl;
struct IShellIconOverlayIdentifier {
  const IShellIconOverlayIdentifierVtbl* lpVtbl;
};

/* ---- IShellExtInit: what the menu is for ---- */
/* The selection a file menu is opened on. */
typedef struct VarneloDataObject {
  size_t count;
  const char* const* paths;
} VarneloDataObject;

typedef struct IShellExtInit IShellExtInit;
typedef struct IShellExtInitVtbl {
  VarneloResult (*QueryInterface)(IShellExtInit* self, const VarneloGuid* iid, void** object);
  uint32_t (*AddRef)(IShellExtInit* self);
  uint32_t (*Release)(IShellExtInit* self);
  /* A menu on selected files: `folder` null, `data` the selection. A menu on
   * a folder's background: `folder` that folder, `data` null. `progIdKey`
   * is always null here. */
  VarneloResult (*Initialize)(IShellExtInit* self, const char* folder,
                              const VarneloDataObject* data, void* progIdKey);
} IShellExtInitVtbl;
struct IShellExtInit {
  const IShellExtInitVtbl* lpVtbl;
};

/* ---- IContextMenu: the items and their commands ---- */
/* The menu QueryContextMenu fills. insertItem places `label` at `position`
 * with the command id `commandId` (idCmdFirst + offset); 0 when it failed. */
typedef struct VarneloMenu VarneloMenu;
struct VarneloMenu {
  int (*insertItem)(VarneloMenu* menu, uint32_t position, uint32_t commandId, const char* label);
};

/* InvokeCommand's argument. `verb` null means the command is the offset
 * `commandOffset` from idCmdFirst; otherwise it is the canonical verb. */
typedef struct VarneloInvokeCommandInfo {
  uint32_t size; /* sizeof(VarneloInvokeCommandInfo) */
  uint32_t flags;
  const char* verb;
  uint32_t commandOffset;
  const char* directory;
} VarneloInvokeCommandInfo;

/* GetCommandString types. */
#define VARNELO_GCS_VERB 0x0u
#define VARNELO_GCS_HELPTEXT 0x1u
#define VARNELO_GCS_VALIDATE 0x2u

typedef struct IContextMenu IContextMenu;
typedef struct IContextMenuVtbl {
  VarneloResult (*QueryInterface)(IContextMenu* self, const VarneloGuid* iid, void** object);
  uint32_t (*AddRef)(IContextMenu* self);
  uint32_t (*Release)(IContextMenu* self);
  /* Adds items with ids idCmdFirst..idCmdLast; returns
   * VARNELO_MAKE_MENU_RESULT(highest offset used + 1). */
  VarneloResult (*QueryContextMenu)(IContextMenu* self, VarneloMenu* menu, uint32_t indexMenu,
                                    uint32_t idCmdFirst, uint32_t idCmdLast, uint32_t flags);
  VarneloResult (*InvokeCommand)(IContextMenu* self, const VarneloInvokeCommandInfo* info);
  /* Writes the verb or the help text of the command at offset `idCmd` into
   * `name` (`size` bytes, NUL-terminated). */
  VarneloResult (*GetCommandString)(IContextMenu* self, uintptr_t idCmd, uint32_t type,
                                    uint32_t* reserved, char* name, uint32_t size);
} IContextMenuVtbl;
struct IContextMenu {
  const IContextMenuVtbl* lpVtbl;
};

/* ---- The one export of an implementation library ---- */
typedef VarneloResult (*VarneloCreateInstanceFn)(const VarneloGuid* clsid, const VarneloGuid* iid,
                                                 void** object);
#define VARNELO_CREATE_INSTANCE_NAME "CreateInstance"

/* ---- The replacement pipe ----
 * Each process that holds the extension serves one of the local message
 * pipes named VARNELO_SHELLEXT_PIPE_FORMAT with 1..99 for %d (same user
 * only). A message is one command byte, optionally followed by a path, at
 * most 2,048 bytes with a terminating NUL:
 *   "0" PATH  copy PATH over the implementation library and load it again;
 *             the other processes are told "1"
 *   "1"       load the implementation library if it is not loaded
 *   "2"       stop serving the pipe (sent by the process itself) */
#define VARNELO_SHELLEXT_PIPE_FORMAT "{52AE308F-1E38-4870-9D78-D5714C47A7D8}-%d"
#define VARNELO_SHELLEXT_PIPE_MAX_MESSAGE 2048

#ifdef __cplusplus
}
#endif

#endif /* VARNELO_SHELLPROC_H */
