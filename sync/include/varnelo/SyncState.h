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
  /* Entries whose deletion is held back (-123) because a pass would delete
   * too much at once; varnelo_confirm_deletions releases them. */
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
#endif

#endif /* VARNELO_SYNC_STATE_H */
