// Copies of a register taken while it is in use. SQLite's online backup copies the file page by page under a
// read lock, so the copy is the register as one committed state, even while another program is saving.
#pragma once

#include <QString>
#include <memory>

class Connection;
struct sqlite3_backup;

// One copy of the main database of a connection into that of another; finished by the destructor. Not
// copyable.
class OnlineBackup {
public:
    // Throws DatabaseError when SQLite refuses the pair (the destination in use, page sizes that cannot match).
    OnlineBackup(Connection& destination, const Connection& source);
    ~OnlineBackup();
    OnlineBackup(const OnlineBackup&) = delete;
    OnlineBackup& operator=(const OnlineBackup&) = delete;

    // Copies up to pages pages (all when negative): true when the copy is complete. Another program's lock
    // on the source is waited for, up to waitMilliseconds in all; throws DatabaseError when it outlasts
    // that or the copy fails.
    bool step(int pages = -1, int waitMilliseconds = 30000);

private:
    struct Finisher {
        void operator()(sqlite3_backup* b) const;
    };
    std::unique_ptr<sqlite3_backup, Finisher> backup_;
};

// Copies the register at source to the new file destination. The source is opened with the program's own
// checks and not changed; the copy is built beside destination, checked page by page, and moved into place
// only if destination still does not exist. Throws DatabaseError (nothing is left at destination).
void backupRegister(const QString& source, const QString& destination);
