// Files that appear whole or not at all: a new file is written under a temporary name beside its place and
// moved there only when complete, and only if nothing has taken the place meanwhile. Nothing made this way
// ever writes over an existing file.
#pragma once

#include <QString>

// An unused name in the folder of path for building the file that will become path.
QString temporaryNameBeside(const QString& path);
// Moves the complete file temporary to path. Throws DatabaseError, leaving temporary where it is, when
// path exists (the test and the move are one step of the file system) or the move fails.
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
