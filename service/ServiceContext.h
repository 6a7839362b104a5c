// Everything the request handlers share: the stores, the verifier, the
// capability keys, fault plan, counters and settings of one running service.
// Built once by the Service before the listeners start; every member is
// itself safe for concurrent use.
#pragma once

#include <memory>
#include <string>

#include "Accounts.h"
#include "Capabilities.h"
#include "ChangeFeed.h"
#include "ChunkStore.h"
#include "Counters.h"
#include "Faults.h"
#include "OAuthVerifier.h"
#include "Store.h"
#include "Tokens.h"
#include "Tree.h"
#include "UpdateSigning.h"
#include "Updates.h"

namespace varnelo::service {

struct ServiceContext {
  ServiceContext(std::string dir, std::unique_ptr<Store> s, std::string capabilitySecret,
                 std::string admin)
      : dataDir(std::move(dir)),
        store(std::move(s)),
        accounts(*store),
        tokens(*store),
        tree(*store, chunks, &feed),
        verifier(tokens),
        capabilities(std::move(capabilitySecret)),
        updates(dataDir),
        adminToken(std::move(admin)) {}

  // The chunk size that /info announces and new uploads use.
  static constexpr int64_t kChunkSize = 4 * 1024 * 1024;
  static constexpr int64_t kSmallFileSize = 16384;
  // What one /2/put_batch may carry: files, and content bytes in all.
  static constexpr int64_t kPutBatchFiles = 256;
  static constexpr int64_t kPutBatchBytes = 4 * 1024 * 1024;

  std::string dataDir;
  std::unique_ptr<Store> store;
  ChunkStore chunks;
  ChangeFeed feed;  // before tree, which reports into it
  Accounts accounts;
  Tokens tokens;
  Tree tree;
  OAuthVerifier verifier;
  Capabilities capabilities;
  FaultInjector faults;
  Counters counters;
  Updates updates;
  UpdateSigning signing;  // loaded before the listeners start, read-only after
  // Where the manifest's installer URL points, per listener: the operator's
  // --update-base, else the listening address. Set before the listeners
  // start, read-only after; never taken from a request.
  std::string updateBaseHttp;
  std::string updateBaseHttps;
  // How long a served manifest stays valid.
  int64_t updateValiditySeconds = kUpdateValiditySeconds;
  static constexpr int64_t kUpdateValiditySeconds = 2 * 24 * 3600;
  std::string adminToken;
  // Whether /info offers change notifications and /notify answers; set
  // before the listeners start, read-only after.
  bool notify = true;
  // The largest file whose content a listing carries inline on request; 0:
  // none (--inline off). Set before the listeners start, read-only after.
  int64_t inlineLimit = kSmallFileSize;
  // The most inline content one listing reply carries.
  static constexpr int64_t kInlineBudget = 4 * 1024 * 1024;
  // Whether /info offers batched small puts and /2/put_batch answers; set
  // before the listeners start, read-only after.
  bool putBatch = true;
};

}  // namespace varnelo::service
