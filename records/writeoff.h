// The write-off window: flags the current asset of the list as written off, with the person, the final
// value, the reason and today's date, all saved together.
#pragma once

#include "widgets/form.h"

class DataModule;
class QLabel;
class QPushButton;
class TDBCheckBox;
class TDBComboBox;
class TDBEdit;

// Works on the list's current asset, which is in edit state from showing to closing: Write Off saves the
// edit, every other way of closing discards it.
class Twriteofffrm : public Form {
    Q_OBJECT
public:
    Twriteofffrm(QWidget* parent, DataModule& data);
    ~Twriteofffrm() override;

    QLabel* Image1;
    QLabel* Label1; // the warning
    TDBEdit* DBEdit15;
    TDBEdit* DBEdit17;
    TDBComboBox* DBComboBox1;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    TDBCheckBox* WriteOFFChk;
    TDBEdit* datewrittenoff;

    // Escape and the close box act as Cancel.
    void reject() override;

protected:
    void FormShow() override;
    void FormClose() override;

private:
    // A stored asset is current in the list (not an empty list, not an unsaved new record).
    bool hasAsset() const;
    void BitBtn1Click();
    void BitBtn2Click();

    DataModule& data_;
};

extern Twriteofffrm* writeofffrm;
