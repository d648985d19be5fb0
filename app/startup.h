// The start-up sequence: it fixes the program folder, creates the nine windows in order and wires them,
// opens the register and the shared datasets, tests the report files, asks for the password or marks the
// main window read-only, presets the report catalogue's dates, and runs the event loop.
#pragma once

#include <QString>
#include <memory>
#include <optional>

class Tmainfrm;
class Tassdetfrm;
class TcfgFrm;
class Tlogonfrm;
class Twriteofffrm;
class Tprintfrm;
class Treporterfrm;
class TStatusFrm;
class Tassetreportsfrm;

class Startup {
public:
    Startup();
    ~Startup();

    // Runs the sequence up to the event loop for the program file at programFilePath. Returns an exit code
    // when the program ends before the loop (1: the register could not be opened; 0: the start-up password
    // was refused), or nothing when the main window is ready to be shown.
    std::optional<int> prepare(const QString& programFilePath);
    // Shows the main window centred on the screen and runs the event loop until it closes.
    int exec();

    std::unique_ptr<Tmainfrm> mainfrm;
    std::unique_ptr<Tassdetfrm> assdetfrm;
    std::unique_ptr<TcfgFrm> cfgFrm;
    std::unique_ptr<Tlogonfrm> logonfrm;
    std::unique_ptr<Twriteofffrm> writeofffrm;
    std::unique_ptr<Tprintfrm> printfrm;
    std::unique_ptr<Treporterfrm> reporterfrm;
    std::unique_ptr<TStatusFrm> StatusFrm;
    std::unique_ptr<Tassetreportsfrm> assetreportsfrm;
};
