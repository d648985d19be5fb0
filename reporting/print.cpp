// The print choice. It produces the report while it stays open behind the status window and the viewer,
// and closes with OK only once the viewer has been closed; a report that fails leaves it open.
#include "reporting/print.h"

#include "reporting/reportwriter.h"
#include "widgets/guard.h"
#include "widgets/look.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

Tprintfrm::Tprintfrm(QWidget* parent, TDBGrid& DBGrid1, ReportWriter& writer)
    : Form(parent, QStringLiteral("printfrm"), QStringLiteral("Print"), QSize(306, 133)), DBGrid1_(DBGrid1),
      writer_(writer) {
    printoptions = new QGroupBox(QStringLiteral("Print"), this);
    printoptions->setObjectName(QStringLiteral("printoptions"));
    Look::makeMauve(printoptions);
    printoptions->setGeometry(8, 6, 290, 80);

    CurrentListItem = new QRadioButton(QStringLiteral("Current List"), printoptions);
    CurrentListItem->setObjectName(QStringLiteral("CurrentListItem"));
    CurrentListItem->setGeometry(14, 24, 260, 24);
    SelectedItemItem = new QRadioButton(QStringLiteral("Details of Selected Item"), printoptions);
    SelectedItemItem->setObjectName(QStringLiteral("SelectedItemItem"));
    SelectedItemItem->setGeometry(14, 50, 260, 24);
    items_ = new QButtonGroup(this);
    items_->addButton(CurrentListItem, 0);
    items_->addButton(SelectedItemItem, 1);
    CurrentListItem->setChecked(true);

    BitBtn1 = new QPushButton(Look::okIcon(), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setIconSize(QSize(12, 12));
    BitBtn1->setDefault(true);
    BitBtn1->setGeometry(56, 95, 90, 30);

    BitBtn2 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(160, 95, 90, 30);

    setTabOrder(CurrentListItem, SelectedItemItem);
    setTabOrder(SelectedItemItem, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &Tprintfrm::BitBtn1Click);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &Tprintfrm::BitBtn2Click);
}

int Tprintfrm::itemIndex() const {
    return items_->checkedId() < 0 ? 0 : items_->checkedId();
}

void Tprintfrm::setItemIndex(int index) {
    (index == 1 ? SelectedItemItem : CurrentListItem)->setChecked(true);
}

void Tprintfrm::reject() {
    BitBtn2Click();
}

void Tprintfrm::BitBtn1Click() {
    if (itemIndex() == 0) {
        writer_.ReportGridAsTable(QStringLiteral("Asset List"), DBGrid1_);
    } else {
        writer_.ReportRecordAsList(QStringLiteral("Item Details"), DBGrid1_);
    }
    setModalResult(mrOk);
}

void Tprintfrm::BitBtn2Click() {
    setModalResult(mrCancel);
}
