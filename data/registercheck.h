// The whole-file checks of a register file: every page read and every index compared with its table, and
// every stored value of its kind. They take seconds on a large register, so the program runs them after its
// window shows, on a copy of the file in a thread of its own, while `vnrdb check` runs them on the file.
#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class Connection;

// What the whole-file checks found, in plain words (phrases) and as the engine reports it (details).
struct Damage {
    QStringList phrases; // "its indexes do not match its assets, ...", one per kind of fault; empty: sound
    QStringList details; // the engine's own lines, at most a hundred
    bool found() const { return !phrases.isEmpty(); }
};

// Runs the whole-file checks on the open register file c. With everyIndex false only the pages are read
// (quick_check, a fraction of the time), which does not compare indexes with their tables. Throws
// DatabaseError only when *stopped is set (and c interrupted) on the way.
Damage wholeFileDamage(const Connection& c, bool everyIndex, const std::atomic<bool>* stopped = nullptr);

// The warning for a damaged register file at path: what is wrong, what can still be done, what to do.
QString damageWarning(const QString& path, const Damage& damage);

// The whole-file checks of one register file, made on a thread of its own at the lowest priority, on a copy
// that is taken a few pages at a time: no other program's save ever waits for them longer than a few pages'
// read. The quick pass (pages and values) is answered first, the comparison of every index after it. Ends
// and cleans up when destroyed, at any point.
class BackgroundCheck {
public:
    explicit BackgroundCheck(const QString& path);
    ~BackgroundCheck();
    BackgroundCheck(const BackgroundCheck&) = delete;
    BackgroundCheck& operator=(const BackgroundCheck&) = delete;

    // Waits until the quick pass has answered (on a million assets, about two seconds after the start).
    void awaitQuickPass();
    // Whether every pass has answered.
    bool done() const;
    // Waits until every pass has answered; false when milliseconds passed first.
    bool awaitDone(int milliseconds);
    // What has been found so far.
    Damage damage() const;
    // How long the checks took, from the start to the last answer; 0 until done.
    double seconds() const;
    // How long the quick pass took to answer; 0 until it has.
    double quickPassSeconds() const;

private:
    class Working;
    void run();
    // False when no copy could be made, and nothing was checked.
    bool checkCopy();
    void answer(const Damage& found, bool last);

    const QString path_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::condition_variable answered_;
    Connection* busy_ = nullptr; // the connection working now, for stopping it midway
    Damage damage_;
    bool quickDone_ = false;
    bool done_ = false;
    double seconds_ = 0;
    double quickSeconds_ = 0;
    QElapsedTimer clock_;
    std::thread thread_;
};
