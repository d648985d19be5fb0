// The failing file layer. Each file opened through it is a small header followed by the real file of the
// wrapped layer; every method passes straight through except write, sync and truncate, which are counted
// and, when armed, fail with the code SQLite's own layer gives for that failure.
#include "tests/support/faultvfs.h"

#include <QByteArray>
#include <QFileInfo>
#include <array>
#include <cstring>
#include <sqlite3.h>
#include <stdexcept>
#include <vector>

struct FaultVfs::State {
    sqlite3_vfs vfs{};
    sqlite3_vfs* real = nullptr;
    QByteArray folder; // with a trailing separator
    struct Rule {
        Fault fault;
        int at;
        bool persistent;
    };
    std::array<int, 3> counts{};
    std::vector<Rule> rules;
    int injected = 0;

    // Counts one operation and tells whether it is to fail, with which code.
    int check(Operation op) {
        const int n = ++counts[static_cast<size_t>(op)];
        for (const Rule& r : rules) {
            if (operationOf(r.fault) == op && (n == r.at || (r.persistent && n > r.at))) {
                ++injected;
                return codeOf(r.fault);
            }
        }
        return SQLITE_OK;
    }

    static int codeOf(Fault fault) {
        switch (fault) {
        case Fault::WriteError:
            return SQLITE_IOERR_WRITE;
        case Fault::DiskFull:
            return SQLITE_FULL;
        case Fault::SyncError:
            return SQLITE_IOERR_FSYNC;
        case Fault::TruncateError:
            return SQLITE_IOERR_TRUNCATE;
        }
        return SQLITE_IOERR;
    }
};

namespace {

FaultVfs::State* g_state = nullptr;

// SQLite hands out file objects with 8-byte alignment; the wrapped layer's file follows this header.
struct alignas(8) FaultFile {
    sqlite3_file base;
    FaultVfs::State* state;
    bool watched;
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

FaultFile* ff(sqlite3_file* f) {
    return reinterpret_cast<FaultFile*>(f);
}

const sqlite3_io_methods* realMethods(sqlite3_file* f) {
    return ff(f)->real()->pMethods;
}

int fClose(sqlite3_file* f) {
    const int rc = realMethods(f)->xClose(ff(f)->real());
    f->pMethods = nullptr;
    return rc;
}

int fRead(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
    return realMethods(f)->xRead(ff(f)->real(), buffer, amount, offset);
}

int fWrite(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
    if (ff(f)->watched) {
        if (const int rc = ff(f)->state->check(FaultVfs::Operation::Write); rc != SQLITE_OK) {
            return rc;
        }
    }
    return realMethods(f)->xWrite(ff(f)->real(), buffer, amount, offset);
}

int fTruncate(sqlite3_file* f, sqlite3_int64 size) {
    if (ff(f)->watched) {
        if (const int rc = ff(f)->state->check(FaultVfs::Operation::Truncate); rc != SQLITE_OK) {
            return rc;
        }
    }
    return realMethods(f)->xTruncate(ff(f)->real(), size);
}

int fSync(sqlite3_file* f, int flags) {
    if (ff(f)->watched) {
        if (const int rc = ff(f)->state->check(FaultVfs::Operation::Sync); rc != SQLITE_OK) {
            return rc;
        }
    }
    return realMethods(f)->xSync(ff(f)->real(), flags);
}

int fFileSize(sqlite3_file* f, sqlite3_int64* size) {
    return realMethods(f)->xFileSize(ff(f)->real(), size);
}

int fLock(sqlite3_file* f, int level) {
    return realMethods(f)->xLock(ff(f)->real(), level);
}

int fUnlock(sqlite3_file* f, int level) {
    return realMethods(f)->xUnlock(ff(f)->real(), level);
}

int fCheckReservedLock(sqlite3_file* f, int* out) {
    return realMethods(f)->xCheckReservedLock(ff(f)->real(), out);
}

int fFileControl(sqlite3_file* f, int op, void* arg) {
    return realMethods(f)->xFileControl(ff(f)->real(), op, arg);
}

int fSectorSize(sqlite3_file* f) {
    return realMethods(f)->xSectorSize(ff(f)->real());
}

int fDeviceCharacteristics(sqlite3_file* f) {
    return realMethods(f)->xDeviceCharacteristics(ff(f)->real());
}

int fShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
    const sqlite3_io_methods* m = realMethods(f);
    return m->iVersion >= 2 && m->xShmMap ? m->xShmMap(ff(f)->real(), region, size, extend, out) : SQLITE_IOERR;
}

int fShmLock(sqlite3_file* f, int offset, int n, int flags) {
    const sqlite3_io_methods* m = realMethods(f);
    return m->iVersion >= 2 && m->xShmLock ? m->xShmLock(ff(f)->real(), offset, n, flags) : SQLITE_IOERR;
}

void fShmBarrier(sqlite3_file* f) {
    const sqlite3_io_methods* m = realMethods(f);
    if (m->iVersion >= 2 && m->xShmBarrier) {
        m->xShmBarrier(ff(f)->real());
    }
}

int fShmUnmap(sqlite3_file* f, int deleteFlag) {
    const sqlite3_io_methods* m = realMethods(f);
    return m->iVersion >= 2 && m->xShmUnmap ? m->xShmUnmap(ff(f)->real(), deleteFlag) : SQLITE_OK;
}

int fFetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
    const sqlite3_io_methods* m = realMethods(f);
    if (m->iVersion >= 3 && m->xFetch) {
        return m->xFetch(ff(f)->real(), offset, amount, out);
    }
    *out = nullptr;
    return SQLITE_OK;
}

int fUnfetch(sqlite3_file* f, sqlite3_int64 offset, void* p) {
    const sqlite3_io_methods* m = realMethods(f);
    return m->iVersion >= 3 && m->xUnfetch ? m->xUnfetch(ff(f)->real(), offset, p) : SQLITE_OK;
}

const sqlite3_io_methods kMethods = {
    3,
    fClose,
    fRead,
    fWrite,
    fTruncate,
    fSync,
    fFileSize,
    fLock,
    fUnlock,
    fCheckReservedLock,
    fFileControl,
    fSectorSize,
    fDeviceCharacteristics,
    fShmMap,
    fShmLock,
    fShmBarrier,
    fShmUnmap,
    fFetch,
    fUnfetch,
};

FaultVfs::State* stateOf(sqlite3_vfs* vfs) {
    return static_cast<FaultVfs::State*>(vfs->pAppData);
}

int vOpen(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    FaultVfs::State* s = stateOf(vfs);
    FaultFile* f = ff(file);
    f->base.pMethods = nullptr;
    f->state = s;
    f->watched =
        name == nullptr || std::strncmp(name, s->folder.constData(), static_cast<size_t>(s->folder.size())) == 0;
    const int rc = s->real->xOpen(s->real, name, f->real(), flags, outFlags);
    if (rc == SQLITE_OK && f->real()->pMethods) {
        f->base.pMethods = &kMethods;
    }
    return rc;
}

int vDelete(sqlite3_vfs* vfs, const char* name, int syncDir) {
    return stateOf(vfs)->real->xDelete(stateOf(vfs)->real, name, syncDir);
}

int vAccess(sqlite3_vfs* vfs, const char* name, int flags, int* out) {
    return stateOf(vfs)->real->xAccess(stateOf(vfs)->real, name, flags, out);
}

int vFullPathname(sqlite3_vfs* vfs, const char* name, int size, char* out) {
    return stateOf(vfs)->real->xFullPathname(stateOf(vfs)->real, name, size, out);
}

void* vDlOpen(sqlite3_vfs* vfs, const char* name) {
    return stateOf(vfs)->real->xDlOpen(stateOf(vfs)->real, name);
}

void vDlError(sqlite3_vfs* vfs, int size, char* out) {
    stateOf(vfs)->real->xDlError(stateOf(vfs)->real, size, out);
}

void (*vDlSym(sqlite3_vfs* vfs, void* handle, const char* symbol))(void) {
    return stateOf(vfs)->real->xDlSym(stateOf(vfs)->real, handle, symbol);
}

void vDlClose(sqlite3_vfs* vfs, void* handle) {
    stateOf(vfs)->real->xDlClose(stateOf(vfs)->real, handle);
}

int vRandomness(sqlite3_vfs* vfs, int size, char* out) {
    return stateOf(vfs)->real->xRandomness(stateOf(vfs)->real, size, out);
}

int vSleep(sqlite3_vfs* vfs, int microseconds) {
    return stateOf(vfs)->real->xSleep(stateOf(vfs)->real, microseconds);
}

int vCurrentTime(sqlite3_vfs* vfs, double* out) {
    return stateOf(vfs)->real->xCurrentTime(stateOf(vfs)->real, out);
}

int vGetLastError(sqlite3_vfs* vfs, int size, char* out) {
    sqlite3_vfs* real = stateOf(vfs)->real;
    return real->xGetLastError ? real->xGetLastError(real, size, out) : 0;
}

int vCurrentTimeInt64(sqlite3_vfs* vfs, sqlite3_int64* out) {
    sqlite3_vfs* real = stateOf(vfs)->real;
    if (real->iVersion >= 2 && real->xCurrentTimeInt64) {
        return real->xCurrentTimeInt64(real, out);
    }
    double days = 0;
    const int rc = real->xCurrentTime(real, &days);
    *out = static_cast<sqlite3_int64>(days * 86400000.0);
    return rc;
}

} // namespace

FaultVfs::FaultVfs(const QString& folder) : state_(new State) {
    if (g_state) {
        delete state_;
        throw std::logic_error("only one FaultVfs at a time");
    }
    sqlite3_initialize();
    State& s = *state_;
    s.real = sqlite3_vfs_find(nullptr);
    // SQLite opens files by their full path with links resolved.
    const QFileInfo info(folder);
    s.folder = (info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath()).toUtf8() + '/';
    sqlite3_vfs& v = s.vfs;
    v.iVersion = 2;
    v.szOsFile = static_cast<int>(sizeof(FaultFile)) + s.real->szOsFile;
    v.mxPathname = s.real->mxPathname;
    v.zName = "vantrel-faults";
    v.pAppData = &s;
    v.xOpen = vOpen;
    v.xDelete = vDelete;
    v.xAccess = vAccess;
    v.xFullPathname = vFullPathname;
    v.xDlOpen = vDlOpen;
    v.xDlError = vDlError;
    v.xDlSym = vDlSym;
    v.xDlClose = vDlClose;
    v.xRandomness = vRandomness;
    v.xSleep = vSleep;
    v.xCurrentTime = vCurrentTime;
    v.xGetLastError = vGetLastError;
    v.xCurrentTimeInt64 = vCurrentTimeInt64;
    sqlite3_vfs_register(&v, 1);
    g_state = state_;
}

FaultVfs::~FaultVfs() {
    sqlite3_vfs_unregister(&state_->vfs);
    sqlite3_vfs_register(state_->real, 1);
    g_state = nullptr;
    delete state_;
}

void FaultVfs::arm(Fault fault, int n, bool persistent) {
    resetCounts();
    state_->injected = 0;
    state_->rules = {State::Rule{fault, n, persistent}};
}

void FaultVfs::armAlso(Fault fault, int n, bool persistent) {
    state_->rules.push_back(State::Rule{fault, n, persistent});
}

void FaultVfs::disarm() {
    state_->rules.clear();
}

int FaultVfs::count(Operation op) const {
    return state_->counts[static_cast<size_t>(op)];
}

void FaultVfs::resetCounts() {
    state_->counts.fill(0);
}

int FaultVfs::injected() const {
    return state_->injected;
}

FaultVfs::Operation FaultVfs::operationOf(Fault fault) {
    switch (fault) {
    case Fault::WriteError:
    case Fault::DiskFull:
        return Operation::Write;
    case Fault::SyncError:
        return Operation::Sync;
    case Fault::TruncateError:
        return Operation::Truncate;
    }
    return Operation::Write;
}

QString FaultVfs::name(Fault fault) {
    switch (fault) {
    case Fault::WriteError:
        return QStringLiteral("write error");
    case Fault::DiskFull:
        return QStringLiteral("disk full");
    case Fault::SyncError:
        return QStringLiteral("sync error");
    case Fault::TruncateError:
        return QStringLiteral("truncate error");
    }
    return QString();
}
