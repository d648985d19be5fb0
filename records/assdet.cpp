// The asset detail window: adding assets with generated identifiers and editing stored ones, all through
// controls bound to the asset list's current record. The window counts the group's stored assets in
// Query2; the identifier rule itself (zero fill, numbers already taken) is data/assetids.
#include "records/assdet.h"

#include "app/logon.h"
#include "app/writeaccess.h"
#include "data/assetids.h"
#include "data/datamodule.h"
#include "data/errors.h"
#include "data/jetsql.h"
#include "records/historywindow.h"
#include "records/saveconflict.h"
#include "widgets/dbcontrols.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"
#include "widgets/look.h"

#include <QDate>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

Tassdetfrm::Tassdetfrm(QWidget* parent, DataModule& data, Tlogonfrm& password)
    : Form(parent, QStringLiteral("assdetfrm"), QStringLiteral("Asset Information"), QSize(688, 482)), data_(data),
      password_(password) {
    DataSource* source = &data_.mainsource;
    data_.mainquery.setDuplicateKeyText(QStringLiteral("An asset with the identifier '%1' is already in the register. "
                                                       "Choose the group again to get a new identifier."));

    // Columns of the two-column rows: label and box on the left, label and box on the right.
    constexpr int leftLabel = 8, leftBox = 160, leftWidth = 180;
    constexpr int rightLabel = 350, rightBox = 512, rightWidth = 168;
    constexpr int labelWidth = 150, rightLabelWidth = 160, h = 26;
    auto left = [&](int y) { return QRect(leftLabel, y, labelWidth, h); };
    auto leftField = [&](int y) { return QRect(leftBox, y, leftWidth, h); };
    auto right = [&](int y) { return QRect(rightLabel, y, rightLabelWidth, h); };
    auto rightField = [&](int y) { return QRect(rightBox, y, rightWidth, h); };

    addLabel(QStringLiteral("Label1"), QStringLiteral("Asset ID:"), QRect(8, 8, 70, h));
    DBText1 = new TDBText(this);
    DBText1->setObjectName(QStringLiteral("DBText1"));
    DBText1->setGeometry(80, 8, 96, h);
    DBText1->setDataBinding(source, QStringLiteral("ASSETID"));
    {
        QFont f = DBText1->font();
        f.setBold(true);
        DBText1->setFont(f);
        QPalette p = DBText1->palette();
        p.setColor(QPalette::WindowText, Qt::blue);
        DBText1->setPalette(p);
    }

    addLabel(QStringLiteral("Label2"), QStringLiteral("Asset Group:"), QRect(184, 8, 96, h));
    assetlookup = new TDBLookupComboBox(this);
    assetlookup->setObjectName(QStringLiteral("assetlookup"));
    assetlookup->setGeometry(282, 8, 150, h);
    assetlookup->setDataBinding(source, QStringLiteral("ItemGroup"));
    assetlookup->setListSource(&data_.GroupsTableDataSource, QStringLiteral("GroupNumber"),
                               QStringLiteral("Description"));
    assetlookup->setListWidth(300);

    orderNumber = addDropDown(QStringLiteral("orderNumber"), QStringLiteral("Purchase Order:"),
                              QStringLiteral("OrderNumber"), QRect(440, 8, 118, h), QRect(560, 8, 120, h));
    DBEdit2 = addDropDown(QStringLiteral("DBEdit2"), QStringLiteral("Make:"), QStringLiteral("Make"), left(42),
                          leftField(42));
    DBEdit3 = addDropDown(QStringLiteral("DBEdit3"), QStringLiteral("Model:"), QStringLiteral("Model"), right(42),
                          rightField(42));
    DBEdit6 = addDropDown(QStringLiteral("DBEdit6"), QStringLiteral("Date Purchased:"), QStringLiteral("DatePurchased"),
                          left(72), leftField(72));
    DBEdit4 = addDropDown(QStringLiteral("DBEdit4"), QStringLiteral("Serial #:"), QStringLiteral("SerialNumber"),
                          right(72), rightField(72));
    DBEdit5 = addDropDown(QStringLiteral("DBEdit5"), QStringLiteral("Description:"), QStringLiteral("Description"),
                          left(102), QRect(leftBox, 102, 680 - leftBox, h));
    DBEdit9 = addDropDown(QStringLiteral("DBEdit9"), QStringLiteral("Supplier:"), QStringLiteral("Supplier"), left(132),
                          leftField(132));
    DBEdit8 = addDropDown(QStringLiteral("DBEdit8"), QStringLiteral("Purchased By:"), QStringLiteral("PurchasedBy"),
                          right(132), rightField(132));
    DBComboBox1 = addDropDown(QStringLiteral("DBComboBox1"), QStringLiteral("Located:"), QStringLiteral("Location"),
                              QRect(8, 162, 70, h), QRect(80, 162, 120, h));
    DBEdit7 = addDropDown(QStringLiteral("DBEdit7"), QStringLiteral("Cost: $"), QStringLiteral("TotalCost"),
                          QRect(208, 162, 56, h), QRect(266, 162, 90, h));
    DBEdit12 = addDropDown(QStringLiteral("DBEdit12"), QStringLiteral("Warranty Period:"),
                           QStringLiteral("WarrantyPeriod"), QRect(364, 162, 128, h), QRect(494, 162, 186, h));

    DBCheckBox1 = new TDBCheckBox(this);
    DBCheckBox1->setObjectName(QStringLiteral("DBCheckBox1"));
    DBCheckBox1->setText(QStringLiteral("Electrical Item"));
    DBCheckBox1->setGeometry(8, 192, 332, h);
    DBCheckBox1->setDataBinding(source, QStringLiteral("isElectrical"));
    DBEdit18 = addDropDown(QStringLiteral("DBEdit18"), QStringLiteral("Last Electrical Check:"),
                           QStringLiteral("LastTestTag"), right(192), rightField(192));

    DBCheckBox2 = new TDBCheckBox(this);
    DBCheckBox2->setObjectName(QStringLiteral("DBCheckBox2"));
    DBCheckBox2->setText(QStringLiteral("Item on Loan"));
    DBCheckBox2->setGeometry(8, 222, 332, h);
    DBCheckBox2->setDataBinding(source, QStringLiteral("itemBorrowed"));
    DBEdit19 = addDropDown(QStringLiteral("DBEdit19"), QStringLiteral("Borrower:"), QStringLiteral("Borrower"),
                           right(222), rightField(222));
    DBEdit20 = addDropDown(QStringLiteral("DBEdit20"), QStringLiteral("Borrowed On:"), QStringLiteral("BorrowedOn"),
                           left(252), leftField(252));
    DBEdit21 = addDropDown(QStringLiteral("DBEdit21"), QStringLiteral("Expected Return:"),
                           QStringLiteral("ExpectedReturn"), right(252), rightField(252));

    // The write-off section can be looked at and tabbed through; only the write-off window changes it.
    DBCheckBox = new TDBCheckBox(this);
    DBCheckBox->setObjectName(QStringLiteral("DBCheckBox"));
    DBCheckBox->setText(
        QStringLiteral("Item Written off - You must change this section by clicking Write Off in the main menu"));
    DBCheckBox->setGeometry(8, 290, 672, h);
    DBCheckBox->setDataBinding(source, QStringLiteral("WrittenOff"));
    DBCheckBox->setReadOnly(true);
    DBEdit14 = addDropDown(QStringLiteral("DBEdit14"), QStringLiteral("Date Written Off:"),
                           QStringLiteral("WrittenOffDate"), left(320), leftField(320));
    DBEdit17 = addDropDown(QStringLiteral("DBEdit17"), QStringLiteral("Written Off Value: $"),
                           QStringLiteral("WrittenDownValue"), right(320), rightField(320));
    DBEdit15 = addDropDown(QStringLiteral("DBEdit15"), QStringLiteral("Written off By:"),
                           QStringLiteral("WrittenOffBy"), left(350), leftField(350));
    DBEdit16 = addDropDown(QStringLiteral("DBEdit16"), QStringLiteral("Reason for Write off:"),
                           QStringLiteral("WrittenOffReason"), left(380), QRect(leftBox, 380, 680 - leftBox, h));
    for (TDBComboBox* box : {DBEdit14, DBEdit17, DBEdit15, DBEdit16}) {
        box->setReadOnly(true);
    }
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label != DBText1) {
            Look::makeBold(label);
        }
    }
    for (TDBCheckBox* box : {DBCheckBox1, DBCheckBox2, DBCheckBox}) {
        // As wide as its caption: a click beside the caption would not reach the box.
        Look::makeBold(box);
        box->resize(std::min(box->sizeHint().width(), 672), box->height());
    }

    OKBTN = new QPushButton(Look::okIcon(), QStringLiteral("OK"), this);
    OKBTN->setObjectName(QStringLiteral("OKBTN"));
    OKBTN->setDefault(true);
    OKBTN->setAutoDefault(false);
    OKBTN->setGeometry(8, 436, 110, 34);
    BitBtn3 = new QPushButton(QStringLiteral("Close"), this);
    BitBtn3->setObjectName(QStringLiteral("BitBtn3"));
    BitBtn3->setAutoDefault(false);
    BitBtn3->setGeometry(126, 436, 110, 34);
    historyButton = new QPushButton(QStringLiteral("&History"), this);
    historyButton->setObjectName(QStringLiteral("historyButton"));
    historyButton->setAutoDefault(false);
    historyButton->setGeometry(570, 436, 110, 34);

    DBText2 = new TDBText(this);
    DBText2->setObjectName(QStringLiteral("DBText2"));
    DBText2->setDataBinding(&data_.SystemTableDataSource, QStringLiteral("CompanyAbbr"));
    DBText2->hide();

    conflictWindow = new SaveConflictWindow(this);
    historyWindow = new HistoryWindow(this, data_.ADOConnection1);

    QList<QWidget*> order;
    for (TDBComboBox* box :
         {orderNumber, DBEdit2, DBEdit3, DBEdit6, DBEdit4, DBEdit5, DBEdit9, DBEdit8, DBComboBox1, DBEdit7, DBEdit12}) {
        order << box;
    }
    order << DBCheckBox1 << DBEdit18 << DBCheckBox2 << DBEdit19 << DBEdit20 << DBEdit21 << DBCheckBox << DBEdit14
          << DBEdit17 << DBEdit15 << DBEdit16 << OKBTN << BitBtn3 << historyButton << assetlookup;
    for (qsizetype i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    connectGuarded(assetlookup, &TDBLookupComboBox::userChanged, this, &Tassdetfrm::assetlookupChange);
    connectGuarded(assetlookup, &TDBLookupComboBox::exited, this, &Tassdetfrm::assetlookupExit);
    for (TDBComboBox* box : dropDowns_) {
        connectGuarded(box, &TDBComboBox::exited, this, &Tassdetfrm::CommonExit);
    }
    connectGuarded(DBEdit6, &TDBComboBox::entered, this, &Tassdetfrm::DBEdit6Enter);
    connectGuarded(DBCheckBox1, &TDBCheckBox::userClicked, this, &Tassdetfrm::DBCheckBox1Click);
    connectGuarded(DBCheckBox2, &TDBCheckBox::userClicked, this, &Tassdetfrm::DBCheckBox2Click);
    connectGuarded(OKBTN, &QPushButton::clicked, this, &Tassdetfrm::OKBTNClick);
    connectGuarded(BitBtn3, &QPushButton::clicked, this, &Tassdetfrm::BitBtn3Click);
    connectGuarded(historyButton, &QPushButton::clicked, this, &Tassdetfrm::historyButtonClick);
}

// The identifier for a new asset of group: the count rule of Query2, then the next number not in use.
// Query2 is left open on the count. ConversionError when the identifier would not fit its column.
QString Tassdetfrm::nextAssetId(const QString& group) {
    Dataset& q = data_.Query2;
    q.close();
    q.clearSql();
    for (const QString& line : groupCountStatement(group)) {
        q.addSql(line);
    }
    q.open();
    return nextFreeAssetId(data_.ADOConnection1,
                           data_.SystemTable.fieldByName(QStringLiteral("CompanyAbbr")).asString(), group,
                           q.fieldByName(QStringLiteral("gTotal")).asInteger());
}

// Starts a new asset record in the first named group, with its identifier. The identifier is made before
// the record is inserted, so a failing count leaves no half-made record that a later move of the list
// would save.
void Tassdetfrm::startNewAsset() {
    AddingAsset = true;
    assetlookup->setReadOnly(false);
    historyButton->setEnabled(false); // a new asset has no history until it is saved
    data_.GroupsTable.close();
    data_.GroupsTable.open();
    QString group;
    if (data_.GroupsTable.recordCount() > 0) {
        data_.GroupsTable.first();
        group = data_.GroupsTable.fieldByName(QStringLiteral("GroupNumber")).asString();
    }
    const QString id = nextAssetId(group);
    data_.mainquery.insert();
    data_.mainquery.fieldByName(QStringLiteral("ItemGroup")).setAsString(group);
    data_.mainquery.fieldByName(QStringLiteral("ASSETID")).setAsString(id);
    generatedId_ = id;
}

void Tassdetfrm::MakeAssetId() {
    const QString group = data_.mainquery.fieldByName(QStringLiteral("ItemGroup")).asString();
    generatedId_ = nextAssetId(group);
    data_.mainquery.fieldByName(QStringLiteral("ASSETID")).setAsString(generatedId_);
}

void Tassdetfrm::postNewAsset() {
    Dataset& list = data_.mainquery;
    Connection& register_ = data_.ADOConnection1;
    const Field id = list.fieldByName(QStringLiteral("ASSETID"));
    for (int attempt = 1;; ++attempt) {
        try {
            // Nobody else can add an asset between this look and the insert.
            Connection::Transaction t(register_);
            register_.holdWriteLock();
            if (id.asString() == generatedId_ && assetIdInUse(register_, generatedId_)) {
                MakeAssetId();
            }
            list.post();
            t.commit();
            return;
        } catch (const DatabaseError&) {
            // A program that adds without that lock may still take the identifier first: the next free one is
            // tried. A typed identifier that is taken is refused as it is.
            if (attempt >= 5 || id.asString() != generatedId_ || !assetIdInUse(register_, generatedId_)) {
                throw;
            }
        }
    }
}

bool Tassdetfrm::postEditResolvingConflicts() {
    Dataset& list = data_.mainquery;
    for (;;) {
        try {
            list.post();
            return true;
        } catch (const StaleRowError&) {
        }
        const std::optional<std::vector<QVariant>> stored = list.storedNow();
        if (!stored) {
            Dialogs::showMessage(
                QStringLiteral("The asset '%1' was deleted by another program after you opened it, so your changes "
                               "cannot be saved. Close this window; a new search brings the list up to date.")
                    .arg(list.fieldByName(QStringLiteral("ASSETID")).asString()));
            return false;
        }
        switch (conflictWindow->ask(list, *stored)) {
        case SaveConflictWindow::KeepTyped:
            list.rebaseEdit(*stored, true);
            continue; // saved guarded again: another save meanwhile asks again
        case SaveConflictWindow::TakeStored:
            list.rebaseEdit(*stored, false);
            return false;
        case SaveConflictWindow::BackToForm:
            return false;
        }
    }
}

bool Tassdetfrm::refuseGoneAsset() {
    Dataset& list = data_.mainquery;
    if (!list.active() || !list.rowGone(list.recNo())) {
        return false;
    }
    Dialogs::showMessage(QStringLiteral("The asset '%1' was deleted by another program after the list was read, so "
                                        "it can no longer be changed. Search again to bring the list up to date.")
                             .arg(list.fieldByName(QStringLiteral("ASSETID")).asString()));
    return true;
}

void Tassdetfrm::AddAsset() {
    startNewAsset();
    Dialogs::showModal(*this);
}

void Tassdetfrm::AddAnotherAsset() {
    startNewAsset();
    assetlookup->setFocus(Qt::OtherFocusReason);
}

void Tassdetfrm::EditAsset() {
    if (!data_.mainquery.active() || data_.mainquery.isEmpty()) {
        Dialogs::showMessage(QStringLiteral("There is no asset selected"));
        return;
    }
    if (refuseGoneAsset()) {
        return;
    }
    data_.GroupsTable.close();
    data_.GroupsTable.open();
    AddingAsset = false;
    assetlookup->setReadOnly(true);
    historyButton->setEnabled(true);
    Dialogs::showModal(*this);
}

QLabel* Tassdetfrm::addLabel(const QString& name, const QString& caption, QRect box) {
    auto* label = new QLabel(caption, this);
    label->setObjectName(name);
    label->setGeometry(box);
    return label;
}

TDBComboBox* Tassdetfrm::addDropDown(const QString& name, const QString& caption, const QString& field, QRect labelBox,
                                     QRect box) {
    QLabel* label = addLabel(name + QStringLiteral("Label"), caption, labelBox);
    auto* combo = new TDBComboBox(this);
    combo->setObjectName(name);
    combo->setGeometry(box);
    combo->setDataBinding(&data_.mainsource, field);
    label->setBuddy(combo);
    dropDowns_.append(combo);
    return combo;
}

void Tassdetfrm::FormShow() {
    assetlookup->setFocus(Qt::OtherFocusReason);
}

void Tassdetfrm::FormClose() {
    data_.mainquery.cancel();
}

void Tassdetfrm::reject() {
    BitBtn3Click();
}

void Tassdetfrm::assetlookupChange() {
    // The identifier follows the group at once, so Enter straight after choosing saves the right one.
    if (AddingAsset && data_.mainquery.isInserting()) {
        MakeAssetId();
    }
}

void Tassdetfrm::assetlookupExit() {
    if (AddingAsset && data_.mainquery.isInserting()) {
        MakeAssetId();
    }
}

void Tassdetfrm::CommonExit() {
    auto* box = qobject_cast<TDBComboBox*>(sender());
    if (box) {
        box->addItem(box->currentText());
    }
}

void Tassdetfrm::DBEdit6Enter() {
    // Only an empty date is filled in: a date the user typed is kept when they come back to the field.
    if (!data_.mainquery.isInserting()) {
        return;
    }
    const Field purchased = data_.mainquery.fieldByName(QStringLiteral("DatePurchased"));
    if (purchased.isNull()) {
        purchased.setAsDate(QDate::currentDate());
    }
}

void Tassdetfrm::DBCheckBox1Click() {
    if (data_.mainquery.isInserting()) {
        data_.mainquery.fieldByName(QStringLiteral("LastTestTag")).setAsDate(QDate::currentDate());
    }
}

void Tassdetfrm::DBCheckBox2Click() {
    if (data_.mainquery.isInserting()) {
        const QDate today = QDate::currentDate();
        data_.mainquery.fieldByName(QStringLiteral("BorrowedOn")).setAsDate(today);
        data_.mainquery.fieldByName(QStringLiteral("ExpectedReturn")).setAsDate(today.addDays(30));
    }
}

void Tassdetfrm::OKBTNClick() {
    if (!updateAllControls(this)) {
        return;
    }
    Dataset& list = data_.mainquery;
    const bool pending = list.state() == Dataset::State::Insert || list.state() == Dataset::State::Edit;
    if (!pending || (list.state() == Dataset::State::Edit && !list.isModified())) {
        // Nothing to save: the window simply closes.
        setModalResult(mrOk);
        return;
    }
    if (list.isInserting() && list.fieldByName(QStringLiteral("ASSETID")).asString().isEmpty()) {
        Dialogs::showMessage(QStringLiteral("This item has no Asset ID, so it cannot be saved. Choose its group to "
                                            "give it one."));
        return;
    }
    if (!mayChangeRegister(data_.ADOConnection1)) {
        return;
    }
    if (AddingAsset) {
        postNewAsset();
        const QString id = list.fieldByName(QStringLiteral("ASSETID")).asString();
        if (Dialogs::askYesNo(QStringLiteral("Don't forget to engrave the item with '") + id +
                              QStringLiteral("'. Do you want to add another item?"))) {
            AddAnotherAsset();
        } else {
            setModalResult(mrOk);
        }
        return;
    }
    if (!password_.PasswordGiven()) {
        Dialogs::showMessage(QStringLiteral("You cannot change an item unless you enter the correct password"));
        return;
    }
    if (postEditResolvingConflicts()) {
        setModalResult(mrOk);
    }
}

void Tassdetfrm::BitBtn3Click() {
    setModalResult(mrCancel);
}

void Tassdetfrm::historyButtonClick() {
    // What is saved: typing not yet saved is not history.
    const Dataset& list = data_.mainquery;
    const int id = list.findField(QStringLiteral("ASSETID"));
    const int description = list.findField(QStringLiteral("Description"));
    historyWindow->showFor(list.originalValue(id).toString(), list.originalValue(description).toString());
}
