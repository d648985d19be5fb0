// The report catalogue: nine fixed reports, each one statement run in the scratch query and written as a
// table through the main window's hidden grid.
#pragma once

#include "widgets/form.h"

#include <QDate>
#include <QStringList>

class DataModule;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class ReportWriter;
class TDBGrid;

// The date text of a report statement: month/day/year without leading zeros, a four-digit year, always '/'.
QString reportDateText(const QDate& date);

class Tassetreportsfrm : public Form {
    Q_OBJECT
public:
    // Query2Grid is the main window's hidden grid on Query2; writer writes each report and shows it.
    Tassetreportsfrm(QWidget* parent, DataModule& data, TDBGrid& Query2Grid, ReportWriter& writer);

    QGroupBox* GroupBox1;
    QGroupBox* GroupBox2;
    QGroupBox* GroupBox3;
    QGroupBox* GroupBox4;
    QGroupBox* GroupBox5;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLineEdit* years;
    QDateEdit* itemssince;
    QDateEdit* purchasedsince;
    QDateEdit* disposedsince;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
    QPushButton* Button5;
    QPushButton* Button6;
    QPushButton* Button7;
    QPushButton* Button8;
    QPushButton* Button9;
    QPushButton* BitBtn1;

    // Sets the three date pickers to a year (365 days) before today, as start-up does.
    void presetDates(const QDate& today);

    void reject() override;

private:
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void Button8Click();
    void Button9Click();
    void BitBtn1Click();

    // Puts the statement into Query2, opens it and writes its result as a table under title.
    void runReport(const QStringList& statement, const QString& title);

    DataModule& data_;
    TDBGrid& Query2Grid_;
    ReportWriter& writer_;
};
