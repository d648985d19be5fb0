// The configuration window. The settings record is edited in place through bound controls from showing to
// closing; the group names live in plain edits and reach table Groups only through OK, one row per digit.
#include "config/cfg.h"

#include "data/datamodule.h"
#include "data/errors.h"
#include "data/schema.h"
#include "widgets/dbcontrols.h"
#include "widgets/guard.h"
#include "widgets/look.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

namespace {

TDBEdit* settingsEdit(QWidget* parent, const QString& name, DataSource* source, const QString& field, QRect box) {
    auto* edit = new TDBEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(box);
    edit->setMaxLength(kMaxTextLength);
    edit->setDataBinding(source, field);
    return edit;
}

// A word-wrapped caption for a check box that has no text of its own: a click on it toggles the box as a
// click on the box's own caption would, and its mnemonic leads to the box.
class CheckBoxCaption : public QLabel {
public:
    CheckBoxCaption(const QString& caption, QAbstractButton* box, QWidget* parent)
        : QLabel(caption, parent), box_(box) {
        setWordWrap(true);
        setBuddy(box);
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && box_->isEnabled()) {
            box_->setFocus(Qt::MouseFocusReason);
            box_->click();
        }
    }

private:
    QAbstractButton* box_;
};

} // namespace

TcfgFrm::TcfgFrm(QWidget* parent, DataModule& data)
    : Form(parent, QStringLiteral("cfgFrm"), QStringLiteral("Configuration"), QSize(688, 398)), data_(data) {
    DataSource* settings = &data_.SystemTableDataSource;

    GroupBox1 = new QGroupBox(QStringLiteral("Company Information"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 8, 672, 160);
    Look::makeMauve(GroupBox1);
    DBEdit1 = settingsEdit(GroupBox1, QStringLiteral("DBEdit1"), settings, QStringLiteral("CompanyName"),
                           QRect(160, 30, 500, 26));
    DBEdit2 = settingsEdit(GroupBox1, QStringLiteral("DBEdit2"), settings, QStringLiteral("CompanyAbbr"),
                           QRect(160, 64, 125, 26));
    DBEdit3 = settingsEdit(GroupBox1, QStringLiteral("DBEdit3"), settings, QStringLiteral("DataBasePassword"),
                           QRect(160, 98, 200, 26));
    DBEdit3->setEchoMode(QLineEdit::Password);
    Label1 = Look::boldLabel(GroupBox1, QStringLiteral("Label1"), QStringLiteral("Company Name:"),
                             QRect(12, 30, 146, 26), DBEdit1);
    Label2 = Look::boldLabel(GroupBox1, QStringLiteral("Label2"), QStringLiteral("Abbreviation:"),
                             QRect(12, 64, 146, 26), DBEdit2);
    Label3 = Look::boldLabel(GroupBox1, QStringLiteral("Label3"), QStringLiteral("Access Password:"),
                             QRect(12, 98, 146, 26), DBEdit3);
    // The box's caption is broken over two lines, which a check box's own text cannot be: the box has none,
    // and a word-wrapped label beside it stands for it.
    DBCheckBox1 = new TDBCheckBox(GroupBox1);
    DBCheckBox1->setObjectName(QStringLiteral("DBCheckBox1"));
    DBCheckBox1->setAccessibleName(QStringLiteral("Prompt for password to open program."));
    DBCheckBox1->setGeometry(400, 82, 22, 22);
    DBCheckBox1->setDataBinding(settings, QStringLiteral("PromptPasswordToStart"));
    Label4 = new CheckBoxCaption(QStringLiteral("Prompt for password to open program."), DBCheckBox1, GroupBox1);
    Label4->setObjectName(QStringLiteral("Label4"));
    Look::makeBold(Label4);
    Label4->setGeometry(424, 70, 160, 46);

    GroupBox2 = new QGroupBox(QStringLiteral("Asset Groups"), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(8, 176, 672, 174);
    Look::makeMauve(GroupBox2);
    // Two columns of five: 1 to 5 on the left, 6 to 9 and then 0 on the right.
    const int digitsInOrder[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0};
    for (int i = 0; i < 10; ++i) {
        const int d = digitsInOrder[i];
        const int x = i < 5 ? 12 : 344;
        const int y = 26 + (i % 5) * 29;
        auto* edit = new QLineEdit(GroupBox2);
        edit->setObjectName(QStringLiteral("Group%1Name").arg(d));
        edit->setGeometry(x + 30, y, 286, 26);
        Look::boldLabel(GroupBox2, QStringLiteral("Group%1Label").arg(d), QStringLiteral("%1:").arg(d),
                        QRect(x, y, 28, 26), edit);
        groupEdits_[static_cast<size_t>(d)] = edit;
    }
    Group0Name = groupEdits_[0];
    Group1Name = groupEdits_[1];
    Group2Name = groupEdits_[2];
    Group3Name = groupEdits_[3];
    Group4Name = groupEdits_[4];
    Group5Name = groupEdits_[5];
    Group6Name = groupEdits_[6];
    Group7Name = groupEdits_[7];
    Group8Name = groupEdits_[8];
    Group9Name = groupEdits_[9];

    BitBtn1 = new QPushButton(Look::okGlyph(), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setIconSize(QSize(12, 12));
    BitBtn1->setDefault(true);
    BitBtn1->setAutoDefault(false);
    BitBtn1->setGeometry(8, 358, 110, 32);
    BitBtn2 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setAutoDefault(false);
    BitBtn2->setGeometry(126, 358, 110, 32);

    QList<QWidget*> order{DBEdit1, DBEdit2, DBEdit3, DBCheckBox1};
    for (int d : digitsInOrder) {
        order << groupEdits_[static_cast<size_t>(d)];
    }
    order << BitBtn1 << BitBtn2;
    for (qsizetype i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &TcfgFrm::BitBtn1Click);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &TcfgFrm::BitBtn2Click);
}

void TcfgFrm::FormShow() {
    DBEdit1->setFocus(Qt::OtherFocusReason);
    Dataset& settings = data_.SystemTable;
    settings.close();
    settings.open();
    settings.edit();
    Dataset& groups = data_.cfgGroupsTable;
    groups.close();
    groups.open();
    // A digit without a row keeps whatever its edit showed when the window last closed.
    for (int d = 0; d < 10; ++d) {
        if (groups.locate(QStringLiteral("GroupNumber"), QString::number(d))) {
            groupEdit(d)->setText(groups.fieldByName(QStringLiteral("Description")).asString());
        }
    }
}

void TcfgFrm::FormClose() {
    data_.SystemTable.cancel();
    data_.cfgGroupsTable.cancel();
}

void TcfgFrm::reject() {
    BitBtn2Click();
}

void TcfgFrm::checkGroupNames() {
    for (int d = 0; d < 10; ++d) {
        QLineEdit* edit = groupEdit(d);
        if (edit->text().size() > kMaxTextLength) {
            edit->setFocus(Qt::OtherFocusReason);
            edit->selectAll();
            throw ConversionError(QStringLiteral("The name of group %1 has %2 characters; a group name holds at "
                                                 "most %3.")
                                      .arg(d)
                                      .arg(edit->text().size())
                                      .arg(kMaxTextLength));
        }
    }
}

void TcfgFrm::BitBtn1Click() {
    if (!updateAllControls(this)) {
        return;
    }
    checkGroupNames();
    Dataset& settings = data_.SystemTable;
    Dataset& groups = data_.cfgGroupsTable;
    // The groups are read afresh, so a group another program added since this window opened is updated, not
    // added a second time; a group refused by an earlier OK is written afresh below.
    groups.close();
    groups.open();
    // The settings and the ten groups are saved together or not at all: when anything fails, the transaction
    // rolls back, both datasets are as they were before this OK, and a second OK tries the whole again.
    Connection::Transaction saving(data_.ADOConnection1);
    if (settings.state() == Dataset::State::Edit || settings.state() == Dataset::State::Insert) {
        settings.post();
    }
    for (int d = 0; d < 10; ++d) {
        const QString digit = QString::number(d);
        if (groups.locate(QStringLiteral("GroupNumber"), digit)) {
            groups.edit();
        } else {
            groups.append();
            groups.fieldByName(QStringLiteral("GroupNumber")).setAsString(digit);
        }
        groups.fieldByName(QStringLiteral("Description")).setAsString(groupEdit(d)->text());
        groups.post();
    }
    saving.commit();
    groups.close();
    groups.open();
    setModalResult(mrOk);
}

void TcfgFrm::BitBtn2Click() {
    setModalResult(mrCancel);
}
