// The start-up sequence: it fixes the program folder, enters the register folder the command line names,
// creates the twelve windows (the nine of the register, the Labels and Stock-take windows and the server-login
// window) and wires them, opens the register and the shared datasets, tests the report files, asks for the
// password or marks the main window read-only, presets the report catalogue's dates, runs the event loop, and has
// the register's whole file checked once the main window shows.
#pragma once

#include "app/session.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// Where the run finds its register, as the command line says.
struct StartOptions {
    // --register-folder DIR: the program works in DIR; empty: in the folder it was started in.
    QString registerFolder;
    // --desktop: the start from the desktop menu. The register lies in the user's data folder for Vantrel
    // (or the register folder, when one is given), and when there is none there the first-run window offers
    // to make one.
    bool desktop = false;
};

// What the command line (without the program's name) asks for: a run with its options, the usage text, the
// version, or nothing, because it was not understood (problem says why).
struct CommandLine {
    enum class Verdict { Run, Help, Version, Refused };
    Verdict verdict = Verdict::Run;
    StartOptions options;
    QString problem;
};
CommandLine parseCommandLine(const QStringList& arguments);
// The usage text printed for --help and after a command line that was not understood.
extern const char* const kUsage;

// The user's data folder for Vantrel: $XDG_DATA_HOME/vantrel, by default ~/.local/share/vantrel.
QString userDataFolder();

class LabelsWindow;
class StockTakeWindow;
class ReportWriter;
class Tassdetfrm;
class Tassetreportsfrm;
class TcfgFrm;
class Tlogonfrm;
class ServerLoginWindow;
class Tmainfrm;
class Tprintfrm;
class Treporterfrm;
class TStatusFrm;
class Twriteofffrm;

// Owns every window of the program exactly once: the main window, and through it as their Qt parent the
// eight dialogs that open over it; the password window, the status window and the report writer directly.
class Startup {
public:
    Startup();
    ~Startup();

    // Runs the sequence up to the event loop for the program file at programFilePath. Returns an exit code
    // when the program ends before the loop (1: the register folder cannot be used or the register could not
    // be opened; 0: the start-up password was refused, or the first-run window cancelled), or nothing when
    // the main window is ready to be shown.
    std::optional<int> prepare(const QString& programFilePath, const StartOptions& options = {});
    // Shows the main window centred on the screen and runs the event loop until it closes.
    int exec();

    // The run's process-wide values; every window that reads one is handed this object.
    Session session;
    std::unique_ptr<Tmainfrm> mainfrm;
    // Declared after the main window, so destroyed before it: they work on its data module.
    std::unique_ptr<Tlogonfrm> logonfrm;
    std::unique_ptr<ServerLoginWindow> serverLoginFrm;
    std::unique_ptr<TStatusFrm> StatusFrm;
    std::unique_ptr<ReportWriter> reportWriter;

    // The dialogs, owned by the main window as their Qt parent.
    Tassdetfrm* assdetfrm = nullptr;
    TcfgFrm* cfgFrm = nullptr;
    Twriteofffrm* writeofffrm = nullptr;
    Tprintfrm* printfrm = nullptr;
    Treporterfrm* reporterfrm = nullptr;
    Tassetreportsfrm* assetreportsfrm = nullptr;
    LabelsWindow* labelsWindow = nullptr;
    StockTakeWindow* stockTakeWindow = nullptr;
};
