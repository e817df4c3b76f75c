#include "tempstore.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace devserver::tsql {

namespace {

std::atomic<std::int64_t> g_limit{0};
std::atomic<std::int64_t> g_inUse{0};
thread_local bool t_limitHit = false;

sqlite3_vfs g_vfs;
sqlite3_vfs* g_real = nullptr;

// A counted temporary file: this header, then the real file's own structure.
struct TempFile {
    sqlite3_file base;
    sqlite3_file* real;
    std::int64_t extent;  // bytes this file holds in g_inUse
};

sqlite3_file* realOf(sqlite3_file* f) {
    return reinterpret_cast<TempFile*>(f)->real;
}

// Claims room for the file to reach `size`; false (nothing claimed) when that would pass the bound.
bool grow(TempFile* t, std::int64_t size) {
    if (size <= t->extent) return true;
    const std::int64_t more = size - t->extent;
    const std::int64_t limit = g_limit.load();
    std::int64_t now = g_inUse.load();
    do {
        if (limit > 0 && now + more > limit) {
            t_limitHit = true;
            return false;
        }
    } while (!g_inUse.compare_exchange_weak(now, now + more));
    t->extent = size;
    return true;
}

void shrink(TempFile* t, std::int64_t size) {
    if (size >= t->extent) return;
    g_inUse -= t->extent - size;
    t->extent = size;
}

int tmpClose(sqlite3_file* f) {
    auto* t = reinterpret_cast<TempFile*>(f);
    shrink(t, 0);
    return t->real->pMethods ? t->real->pMethods->xClose(t->real) : SQLITE_OK;
}
int tmpRead(sqlite3_file* f, void* p, int n, sqlite3_int64 at) {
    return realOf(f)->pMethods->xRead(realOf(f), p, n, at);
}
int tmpWrite(sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
    auto* t = reinterpret_cast<TempFile*>(f);
    if (!grow(t, at + n)) return SQLITE_FULL;
    return t->real->pMethods->xWrite(t->real, p, n, at);
}
int tmpTruncate(sqlite3_file* f, sqlite3_int64 size) {
    auto* t = reinterpret_cast<TempFile*>(f);
    const int rc = t->real->pMethods->xTruncate(t->real, size);
    if (rc == SQLITE_OK) shrink(t, size);
    return rc;
}
int tmpSync(sqlite3_file* f, int flags) {
    return realOf(f)->pMethods->xSync(realOf(f), flags);
}
int tmpFileSize(sqlite3_file* f, sqlite3_int64* size) {
    return realOf(f)->pMethods->xFileSize(realOf(f), size);
}
int tmpLock(sqlite3_file* f, int level) {
    return realOf(f)->pMethods->xLock(realOf(f), level);
}
int tmpUnlock(sqlite3_file* f, int level) {
    return realOf(f)->pMethods->xUnlock(realOf(f), level);
}
int tmpCheckReserved(sqlite3_file* f, int* out) {
    return realOf(f)->pMethods->xCheckReservedLock(realOf(f), out);
}
int tmpFileControl(sqlite3_file* f, int op, void* arg) {
    auto* t = reinterpret_cast<TempFile*>(f);
    // A size hint may allocate the space without a write: it is claimed like one.
    if (op == SQLITE_FCNTL_SIZE_HINT && !grow(t, *static_cast<sqlite3_int64*>(arg))) return SQLITE_FULL;
    return t->real->pMethods->xFileControl(t->real, op, arg);
}
int tmpSectorSize(sqlite3_file* f) {
    return realOf(f)->pMethods->xSectorSize(realOf(f));
}
int tmpDeviceCharacteristics(sqlite3_file* f) {
    return realOf(f)->pMethods->xDeviceCharacteristics(realOf(f));
}

// Version 1: no shared memory and no memory mapping, which temporary files do not need.
const sqlite3_io_methods kTempMethods = {1,
                                         tmpClose,
                                         tmpRead,
                                         tmpWrite,
                                         tmpTruncate,
                                         tmpSync,
                                         tmpFileSize,
                                         tmpLock,
                                         tmpUnlock,
                                         tmpCheckReserved,
                                         tmpFileControl,
                                         tmpSectorSize,
                                         tmpDeviceCharacteristics,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr,
                                         nullptr};

constexpr int kTempKinds =
    SQLITE_OPEN_TEMP_DB | SQLITE_OPEN_TEMP_JOURNAL | SQLITE_OPEN_TRANSIENT_DB | SQLITE_OPEN_SUBJOURNAL;

int vfsOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    if (!(flags & kTempKinds)) {
        // The database and its journals: the real layer's own file, in place (the structure
        // SQLite allocated is large enough for either kind).
        return g_real->xOpen(g_real, name, f, flags, outFlags);
    }
    auto* t = reinterpret_cast<TempFile*>(f);
    t->base.pMethods = nullptr;
    t->real = reinterpret_cast<sqlite3_file*>(t + 1);
    t->extent = 0;
    std::memset(t->real, 0, static_cast<std::size_t>(g_real->szOsFile));
    const int rc = g_real->xOpen(g_real, name, t->real, flags, outFlags);
    if (rc != SQLITE_OK) {
        // SQLite closes a file whose open failed only if pMethods is set; the real one is ours
        // to close then.
        if (t->real->pMethods) t->real->pMethods->xClose(t->real);
        return rc;
    }
    t->base.pMethods = &kTempMethods;
    return SQLITE_OK;
}

int vfsDelete(sqlite3_vfs*, const char* name, int syncDir) {
    return g_real->xDelete(g_real, name, syncDir);
}
int vfsAccess(sqlite3_vfs*, const char* name, int flags, int* out) {
    return g_real->xAccess(g_real, name, flags, out);
}
int vfsFullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
    return g_real->xFullPathname(g_real, name, n, out);
}
void* vfsDlOpen(sqlite3_vfs*, const char* name) {
    return g_real->xDlOpen(g_real, name);
}
void vfsDlError(sqlite3_vfs*, int n, char* out) {
    g_real->xDlError(g_real, n, out);
}
void (*vfsDlSym(sqlite3_vfs*, void* h, const char* sym))(void) {
    return g_real->xDlSym(g_real, h, sym);
}
void vfsDlClose(sqlite3_vfs*, void* h) {
    g_real->xDlClose(g_real, h);
}
int vfsRandomness(sqlite3_vfs*, int n, char* out) {
    return g_real->xRandomness(g_real, n, out);
}
int vfsSleep(sqlite3_vfs*, int us) {
    return g_real->xSleep(g_real, us);
}
int vfsCurrentTime(sqlite3_vfs*, double* out) {
    return g_real->xCurrentTime(g_real, out);
}
int vfsGetLastError(sqlite3_vfs*, int n, char* out) {
    return g_real->xGetLastError ? g_real->xGetLastError(g_real, n, out) : 0;
}
int vfsCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
    return g_real->xCurrentTimeInt64(g_real, out);
}

}  // namespace

const char* boundedTempVfs(std::int64_t maxTempBytes) {
    static std::once_flag once;
    static int registered = SQLITE_ERROR;
    g_limit = maxTempBytes;
    std::call_once(once, [] {
        g_real = sqlite3_vfs_find(nullptr);
        if (!g_real || g_real->iVersion < 2) return;
        g_vfs = {};
        g_vfs.iVersion = 2;
        g_vfs.szOsFile = static_cast<int>(sizeof(TempFile)) + g_real->szOsFile;
        g_vfs.mxPathname = g_real->mxPathname;
        g_vfs.zName = "qtl-bounded-temp";
        g_vfs.xOpen = vfsOpen;
        g_vfs.xDelete = vfsDelete;
        g_vfs.xAccess = vfsAccess;
        g_vfs.xFullPathname = vfsFullPathname;
        g_vfs.xDlOpen = vfsDlOpen;
        g_vfs.xDlError = vfsDlError;
        g_vfs.xDlSym = vfsDlSym;
        g_vfs.xDlClose = vfsDlClose;
        g_vfs.xRandomness = vfsRandomness;
        g_vfs.xSleep = vfsSleep;
        g_vfs.xCurrentTime = vfsCurrentTime;
        g_vfs.xGetLastError = vfsGetLastError;
        g_vfs.xCurrentTimeInt64 = vfsCurrentTimeInt64;
        registered = sqlite3_vfs_register(&g_vfs, 0);
    });
    // Without the layer (an unusual SQLite) the files are not bounded but everything works.
    return registered == SQLITE_OK ? g_vfs.zName : nullptr;
}

std::int64_t tempBytesInUse() {
    return g_inUse.load();
}

bool takeTempLimitHit() {
    const bool hit = t_limitHit;
    t_limitHit = false;
    return hit;
}

}  // namespace devserver::tsql
