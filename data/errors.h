// The error kinds of the program. An error is raised where something fails and travels, uncaught, to the
// one place where an event entered our code (runGuarded), which shows its text in the general error display.
#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// The base of every error the program raises on purpose; carries the text the user will read.
class VantrelError : public std::exception {
public:
    explicit VantrelError(QString text) : text_(std::move(text)), utf8_(text_.toUtf8()) {}
    const QString& text() const { return text_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString text_;
    QByteArray utf8_;
};

// The register refused or failed an operation: opening, a statement, a post, a lock that outlasted its wait.
class DatabaseError : public VantrelError {
public:
    using VantrelError::VantrelError;
};

// A change was refused because the stored row no longer holds what the cursor read: another program changed
// or deleted it since. Nothing was saved; the cursor still holds what was typed.
class StaleRowError : public DatabaseError {
public:
    using DatabaseError::DatabaseError;
};

// Why a call to the register failed, in the user's terms; each engine maps its own codes to these.
enum class Failure { Busy, Full, Io, Unreachable, ReadOnly, Damaged, CantOpen, Constraint, Statement, Other };

// The user's text for failure of the register named name; writing tells a failed change ("Nothing was
// saved") from a failed read; detail is the engine's own message, used where no better text exists.
QString failureText(Failure failure, const QString& name, bool writing, const QString& detail);

// What to do with a damaged register, as the end of a message.
extern const QString kRestoreDamaged;

// A typed text did not convert to its column's type ("'x' is not a valid date").
class ConversionError : public VantrelError {
public:
    using VantrelError::VantrelError;
};

// A control was given a value outside what it accepts (the gauge's bounds, the animation's timer).
class ControlError : public VantrelError {
public:
    using VantrelError::VantrelError;
};
