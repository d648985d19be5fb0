// The asset detail window and the operations that start new assets, make their identifiers and open an
// existing asset for editing. The window works on the current record of the asset list; it holds no copy.
#pragma once

#include "widgets/form.h"

#include <QList>
#include <QString>

class DataModule;
class Tlogonfrm;
class QLabel;
class QPushButton;
class TDBCheckBox;
class TDBComboBox;
class TDBLookupComboBox;
class TDBText;
class HistoryWindow;
class SaveConflictWindow;

// Shows every column of the current asset through bound controls; adds new assets (AddingAsset) or saves
// changes to a stored one. Owns only its controls and the drop-down lists they gather during the run.
class Tassdetfrm : public Form {
    Q_OBJECT
public:
    // Saving a change to a stored asset asks password for the access password first.
    Tassdetfrm(QWidget* parent, DataModule& data, Tlogonfrm& password);

    // The bound controls, each with the asset list's column it shows.
    TDBText* DBText1;               // ASSETID, display only
    TDBText* DBText2;               // the settings' CompanyAbbr, hidden
    TDBLookupComboBox* assetlookup; // ItemGroup, chosen from the named groups
    TDBComboBox* orderNumber;       // OrderNumber
    TDBComboBox* DBEdit2;           // Make
    TDBComboBox* DBEdit3;           // Model
    TDBComboBox* DBEdit6;           // DatePurchased
    TDBComboBox* DBEdit4;           // SerialNumber
    TDBComboBox* DBEdit5;           // Description
    TDBComboBox* DBEdit9;           // Supplier
    TDBComboBox* DBEdit8;           // PurchasedBy
    TDBComboBox* DBComboBox1;       // Location
    TDBComboBox* DBEdit7;           // TotalCost
    TDBComboBox* DBEdit12;          // WarrantyPeriod
    TDBCheckBox* DBCheckBox1;       // isElectrical
    TDBComboBox* DBEdit18;          // LastTestTag
    TDBCheckBox* DBCheckBox2;       // itemBorrowed
    TDBComboBox* DBEdit19;          // Borrower
    TDBComboBox* DBEdit20;          // BorrowedOn
    TDBComboBox* DBEdit21;          // ExpectedReturn
    TDBCheckBox* DBCheckBox;        // WrittenOff, read-only
    TDBComboBox* DBEdit14;          // WrittenOffDate, read-only
    TDBComboBox* DBEdit17;          // WrittenDownValue, read-only
    TDBComboBox* DBEdit15;          // WrittenOffBy, read-only
    TDBComboBox* DBEdit16;          // WrittenOffReason, read-only
    QPushButton* OKBTN;
    QPushButton* BitBtn3;
    QPushButton* historyButton; // the asset's history; for a stored asset, without the password

    // Gives the new asset record of the list its identifier (nextFreeAssetId for its group). Requires: the
    // list's current record is being inserted.
    void MakeAssetId();
    // Starts a new asset in the first named group with its identifier and shows this window for it.
    // Nothing is inserted when the identifier cannot be made.
    void AddAsset();
    // As AddAsset, for the window that is already showing: the focus goes to the group selector.
    void AddAnotherAsset();
    // Shows this window on the list's current asset, its group fixed; refuses when there is none, or when
    // another program has deleted it.
    void EditAsset();
    // Says so and gives true when another program deleted the list's current asset after the list was read.
    bool refuseGoneAsset();

    // Opened when a save of a changed asset is refused because another program saved it meanwhile.
    SaveConflictWindow* conflictWindow;
    // Opened by historyButton.
    HistoryWindow* historyWindow;

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
    QString nextAssetId(const QString& group);
    void startNewAsset();
    // Saves the new asset; an identifier this window made that another program has taken since is made again
    // in the same transaction as the insert.
    void postNewAsset();
    // Saves the changed asset; when another program saved it meanwhile, the person chooses what to keep.
    // True when saved.
    bool postEditResolvingConflicts();

    void assetlookupChange();
    void assetlookupExit();
    void CommonExit();
    void DBEdit6Enter();
    void DBCheckBox1Click();
    void DBCheckBox2Click();
    void OKBTNClick();
    void BitBtn3Click();
    void historyButtonClick();

    DataModule& data_;
    Tlogonfrm& password_;
    QList<TDBComboBox*> dropDowns_;
    // True while this window adds assets; set by AddAsset and AddAnotherAsset, cleared only by EditAsset,
    // so it keeps its value after the window closes.
    bool AddingAsset = false;
    QString generatedId_; // the identifier this window last made for the new asset
};
