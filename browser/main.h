// The main window: the search panel, the asset list and the toolbar of commands. It holds the data module
// (the connection and the shared datasets), so every other window reaches the register through it.
#pragma once

#include "data/datamodule.h"

#include <QWidget>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QRadioButton;
class QToolButton;
class TDBGrid;
class Tlogonfrm;

class Tmainfrm : public QWidget {
    Q_OBJECT
public:
    Tmainfrm();
    ~Tmainfrm() override;

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
    TDBGrid* Query2Grid;
    TDBGrid* DBGrid1;
    QFrame* ToolBar1;
    QToolButton* ToolButton1;
    QToolButton* ToolButton2;
    QToolButton* ToolButton3;
    QToolButton* ToolButton4;
    QToolButton* ToolButton7;
    QToolButton* ToolButton5;
    QToolButton* ToolButton6;
    QLabel* Label1;

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
    void ToolButton5Click();
    void ToolButton6Click();
    void DBGrid1CtrlDelete();
    QToolButton* makeToolButton(const QString& name, const QString& caption, const QString& picture);
};

extern Tmainfrm* mainfrm;
