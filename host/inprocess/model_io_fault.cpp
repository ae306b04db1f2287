// Read and write failures of the project database for tests: a layer under
// SQLite that passes every file call to the system's own layer and fails the
// n-th read, or the n-th write, sync or truncation (of the database and of
// its journal alike), as a failing or full disk would. Databases are opened
// through it only once a test has asked for a failure.
#include <sqlite3.h>

#include "host/inprocess/model.h"
#include "host/inprocess/model_store.h"

namespace pcs::host::model {
namespace {

struct FaultFile {
  sqlite3_file base;
  sqlite3_file *real;  // the system layer's file, allocated just after this one
};

// Calls left before the one that fails (0 = none armed), and how many failed.
struct Fault {
  long countdown = 0;
  long injected = 0;
  bool full = false;  // writes fail as on a full disk

  bool fires() {
    if (countdown <= 0 || --countdown > 0) return false;
    ++injected;
    return true;
  }
  void arm(long nth, bool disk_full) {
    countdown = nth > 0 ? nth : 0;
    injected = 0;
    full = disk_full;
  }
};

Fault reads, writes;
sqlite3_vfs *system_vfs = nullptr;
sqlite3_vfs fault_vfs;
sqlite3_io_methods fault_methods;

sqlite3_file *real(sqlite3_file *f) { return reinterpret_cast<FaultFile *>(f)->real; }
const sqlite3_io_methods *methods(sqlite3_file *f) { return real(f)->pMethods; }

int fault_read(sqlite3_file *f, void *out, int amount, sqlite3_int64 offset) {
  if (reads.fires()) return SQLITE_IOERR_READ;
  return methods(f)->xRead(real(f), out, amount, offset);
}

int fault_write(sqlite3_file *f, const void *bytes, int amount, sqlite3_int64 offset) {
  if (writes.fires()) return writes.full ? SQLITE_FULL : SQLITE_IOERR_WRITE;
  return methods(f)->xWrite(real(f), bytes, amount, offset);
}

int fault_sync(sqlite3_file *f, int flags) {
  if (writes.fires()) return SQLITE_IOERR_FSYNC;
  return methods(f)->xSync(real(f), flags);
}

int fault_truncate(sqlite3_file *f, sqlite3_int64 size) {
  if (writes.fires()) return SQLITE_IOERR_TRUNCATE;
  return methods(f)->xTruncate(real(f), size);
}

int fault_close(sqlite3_file *f) { return methods(f) ? methods(f)->xClose(real(f)) : SQLITE_OK; }

// The file methods; those not named above only pass through.
void fill_methods() {
  sqlite3_io_methods &m = fault_methods;
  m.iVersion = 3;
  m.xClose = fault_close;
  m.xRead = fault_read;
  m.xWrite = fault_write;
  m.xTruncate = fault_truncate;
  m.xSync = fault_sync;
  m.xFileSize = [](sqlite3_file *f, sqlite3_int64 *size) { return methods(f)->xFileSize(real(f), size); };
  m.xLock = [](sqlite3_file *f, int lock) { return methods(f)->xLock(real(f), lock); };
  m.xUnlock = [](sqlite3_file *f, int lock) { return methods(f)->xUnlock(real(f), lock); };
  m.xCheckReservedLock = [](sqlite3_file *f, int *out) {
    return methods(f)->xCheckReservedLock(real(f), out);
  };
  m.xFileControl = [](sqlite3_file *f, int op, void *arg) {
    return methods(f)->xFileControl(real(f), op, arg);
  };
  m.xSectorSize = [](sqlite3_file *f) { return methods(f)->xSectorSize(real(f)); };
  m.xDeviceCharacteristics = [](sqlite3_file *f) { return methods(f)->xDeviceCharacteristics(real(f)); };
  m.xShmMap = [](sqlite3_file *f, int page, int size, int extend, void volatile **out) {
    return methods(f)->xShmMap(real(f), page, size, extend, out);
  };
  m.xShmLock = [](sqlite3_file *f, int offset, int n, int flags) {
    return methods(f)->xShmLock(real(f), offset, n, flags);
  };
  m.xShmBarrier = [](sqlite3_file *f) { methods(f)->xShmBarrier(real(f)); };
  m.xShmUnmap = [](sqlite3_file *f, int remove) { return methods(f)->xShmUnmap(real(f), remove); };
  // Memory-mapped reads would pass the counter by: SQLite falls back to
  // xRead when a fetch gives nothing.
  m.xFetch = [](sqlite3_file *, sqlite3_int64, int, void **out) {
    *out = nullptr;
    return SQLITE_OK;
  };
  m.xUnfetch = [](sqlite3_file *, sqlite3_int64, void *) { return SQLITE_OK; };
}

int fault_open(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *file, int flags, int *out_flags) {
  auto *f = reinterpret_cast<FaultFile *>(file);
  f->real = reinterpret_cast<sqlite3_file *>(f + 1);
  f->base.pMethods = nullptr;
  int rc = system_vfs->xOpen(system_vfs, name, f->real, flags, out_flags);
  // SQLite calls xClose only when pMethods is set, also after a failed open.
  if (f->real->pMethods) f->base.pMethods = &fault_methods;
  return rc;
}

void register_fault_vfs() {
  if (system_vfs) return;
  system_vfs = sqlite3_vfs_find(nullptr);
  fill_methods();
  fault_vfs = *system_vfs;
  fault_vfs.zName = "pcs-io-fault";
  fault_vfs.szOsFile = static_cast<int>(sizeof(FaultFile)) + system_vfs->szOsFile;
  fault_vfs.xOpen = fault_open;
  sqlite3_vfs_register(&fault_vfs, 0);
}

}  // namespace

void fail_database_read(long nth) {
  register_fault_vfs();
  reads.arm(nth, false);
}

long database_reads_injected() { return reads.injected; }

void fail_database_write(long nth, bool full) {
  register_fault_vfs();
  writes.arm(nth, full);
}

long database_writes_injected() { return writes.injected; }

namespace detail {

const char *database_vfs() { return system_vfs ? fault_vfs.zName : nullptr; }

}  // namespace detail
}  // namespace pcs::host::model
