/* Per-process counts of SQLite statements stepped and of file syncs, for
 * bench/scale, which builds this file, preloads it (LD_PRELOAD) into the
 * client and the service and reads the counts while they run: each process
 * keeps them in a small shared file, $VARNELO_BENCH_COUNTS.<pid>, of four
 * 64-bit counters (sqlite3_step, sqlite3_prepare_v2/v3, fsync, fdatasync).
 * Not part of any product. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

enum { kSteps, kPrepares, kFsyncs, kFdatasyncs, kCounters };

static uint64_t fallback[kCounters];
static uint64_t* counts = fallback;

__attribute__((constructor)) static void open_counts(void) {
  const char* prefix = getenv("VARNELO_BENCH_COUNTS");
  char path[4096];
  if (prefix == NULL ||
      snprintf(path, sizeof path, "%s.%d", prefix, (int)getpid()) >= (int)sizeof path)
    return;
  int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (ftruncate(fd, sizeof fallback) == 0) {
    void* p = mmap(NULL, sizeof fallback, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (p != MAP_FAILED) counts = p;
  }
  close(fd);
}

#define BUMP(i) __atomic_fetch_add(&counts[i], 1, __ATOMIC_RELAXED)
#define REAL(type, name, args)    \
  static type(*real) args = NULL; \
  if (real == NULL) real = (type(*) args)dlsym(RTLD_NEXT, name)

struct sqlite3;
struct sqlite3_stmt;

int sqlite3_step(struct sqlite3_stmt* statement) {
  REAL(int, "sqlite3_step", (struct sqlite3_stmt*));
  BUMP(kSteps);
  return real(statement);
}

int sqlite3_prepare_v2(struct sqlite3* db, const char* sql, int bytes, struct sqlite3_stmt** out,
                       const char** tail) {
  REAL(int, "sqlite3_prepare_v2",
       (struct sqlite3*, const char*, int, struct sqlite3_stmt**, const char**));
  BUMP(kPrepares);
  return real(db, sql, bytes, out, tail);
}

int sqlite3_prepare_v3(struct sqlite3* db, const char* sql, int bytes, unsigned flags,
                       struct sqlite3_stmt** out, const char** tail) {
  REAL(int, "sqlite3_prepare_v3",
       (struct sqlite3*, const char*, int, unsigned, struct sqlite3_stmt**, const char**));
  BUMP(kPrepares);
  return real(db, sql, bytes, flags, out, tail);
}

int fsync(int fd) {
  REAL(int, "fsync", (int));
  BUMP(kFsyncs);
  return real(fd);
}

int fdatasync(int fd) {
  REAL(int, "fdatasync", (int));
  BUMP(kFdatasyncs);
  return real(fd);
}
