// The password window. The stored password is re-read at every OK, so a password changed in the
// configuration counts at the very next try; the comparison ignores the case of ASCII letters only.
#include "app/logon.h"

#include "app/session.h"
#include "data/asciicase.h"
#include "data/datamodule.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"
#include "widgets/look.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

Tlogonfrm::Tlogonfrm(QWidget* parent, DataModule& data, Session& session,
                     std::function<void(const QString&)> setMainCaption)
    : Form(parent, QStringLiteral("logonfrm"), QStringLiteral("Security"), QSize(396, 148)), data_(data),
      session_(session), setMainCaption_(std::move(setMainCaption)) {
    // Painted over white rather than the tiles: the padlock picture is drawn transparent on it.
    setBackgroundPicture(true);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(Look::pixmap(QStringLiteral("padlock.png"), QSize(146, 146)));
    Image1->setGeometry(0, 1, 146, 146);

    promptlabel = new QLabel(this);
    promptlabel->setObjectName(QStringLiteral("promptlabel"));
    promptlabel->setFont(Look::font(13));
    promptlabel->setWordWrap(true);
    promptlabel->setGeometry(152, 6, 236, 36);

    const PasswordFields fields = addPasswordFields(this, 152, 236);
    PasswordLabel = fields.label;
    Password = fields.edit;
    BitBtn1 = fields.ok;
    BitBtn2 = fields.cancel;
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &Tlogonfrm::BitBtn1Click);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &Tlogonfrm::BitBtn2Click);
}

PasswordFields addPasswordFields(QWidget* window, int left, int width) {
    PasswordFields f{};
    f.label = new QLabel(QStringLiteral("Password:"), window);
    f.label->setObjectName(QStringLiteral("PasswordLabel"));
    Look::makeBold(f.label);
    f.label->setGeometry(left, 46, width, 20);

    f.edit = new QLineEdit(window);
    f.edit->setObjectName(QStringLiteral("Password"));
    f.edit->setEchoMode(QLineEdit::Password);
    f.edit->setGeometry(left, 68, width, 26);
    f.label->setBuddy(f.edit);

    f.ok = new QPushButton(Look::okGlyph(), QStringLiteral("OK"), window);
    f.ok->setObjectName(QStringLiteral("BitBtn1"));
    f.ok->setIconSize(QSize(12, 12));
    f.ok->setDefault(true);
    f.ok->setGeometry(152, 108, 110, 30);

    f.cancel = new QPushButton(QStringLiteral("Cancel"), window);
    f.cancel->setObjectName(QStringLiteral("BitBtn2"));
    f.cancel->setGeometry(278, 108, 110, 30);

    QWidget::setTabOrder(f.edit, f.ok);
    QWidget::setTabOrder(f.ok, f.cancel);
    return f;
}

bool Tlogonfrm::PasswordGiven() {
    return session_.LoggedOn || Dialogs::showModal(*this) == mrOk;
}

void Tlogonfrm::FormShow() {
    const bool atStart = data_.SystemTable.fieldByName(QStringLiteral("PromptPasswordToStart")).asBoolean();
    promptlabel->setText(atStart ? QStringLiteral("You must enter a password to get into this system")
                                 : QStringLiteral("You must enter a password to make changes. Otherwise click cancel"));
    Password->setFocus();
}

void Tlogonfrm::BitBtn1Click() {
    Dataset& settings = data_.SystemTable;
    settings.close();
    settings.open();
    settings.first();
    const QString typed = upperAscii(Password->text());
    const QString stored = upperAscii(settings.fieldByName(QStringLiteral("DataBasePassword")).asString());
    if (typed == stored) {
        session_.LoggedOn = true;
        setMainCaption_(QStringLiteral("Vantrel"));
        setModalResult(mrOk);
    } else {
        Dialogs::showMessage(QStringLiteral("This password is incorrect"));
    }
}

void Tlogonfrm::BitBtn2Click() {
    setModalResult(mrCancel);
}
