// Files that appear whole or not at all: a new file is written under a temporary name beside its place and
// moved there only when complete, and only if nothing has taken the place meanwhile. Nothing made this way
// ever writes over an existing file. It appears with the mode the user's new files get, so that a register
// made in a shared folder by someone whose umask lets the group write is writable by the group.
#pragma once

#include <QString>
#include <sys/types.h>

// The mode a new file of this user gets: read and write for everyone, less what the process's umask takes
// away (0664 under umask 002, 0644 under 022). The umask is read, never changed.
mode_t newFileMode();
// Gives the file at path newFileMode(); a link there is refused, not followed. False, with errno set, when the
// file cannot be opened or its mode cannot be set. A file system that keeps no Unix modes (a FAT disk, some
// Windows shares) refuses the change with EPERM or ENOTSUP: that counts as done, the file keeping the mode
// that file system gives every file.
bool giveNewFileMode(const QString& path);

// An unused name in the folder of path for building the file that will become path; it names this machine
// and process. Removes first the files this machine's writers were building there when they were killed (a
// writer that still runs keeps its file).
QString temporaryNameBeside(const QString& path);
// Gives the complete file temporary newFileMode() and moves it to path. Throws DatabaseError, leaving temporary
// where it is, when path exists (the test and the move are one step of the file system), or the mode cannot
// be given or the move fails. The folder's group, which a file made in a setgid folder carries, is kept.
void moveIntoPlace(const QString& temporary, const QString& path);
// Removes a file that was being built, with the journal SQLite may have left beside it.
void discardPartialFile(const QString& temporary);

// Removes the file being built when it goes out of scope, unless it was moved into place.
class PartialFile {
public:
    explicit PartialFile(QString path) : path_(std::move(path)) {}
    ~PartialFile() {
        if (!placed_) {
            discardPartialFile(path_);
        }
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    const QString& path() const { return path_; }
    // Moves the file into place at destination (see moveIntoPlace).
    void placeAt(const QString& destination) {
        moveIntoPlace(path_, destination);
        placed_ = true;
    }

private:
    QString path_;
    bool placed_ = false;
};
