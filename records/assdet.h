// The asset detail window and the operations that start new assets, make their identifiers and open an
// existing asset for editing. The window works on the current record of the asset list; it holds no copy.
#pragma once

#include "widgets/form.h"

#include <QList>
#include <QString>

class DataModule;
class QLabel;
class QPushButton;
class TDBCheckBox;
class TDBComboBox;
class TDBLookupComboBox;
class TDBText;

// True while the detail window adds assets; set by AddAsset and AddAnotherAsset, cleared only by EditAsset.
extern bool AddingAsset;

// Shows every column of the current asset through bound controls; adds new assets (AddingAsset) or saves
// changes to a stored one. Owns only its controls and the drop-down lists they gather during the run.
class Tassdetfrm : public Form {
    Q_OBJECT
public:
    // The password window is created after this one; saving reaches it through PasswordGiven().
    Tassdetfrm(QWidget* parent, DataModule& data);
    ~Tassdetfrm() override;
    DataModule& data() const { return data_; }

    TDBText* DBText1; // the identifier, display only
    TDBText* DBText2; // the settings' abbreviation, hidden
    TDBLookupComboBox* assetlookup;
    TDBComboBox* orderNumber;
    TDBComboBox* DBEdit2;
    TDBComboBox* DBEdit3;
    TDBComboBox* DBEdit6;
    TDBComboBox* DBEdit4;
    TDBComboBox* DBEdit5;
    TDBComboBox* DBEdit9;
    TDBComboBox* DBEdit8;
    TDBComboBox* DBComboBox1;
    TDBComboBox* DBEdit7;
    TDBComboBox* DBEdit12;
    TDBCheckBox* DBCheckBox1;
    TDBComboBox* DBEdit18;
    TDBCheckBox* DBCheckBox2;
    TDBComboBox* DBEdit19;
    TDBComboBox* DBEdit20;
    TDBComboBox* DBEdit21;
    TDBCheckBox* DBCheckBox;
    TDBComboBox* DBEdit14;
    TDBComboBox* DBEdit17;
    TDBComboBox* DBEdit15;
    TDBComboBox* DBEdit16;
    QPushButton* OKBTN;
    QPushButton* BitBtn3;

    // The nineteen drop-down edits, in tab order; each gathers the texts it held when left.
    const QList<TDBComboBox*>& dropDowns() const { return dropDowns_; }

    // Escape and the close box act as Close.
    void reject() override;

protected:
    void FormShow() override;
    void FormClose() override;

private:
    TDBComboBox* addDropDown(const QString& name, const QString& caption, const QString& field, QRect labelBox,
                             QRect box);
    QLabel* addLabel(const QString& name, const QString& caption, QRect box);

    void assetlookupChange();
    void assetlookupExit();
    void CommonExit();
    void DBEdit6Enter();
    void DBCheckBox1Click();
    void DBCheckBox2Click();
    void OKBTNClick();
    void BitBtn3Click();

    DataModule& data_;
    QList<TDBComboBox*> dropDowns_;
};

extern Tassdetfrm* assdetfrm;

// The zeros put before a running number: "00" for one digit, "0" for two, none for three or more.
QString LeadingZeros(const QString& digits);
// Gives the new asset record of the list its identifier: abbreviation, group, zero-filled running number.
// The running number is one more than the group's stored assets, raised past any identifier already in
// use. Requires: the list's current record is being inserted.
void MakeAssetId();
// Starts a new asset in the first named group with its identifier and shows the detail window for it.
// Nothing is inserted when the identifier cannot be made.
void AddAsset();
// As AddAsset, for the window that is already showing: the focus goes to the group selector.
void AddAnotherAsset();
// Shows the detail window on the list's current asset, its group fixed; refuses when there is none.
void EditAsset();
