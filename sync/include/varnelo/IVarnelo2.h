// IVarnelo2: the successor interface of the same engine (varnelo_new2), with
// the volume list and the excluded server folders. Both interfaces reach one
// engine object and act alike; the same calling order and threading rules
// as IVarnelo apply.
#pragma once

#include <cstdint>

#include "varnelo/IExcludeDirs.h"
#include "varnelo/IVarnelo.h"
#include "varnelo/IVolumes.h"

namespace varnelo {

class IVarnelo2 {
 public:
  virtual void release() = 0;
  virtual int32_t loginWithSavedToken(const varnelo_token_pair* consumer) = 0;
  virtual int32_t login(const char* user, const varnelo_token_pair* consumer,
                        const varnelo_token_pair* access) = 0;
  virtual const varnelo_credentials* getSession() = 0;
  virtual IChunkCache* getChunkCache() = 0;
  virtual int32_t mountVolume(const char* serverPath, const char* localPath) = 0;
  virtual int32_t startSync(bool resyncAll) = 0;
  virtual int32_t stopSync(bool force) = 0;
  virtual int32_t pauseSync() = 0;
  virtual int32_t resumeSync(bool recheckAll) = 0;
  // 200 and a new volume list; -104 (out null) when nothing is mounted.
  virtual int32_t getVolumes(IVolumes** out) = 0;
  virtual int32_t unlinkAccount() = 0;
  // Replaces the excluded server folders ("home/Photos"); null entries are
  // skipped. The journal forgets what is now excluded (local files stay).
  virtual int32_t setExcludeDirs(const char* const* dirs, uint32_t count) = 0;
  // The stored list's read code (404 when never set); out null when empty.
  virtual int32_t getExcludeDirs(IExcludeDirs** out) = 0;
  virtual int32_t setSyncMode(int32_t mode) = 0;
  virtual int32_t getSyncMode() = 0;
  virtual int32_t setEventSink(IVarneloEvent* sink) = 0;
  virtual int32_t getStatus(IVarneloStatus** out) = 0;

 protected:
  ~IVarnelo2() = default;
};

}  // namespace varnelo

VARNELO_EXTERN_C VARNELO_API int32_t varnelo_new2(const char* dataFolder, varnelo::IVarnelo2** out);
