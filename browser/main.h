// The main window: the search panel, the asset list and the toolbar of commands. It holds the data module
// (the connection and the shared datasets), so every other window reaches the register through it.
#pragma once

#include "data/datamodule.h"

#include <QWidget>
#include <optional>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QRadioButton;
class QTimer;
class QToolButton;
class TDBGrid;
class LabelsWindow;
class StockTakeWindow;
class Tassdetfrm;
class Tassetreportsfrm;
class TcfgFrm;
class Tlogonfrm;
class Tprintfrm;
class Twriteofffrm;

class Tmainfrm : public QWidget {
    Q_OBJECT
public:
    // The windows behind the toolbar's commands. They are made after this window, since they work on its
    // data module, and handed over with setCommands before the window is shown.
    struct Commands {
        Tlogonfrm& logonfrm;               // the password gate before every change
        Tassdetfrm& assdetfrm;             // Add New Asset(s), Edit Asset, a double click on the list
        Twriteofffrm& writeofffrm;         // Write Off
        Tprintfrm& printfrm;               // Print
        Tassetreportsfrm& assetreportsfrm; // Reports
        LabelsWindow& labelsWindow;        // Labels
        StockTakeWindow& stockTakeWindow;  // Stock-take
        TcfgFrm& cfgFrm;                   // Configuration
    };

    Tmainfrm();
    ~Tmainfrm() override;

    // Wires the commands to their windows. Requires: called once, before any command is used.
    void setCommands(const Commands& commands);

    DataModule data;

    QFrame* Panel1;
    QLabel* SearchLabel;
    QLineEdit* details;
    QRadioButton* assetid;
    QRadioButton* description;
    QRadioButton* serialnumber;
    QRadioButton* ordernumber;
    QRadioButton* purchasedby;
    QRadioButton* borrowedby;
    QRadioButton* supplier;
    QCheckBox* incWriteOff;
    TDBGrid* Query2Grid; // Query2, every column; hidden, it gives the report writer the reports' columns
    TDBGrid* DBGrid1;    // mainquery: ASSETID, Make, Model, SerialNumber, Description, Supplier, OrderNumber
    QFrame* ToolBar1;
    QToolButton* ToolButton1;
    QToolButton* ToolButton2;
    QToolButton* ToolButton3;
    QToolButton* ToolButton4;
    QToolButton* ToolButton7;
    QToolButton* labelsButton;    // Labels, after Reports: prints labels of assets
    QToolButton* stockTakeButton; // Stock-take, after Labels: checks the register against the things themselves
    QToolButton* ToolButton5;
    QToolButton* ToolButton6;
    QLabel* Label1;

    // The caption: base, as start-up and the password window set it, with a note after it while this user
    // cannot change the register, or once it is found damaged.
    void setCaption(const QString& base);
    const QString& caption() const { return caption_; }
    // Starts watching the register, while the program is idle, for changes other programs save: the list
    // shows their values within moments, and the caption follows whether this user may write the register.
    // What a background check of the register (Connection::startBackgroundCheck) finds is shown as it
    // arrives.
    void startWatching(int intervalMilliseconds = 250);
    void stopWatching();

    // Rewrites mainquery from the search text, the chosen field and the written-off option, and reopens it.
    void RebuildMainQuery();

signals:
    // The window closed: the program ends.
    void closed();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void detailsChange();
    void assetidClick();
    void descriptionClick();
    void serialnumberClick();
    void ordernumberClick();
    void purchasedbyClick();
    void borrowedbyClick();
    void supplierClick();
    void incWriteOffClick();
    void ToolButton1Click();
    void ToolButton2Click();
    void DBGrid1DblClick();
    void ToolButton3Click();
    void ToolButton4Click();
    void ToolButton7Click();
    void labelsButtonClick();
    void stockTakeButtonClick();
    void ToolButton5Click();
    void ToolButton6Click();
    void DBGrid1CtrlDelete();
    QToolButton* addToolButton(const QString& name, const QString& caption, const QString& picture);
    void watchTick();
    void showWritable(bool writable);
    // Whether a change may start: the register is writable for this user (said otherwise), then the password.
    bool mayChange(const QString& refusalWithoutPassword);

    std::optional<Commands> commands_;
    int toolButtons_ = 0;
    QString caption_ = QStringLiteral("Vantrel");
    bool writable_ = true;
    bool damaged_ = false; // the background check found the register file damaged
    QTimer* watch_ = nullptr;
    int ticks_ = 0;
    bool refreshDue_ = false; // another program saved a change the list has not read yet
};
