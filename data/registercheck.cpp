// The whole-file checks, and the thread that runs them beside the program. SQLite's own checks read every
// page; what they report is turned into what it means for the person reading the list.
#include "data/registercheck.h"

#include "data/backup.h"
#include "data/connection.h"
#include "data/errors.h"
#include "data/schema.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Pages copied under one read lock: about a megabyte, a millisecond or two of another program's wait.
constexpr int kPagesAtOnce = 256;
constexpr int kMostDetails = 100;

const QString kPagesPhrase = QStringLiteral("its pages do not fit together, so assets may be missing from the list "
                                            "or show values they do not hold");

QString phraseOf(const QString& line) {
    if (line.contains(QLatin1String("missing from index")) || line.contains(QLatin1String("entries in index")) ||
        line.contains(QLatin1String("non-unique entry in index"))) {
        return QStringLiteral("its indexes do not match its assets, so a search or a sorted list can leave out "
                              "assets that are there");
    }
    if (line.startsWith(QLatin1String("NULL value in")) || line.startsWith(QLatin1String("CHECK constraint"))) {
        return QStringLiteral("some assets hold values their columns do not allow");
    }
    return kPagesPhrase;
}

void note(Damage& d, const QString& phrase, const QString& detail) {
    if (!d.phrases.contains(phrase)) {
        d.phrases << phrase;
    }
    if (d.details.size() < kMostDetails) {
        d.details << detail;
    }
}

// The checks share the machine with the person using it: the lowest CPU priority and idle I/O, for this
// thread alone (Linux gives each thread its own).
void lowerThisThreadsPriority() {
    const auto thread = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, thread, 19);
    constexpr int kWhoProcess = 1;
    constexpr int kIdleClass = 3 << 13;
    ::syscall(SYS_ioprio_set, kWhoProcess, static_cast<int>(thread), kIdleClass);
}

} // namespace

Damage wholeFileDamage(const Connection& c, bool everyIndex, const std::atomic<bool>* stopped) {
    Damage d;
    // A statement that fails on the way is itself a finding, unless the checks were stopped.
    const auto failed = [&](const DatabaseError& e) {
        if (stopped && *stopped) {
            throw e;
        }
        note(d, kPagesPhrase, e.text());
    };
    try {
        Statement pages(c, everyIndex ? "PRAGMA integrity_check(100)" : "PRAGMA quick_check(100)");
        while (pages.step()) {
            const QString line = pages.column(0).toString();
            if (line != QLatin1String("ok")) {
                note(d, phraseOf(line), line);
            }
        }
    } catch (const DatabaseError& e) {
        failed(e);
    }
    try {
        if (const QString problem = registerValueProblem(c); !problem.isEmpty()) {
            note(d, problem, problem);
        }
    } catch (const DatabaseError& e) {
        failed(e);
    }
    return d;
}

QString damageWarning(const QString& path, const Damage& damage) {
    return QStringLiteral("The register file '%1' is damaged: %2. What still reads can be searched and printed, but "
                          "changes are refused so that the damage does not spread. Restore the register from a "
                          "backup copy, or examine it with the register tool (vnrdb check %1).")
        .arg(QDir::toNativeSeparators(path), damage.phrases.join(QStringLiteral("; ")));
}

BackgroundCheck::BackgroundCheck(const QString& path) : path_(QFileInfo(path).absoluteFilePath()) {
    clock_.start();
    thread_ = std::thread([this] { run(); });
}

BackgroundCheck::~BackgroundCheck() {
    stop_ = true;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (busy_) {
            busy_->interrupt();
        }
    }
    thread_.join();
}

void BackgroundCheck::awaitQuickPass() {
    std::unique_lock<std::mutex> lock(mutex_);
    answered_.wait(lock, [this] { return quickDone_; });
}

bool BackgroundCheck::done() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return done_;
}

bool BackgroundCheck::awaitDone(int milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return answered_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return done_; });
}

Damage BackgroundCheck::damage() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return damage_;
}

double BackgroundCheck::seconds() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return seconds_;
}

double BackgroundCheck::quickPassSeconds() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return quickSeconds_;
}

void BackgroundCheck::answer(const Damage& found, bool last) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (int i = 0; i < found.phrases.size(); ++i) {
        if (!damage_.phrases.contains(found.phrases[i])) {
            damage_.phrases << found.phrases[i];
        }
    }
    for (const QString& line : found.details) {
        if (!damage_.details.contains(line) && damage_.details.size() < kMostDetails) {
            damage_.details << line;
        }
    }
    if (!quickDone_) {
        quickDone_ = true;
        quickSeconds_ = static_cast<double>(clock_.nsecsElapsed()) / 1e9;
    }
    if (last) {
        done_ = true;
        seconds_ = static_cast<double>(clock_.nsecsElapsed()) / 1e9;
    }
    answered_.notify_all();
}

// Makes a connection known to the destructor while it works, so that stopping interrupts it; declared after
// the connection, it lets go of it before the connection closes.
class BackgroundCheck::Working {
public:
    Working(BackgroundCheck& check, Connection& c) : check_(check) {
        const std::lock_guard<std::mutex> lock(check_.mutex_);
        check_.busy_ = &c;
    }
    ~Working() {
        const std::lock_guard<std::mutex> lock(check_.mutex_);
        check_.busy_ = nullptr;
    }
    Working(const Working&) = delete;
    Working& operator=(const Working&) = delete;

private:
    BackgroundCheck& check_;
};

void BackgroundCheck::run() {
    lowerThisThreadsPriority();
    try {
        if (!checkCopy() && !stop_) {
            // No room for a copy, or the copy failed: the quick pass reads the file itself, holding its read
            // lock for as long as the opening checks used to; comparing the indexes is left to `vnrdb check`.
            Connection file;
            const Working working(*this, file);
            file.openForExamining(path_);
            answer(wholeFileDamage(file, false, &stop_), true);
        }
    } catch (const VantrelError&) {
        // Stopped, or the file could not be read at all: no verdict, as nothing was found.
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    quickDone_ = true;
    if (!done_) {
        done_ = true;
        seconds_ = static_cast<double>(clock_.nsecsElapsed()) / 1e9;
    }
    answered_.notify_all();
}

bool BackgroundCheck::checkCopy() {
    const QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/vantrel-check-XXXXXX"));
    if (!dir.isValid() || QStorageInfo(dir.path()).bytesAvailable() < QFileInfo(path_).size() + (64 << 20)) {
        return false;
    }
    Connection copy;
    try {
        copy.createFile(dir.filePath(QStringLiteral("register.mdb")));
        copy.exec("PRAGMA journal_mode = OFF");
        copy.exec("PRAGMA synchronous = OFF");
        Connection source;
        const Working working(*this, source);
        if (stop_) {
            return false;
        }
        source.openForExamining(path_);
        OnlineBackup backup(copy, source);
        // Another program's save between two steps makes the copy start again from the first page, so that
        // it is always one committed state of the register.
        while (!backup.step(kPagesAtOnce, 60000)) {
            if (stop_) {
                return false;
            }
        }
    } catch (const VantrelError&) {
        return false;
    }
    const Working working(*this, copy);
    if (stop_) {
        return false;
    }
    answer(wholeFileDamage(copy, false, &stop_), false);
    answer(wholeFileDamage(copy, true, &stop_), true);
    return true;
}
