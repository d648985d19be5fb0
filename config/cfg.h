// The configuration window: the settings record and the names of the ten asset groups.
#pragma once

#include "widgets/form.h"

#include <array>

class DataModule;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TDBCheckBox;
class TDBEdit;

// Edits the settings record through bound controls and the ten group names through plain edits, which
// keep their text between showings; OK writes both, every other way of closing discards the settings.
class TcfgFrm : public Form {
    Q_OBJECT
public:
    TcfgFrm(QWidget* parent, DataModule& data);

    QGroupBox* GroupBox1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    TDBEdit* DBEdit1;         // CompanyName
    TDBEdit* DBEdit2;         // CompanyAbbr
    TDBEdit* DBEdit3;         // DataBasePassword
    TDBCheckBox* DBCheckBox1; // PromptPasswordToStart; its caption is Label4
    QLabel* Label4;           // DBCheckBox1's caption, over two lines; a click on it toggles the box
    QGroupBox* GroupBox2;
    QLineEdit* Group0Name;
    QLineEdit* Group1Name;
    QLineEdit* Group2Name;
    QLineEdit* Group3Name;
    QLineEdit* Group4Name;
    QLineEdit* Group5Name;
    QLineEdit* Group6Name;
    QLineEdit* Group7Name;
    QLineEdit* Group8Name;
    QLineEdit* Group9Name;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

    // The edit of the group with digit d (0 to 9).
    QLineEdit* groupEdit(int d) const { return groupEdits_[static_cast<size_t>(d)]; }

    // Escape and the close box act as Cancel.
    void reject() override;

protected:
    void FormShow() override;
    void FormClose() override;

private:
    // Refuses (ConversionError, focus in the edit) a group name longer than a description holds.
    void checkGroupNames();
    void BitBtn1Click();
    void BitBtn2Click();

    DataModule& data_;
    std::array<QLineEdit*, 10> groupEdits_{};
};
