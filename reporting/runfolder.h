// The folder a run writes its report pages into. Pages are never written beside the program, whose folder an
// installed program cannot write: each run has a folder of its own inside a folder private to the user,
// locked while the run lasts, so that a later start can tell the folders of runs that were killed from those
// of runs still going, and remove them.
#pragma once

#include <QString>
#include <memory>

class QLockFile;

// Owns one run's page folder and the lock that tells later runs it is in use; the folder goes with it.
class RunFolder {
public:
    // The folder that holds the page folders of every run of this user: the runtime folder of the
    // program, or its cache folder where there is no runtime folder.
    static QString root();
    // Removes the page folders of runs that ended without removing their own (a crash, a kill): those whose
    // lock no running program holds. A folder of a run that is still running is left alone.
    static void removeAbandoned();

    RunFolder();
    // Removes the folder, with every page still in it.
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    // Makes the folder on first use, readable by its owner only, under a name no other run has, with a copy of
    // every picture of picturesFolder (not its templates), so that the templates' pictures, named without a
    // folder, are found beside the page. Throws ControlError naming the folder and the system's reason when
    // it cannot be made.
    void prepare(const QString& picturesFolder);
    // The folder; empty until the first prepare.
    const QString& path() const { return path_; }

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};
