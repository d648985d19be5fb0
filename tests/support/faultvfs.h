// A SQLite file layer for tests that passes everything to the default one and makes chosen writes, syncs or
// truncations fail, as a failing disk, a full disk or a network folder that went away does. While a FaultVfs
// exists it is SQLite's default, so the program's own connections go through it without knowing.
#pragma once

#include <QString>

class FaultVfs {
public:
    // The file operations that can be made to fail.
    enum class Operation { Write, Sync, Truncate };
    // How an operation fails: an I/O error of its kind, or (writes only) a full disk.
    enum class Fault { WriteError, DiskFull, SyncError, TruncateError };

    // Installs the layer as SQLite's default. Only files inside folder are counted and failed, and
    // temporary files without a name, which belong to whichever connection is working. One at a time.
    explicit FaultVfs(const QString& folder);
    // Puts the previous default back. Requires: every connection opened through the layer is closed.
    ~FaultVfs();
    FaultVfs(const FaultVfs&) = delete;
    FaultVfs& operator=(const FaultVfs&) = delete;

    // From now on, counting afresh, the n-th operation of the fault's kind (1-based) fails; when persistent,
    // every later one of that kind fails too. Forgets earlier faults.
    void arm(Fault fault, int n, bool persistent);
    // Adds a fault of another kind to the armed one, counted from the same moment: a truncation that fails
    // while SQLite rolls back after a failed sync, say.
    void armAlso(Fault fault, int n, bool persistent);
    // Nothing fails any more; the counts go on.
    void disarm();
    // Operations of each kind seen since the last arm() or resetCounts().
    int count(Operation op) const;
    void resetCounts();
    // Operations failed on purpose since the last arm().
    int injected() const;

    static Operation operationOf(Fault fault);
    static QString name(Fault fault);

    struct State;

private:
    State* state_;
};
