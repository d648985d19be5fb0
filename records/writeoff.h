// The write-off window: flags the current asset of the list as written off, with the person, the final
// value, the reason and today's date, all saved together.
#pragma once

#include "widgets/form.h"

#include <QString>

class DataModule;
class QLabel;
class QPushButton;
class TDBCheckBox;
class TDBComboBox;
class TDBEdit;
class TDBText;

// Works on the list's current asset, which is in edit state from showing to closing: Write Off saves the
// edit, every other way of closing discards it.
class Twriteofffrm : public Form {
    Q_OBJECT
public:
    Twriteofffrm(QWidget* parent, DataModule& data);

    QLabel* Image1;
    QLabel* Label1;           // the warning
    TDBEdit* DBEdit15;        // WrittenOffBy
    TDBEdit* DBEdit17;        // WrittenDownValue
    TDBComboBox* DBComboBox1; // WrittenOffReason
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QLabel* Label5;           // "Asset:", before the asset the window acts on
    TDBText* DBText1;         // ASSETID
    TDBText* DBText2;         // Description
    TDBCheckBox* WriteOFFChk; // WrittenOff, hidden
    TDBEdit* datewrittenoff;  // WrittenOffDate, hidden

    // Escape and the close box act as Cancel.
    void reject() override;

protected:
    void FormShow() override;
    void FormClose() override;

private:
    // A stored asset is current in the list (not an empty list, not an unsaved new record).
    bool hasAsset() const;
    // For an asset already written off: asks whether to write it off again, naming the stored date and
    // person. True to go on.
    bool confirmWriteOffAgain() const;
    void BitBtn1Click();
    void BitBtn2Click();

    DataModule& data_;
    // The stored write-off of the current asset when the window was shown (the edits change the record).
    bool wasWrittenOff_ = false;
    QString previousDate_; // in the short date format
    QString previousPerson_;
};
