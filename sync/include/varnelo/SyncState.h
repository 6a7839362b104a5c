/* Whether a running engine has caught up: for front ends without an event
 * loop (the command-line client) and for tests. Any thread may ask while the
 * engine lives.
 *
 *   varnelo_sync_state state;
 *   if (varnelo_get_sync_state(engine, &state) == 200 && state.converged) ...
 */
#ifndef VARNELO_SYNC_STATE_H
#define VARNELO_SYNC_STATE_H

#include <stdint.h>

#include "varnelo/export.h"

#ifdef __cplusplus
namespace varnelo {
class IVarnelo;
class IVarnelo2;
}  // namespace varnelo
#endif

typedef struct varnelo_sync_state {
  int32_t running; /* a sync thread runs */
  int32_t paused;
  uint64_t localScans;   /* local scans completed in this run */
  uint64_t remotePasses; /* remote passes completed in this run */
  uint64_t queued;       /* paths waiting in the updating set */
  uint64_t retrying;     /* paths waiting in the retry set */
  uint64_t inFlight;     /* uploads and downloads in progress */
  /* 1 when running and not paused, at least one local scan and one remote
   * pass (when the mode fetches remote changes) have completed, the idle
   * loop is between passes, and nothing is queued, in flight or waiting for
   * a retry. Changes the monitor has not yet delivered are not counted: wait
   * for a pass that started after the change (remotePasses or localScans
   * growing) before trusting it. */
  int32_t converged;
} varnelo_sync_state;

/* What a running engine holds back until something changes or the user
 * decides (all 0 when no sync runs). */
typedef struct varnelo_sync_holds {
  /* 1 while the sync folder is missing (-120) or is not the one synced
   * before (-122: an empty mount point, a replaced folder, a missing
   * marker). Nothing is synced or deleted meanwhile; the engine resumes by
   * itself when the folder is back, and startSync(true) adopts the folder as
   * it is now (a full comparison that deletes nothing). */
  int32_t folderUnavailable;
  /* Synced files whose deletion is held back (-123) because a pass would
   * delete too much at once; varnelo_list_held_deletions names them,
   * varnelo_confirm_deletions releases them and varnelo_restore_deletions
   * brings them back. */
  uint64_t heldDeletions;
  /* 1 when deletions are held and everything else is in step (a front end
   * without an event loop may stop and ask the user now). */
  int32_t restInStep;
} varnelo_sync_holds;

#ifdef __cplusplus
/* 200 and the state; 499 for null arguments. */
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_get_sync_state(varnelo::IVarnelo* engine,
                                                            varnelo_sync_state* out);
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_get_sync_state2(varnelo::IVarnelo2* engine,
                                                             varnelo_sync_state* out);

/* 200 and what is held; 499 for null arguments. */
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_get_sync_holds(varnelo::IVarnelo* engine,
                                                            varnelo_sync_holds* out);
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_get_sync_holds2(varnelo::IVarnelo2* engine,
                                                             varnelo_sync_holds* out);

/* The user's confirmation of held deletions (-123): everything held at this
 * moment is carried out at the next pass (a local scan and a remote pass
 * start at once); deletions found later are weighed anew. 200; 404 when no
 * sync runs; 499 for null. Settings ("deleteHoldPercent" 30,
 * "deleteHoldFiles" 20, "deleteHoldFolderFiles" 1000 in config.db) decide
 * what is held. */
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_confirm_deletions(varnelo::IVarnelo* engine);
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_confirm_deletions2(varnelo::IVarnelo2* engine);

/* The user's other answer, "Keep": everything held at this moment is
 * brought back instead of deleted. What was deleted here is downloaded again
 * and what was deleted on the service is uploaded again (the engine forgets
 * its record of each entry, so both sides are compared as on a first sync,
 * which deletes nothing; a file written again meanwhile on either side is
 * never overwritten: it stays, or is kept as a conflicted copy). The entries
 * leave the held list at once, and the next pass brings them back (a paused
 * engine: once resumed); until then the engine is not converged. 200; 404
 * when no sync runs; 499 for null. */
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_restore_deletions(varnelo::IVarnelo* engine);
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_restore_deletions2(varnelo::IVarnelo2* engine);
#endif

/* The held deletions one by one, for a front end that shows them before the
 * user confirms or keeps them:
 *
 *   varnelo_held_list* list = NULL;
 *   if (varnelo_list_held_deletions2(engine, &list) == 200) {
 *     varnelo_held_deletion d;
 *     for (int32_t i = 0; i < varnelo_held_list_size(list); ++i)
 *       if (varnelo_held_list_at(list, i, &d) == 200) show(d.path, d.direction);
 *     varnelo_destroy_held_list(list);
 *   }
 *
 * The list is a copy taken when it is made; any thread may use it, and it
 * stays valid after the sync stops, until varnelo_destroy_held_list. */
typedef enum varnelo_held_direction {
  /* Gone from the sync folder: the pass would delete it on the service. */
  VARNELO_HELD_DELETED_HERE = 1,
  /* Gone from the service: the pass would delete it from the sync folder. */
  VARNELO_HELD_DELETED_ON_SERVICE = 2
} varnelo_held_direction;

typedef struct varnelo_held_deletion {
  /* Below the sync folder, "/" separated, UTF-8, as this computer spells it;
   * an entry that was gone before the engine started is known only by the
   * lower-cased name its record keeps. A folder counts as one entry. Valid
   * while the list lives. */
  const char* path;
  int32_t direction; /* a varnelo_held_direction */
  uint64_t files;    /* synced files it covers: 1 for a file, all below a folder */
} varnelo_held_deletion;

typedef struct varnelo_held_list varnelo_held_list;

#ifdef __cplusplus
/* 200 and a new list (possibly empty: nothing is held) in *out; 404 when no
 * sync runs and -4 when the list cannot be allocated (*out NULL in both);
 * 499 for null arguments. Entries deleted here come first. */
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_list_held_deletions(varnelo::IVarnelo* engine,
                                                                 varnelo_held_list** out);
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_list_held_deletions2(varnelo::IVarnelo2* engine,
                                                                  varnelo_held_list** out);
#endif
/* Entries in the list (0 for NULL). */
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_held_list_size(const varnelo_held_list* list);
/* Clears *out, then 200 and the entry; 404 for an index outside the list;
 * 499 for null arguments. */
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_held_list_at(const varnelo_held_list* list,
                                                          int32_t index,
                                                          varnelo_held_deletion* out);
/* Frees the list; accepts NULL. 200. */
VARNELO_EXTERN_C VARNELO_API int32_t varnelo_destroy_held_list(varnelo_held_list* list);

#endif /* VARNELO_SYNC_STATE_H */
