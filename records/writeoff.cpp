// The write-off window. The current asset enters edit state when the window shows; Write Off adds today's
// date and the flag and saves everything at once, while Cancel, Escape and the close box discard it all.
#include "records/writeoff.h"

#include "data/datamodule.h"
#include "widgets/dbcontrols.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"
#include "widgets/look.h"

#include <QDate>
#include <QLabel>
#include <QPushButton>

namespace {

const char* const kReasons[] = {
    "Uneconomical to repair",
    "Obsolete",
    "Missing at stock take",
    "Stolen",
    "Transferred to another site within organisation",
    "No longer needed",
    "Destroyed in disaster",
    "Donated to charity",
    "Sold in auction/public tender",
    "Deemed unsafe to use",
    "Mistake when Entering Asset",
};

} // namespace

Twriteofffrm::Twriteofffrm(QWidget* parent, DataModule& data)
    : Form(parent, QStringLiteral("writeofffrm"), QStringLiteral("Write Off Asset"), QSize(617, 214)), data_(data) {
    DataSource* source = &data_.mainsource;

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(Look::pixmap(QStringLiteral("recyclebin.png"), QSize(48, 48)));
    Image1->setGeometry(8, 8, 48, 48);

    Label1 = new QLabel(QStringLiteral("WARNING: Once you write off an asset there is no way of putting it back into "
                                       "the system with the current Asset ID. This is to protect the integrity of "
                                       "the database."),
                        this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setWordWrap(true);
    Label1->setGeometry(64, 4, 545, 60);

    constexpr int labelX = 8, labelWidth = 272, boxX = 284, h = 26;
    DBEdit15 = new TDBEdit(this);
    DBEdit15->setObjectName(QStringLiteral("DBEdit15"));
    DBEdit15->setGeometry(boxX, 70, 325, h);
    DBEdit15->setDataBinding(source, QStringLiteral("WrittenOffBy"));
    Look::boldLabel(this, QStringLiteral("Label2"), QStringLiteral("Enter person who is disposing Item:"),
                    QRect(labelX, 70, labelWidth, h), DBEdit15);

    DBEdit17 = new TDBEdit(this);
    DBEdit17->setObjectName(QStringLiteral("DBEdit17"));
    DBEdit17->setGeometry(boxX, 102, 120, h);
    DBEdit17->setDataBinding(source, QStringLiteral("WrittenDownValue"));
    Look::boldLabel(this, QStringLiteral("Label3"), QStringLiteral("Final Value of item at disposal: $"),
                    QRect(labelX, 102, labelWidth, h), DBEdit17);

    DBComboBox1 = new TDBComboBox(this);
    DBComboBox1->setObjectName(QStringLiteral("DBComboBox1"));
    DBComboBox1->setGeometry(boxX, 134, 325, h);
    for (const char* reason : kReasons) {
        DBComboBox1->addItem(QString::fromLatin1(reason));
    }
    DBComboBox1->setDataBinding(source, QStringLiteral("WrittenOffReason"));
    Look::boldLabel(this, QStringLiteral("Label4"), QStringLiteral("Reason this item is being written off:"),
                    QRect(labelX, 134, labelWidth, h), DBComboBox1);

    BitBtn1 = new QPushButton(Look::okIcon(), QStringLiteral("Write Off"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    BitBtn1->setAutoDefault(false);
    BitBtn1->setGeometry(boxX, 172, 120, 34);
    BitBtn2 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setAutoDefault(false);
    BitBtn2->setGeometry(boxX + 128, 172, 120, 34);

    // The asset acted on, beside the buttons: the list behind the window may show many alike.
    Label5 = new QLabel(QStringLiteral("Asset:"), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    Look::makeBold(Label5);
    Label5->setGeometry(labelX, 176, 52, h);
    DBText1 = new TDBText(this);
    DBText1->setObjectName(QStringLiteral("DBText1"));
    DBText1->setDataBinding(source, QStringLiteral("ASSETID"));
    Look::makeBold(DBText1);
    DBText1->setGeometry(labelX + 54, 176, 86, h);
    DBText2 = new TDBText(this);
    DBText2->setObjectName(QStringLiteral("DBText2"));
    DBText2->setDataBinding(source, QStringLiteral("Description"));
    DBText2->setGeometry(labelX + 142, 176, boxX - labelX - 146, h);

    WriteOFFChk = new TDBCheckBox(this);
    WriteOFFChk->setObjectName(QStringLiteral("WriteOFFChk"));
    WriteOFFChk->setText(QStringLiteral("WriteOFF"));
    WriteOFFChk->setDataBinding(source, QStringLiteral("WrittenOff"));
    WriteOFFChk->hide();
    datewrittenoff = new TDBEdit(this);
    datewrittenoff->setObjectName(QStringLiteral("datewrittenoff"));
    datewrittenoff->setDataBinding(source, QStringLiteral("WrittenOffDate"));
    datewrittenoff->hide();

    setTabOrder(DBEdit15, DBEdit17);
    setTabOrder(DBEdit17, DBComboBox1);
    setTabOrder(DBComboBox1, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &Twriteofffrm::BitBtn1Click);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &Twriteofffrm::BitBtn2Click);
}

bool Twriteofffrm::hasAsset() const {
    const Dataset& list = data_.mainquery;
    return list.active() && !list.isEmpty() && !list.isInserting();
}

void Twriteofffrm::FormShow() {
    // With no asset, editing the list would begin a new empty record that Write Off would save: the fields
    // and Write Off are disabled instead, leaving only Cancel.
    const bool asset = hasAsset();
    wasWrittenOff_ = false;
    for (QWidget* w : {static_cast<QWidget*>(DBEdit15), static_cast<QWidget*>(DBEdit17),
                       static_cast<QWidget*>(DBComboBox1), static_cast<QWidget*>(BitBtn1)}) {
        w->setEnabled(asset);
    }
    if (!asset) {
        BitBtn2->setFocus(Qt::OtherFocusReason);
        Dialogs::showMessage(QStringLiteral("There is no asset selected"));
        return;
    }
    DBEdit15->setFocus(Qt::OtherFocusReason);
    Dataset& list = data_.mainquery;
    wasWrittenOff_ = list.fieldByName(QStringLiteral("WrittenOff")).asBoolean();
    previousDate_ = list.fieldByName(QStringLiteral("WrittenOffDate")).asString();
    previousPerson_ = list.fieldByName(QStringLiteral("WrittenOffBy")).asString();
    list.edit();
}

bool Twriteofffrm::confirmWriteOffAgain() const {
    if (!wasWrittenOff_) {
        return true;
    }
    // A second write-off replaces the date and person of the first, so it is never done unasked.
    QString when;
    if (!previousDate_.isEmpty()) {
        when = QStringLiteral(" on ") + previousDate_;
    }
    if (!previousPerson_.isEmpty()) {
        when += QStringLiteral(" by ") + previousPerson_;
    }
    return Dialogs::askYesNo(
        QStringLiteral("This asset was written off%1. Write it off again with today's date?").arg(when));
}

void Twriteofffrm::FormClose() {
    data_.mainquery.cancel();
}

void Twriteofffrm::reject() {
    BitBtn2Click();
}

void Twriteofffrm::BitBtn1Click() {
    if (!hasAsset()) {
        Dialogs::showMessage(QStringLiteral("There is no asset selected"));
        return;
    }
    if (!confirmWriteOffAgain()) {
        return;
    }
    if (!updateAllControls(this)) {
        return;
    }
    Dataset& list = data_.mainquery;
    list.edit();
    list.fieldByName(QStringLiteral("WrittenOffDate")).setAsDate(QDate::currentDate());
    list.fieldByName(QStringLiteral("WrittenOff")).setAsBoolean(true);
    list.post();
    Dialogs::showMessage(QStringLiteral("Item now written off in Vantrel. Please dispose of item"));
    setModalResult(mrOk);
}

void Twriteofffrm::BitBtn2Click() {
    setModalResult(mrCancel);
}
