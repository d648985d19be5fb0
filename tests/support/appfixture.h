// A whole program in one test: a register and a program folder in a temporary folder, the working folder
// moved there, and the start-up sequence run with the dialog script answering.
#pragma once

#include "tests/support/testregister.h"

#include <QString>
#include <memory>
#include <optional>

class Startup;
struct StartOptions;

class AppFixture {
public:
    // Makes the register (vnrdata.mdb) and a program folder with the installed report files.
    AppFixture();
    ~AppFixture();

    TestRegister& reg() { return reg_; }
    // The program file's path: <tmp>/program/vantrel.
    QString programFile() const;
    // Runs the start-up sequence in the register's folder, with the command line's options when given.
    std::optional<int> start();
    std::optional<int> start(const StartOptions& options);
    Startup& app() { return *startup_; }
    // Ends the program as leaving main() does: the start-up sequence and every window it made are destroyed.
    void stop() { startup_.reset(); }

private:
    TestRegister reg_;
    QString programFolder_;
    QString previousFolder_;
    std::unique_ptr<Startup> startup_;
};
