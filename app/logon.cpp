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

    PasswordLabel = new QLabel(QStringLiteral("Password:"), this);
    PasswordLabel->setObjectName(QStringLiteral("PasswordLabel"));
    Look::makeBold(PasswordLabel);
    PasswordLabel->setGeometry(152, 46, 236, 20);

    Password = new QLineEdit(this);
    Password->setObjectName(QStringLiteral("Password"));
    Password->setEchoMode(QLineEdit::Password);
    Password->setGeometry(152, 68, 236, 26);
    PasswordLabel->setBuddy(Password);

    BitBtn1 = new QPushButton(Look::okGlyph(), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setIconSize(QSize(12, 12));
    BitBtn1->setDefault(true);
    BitBtn1->setGeometry(152, 108, 110, 30);

    BitBtn2 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setGeometry(278, 108, 110, 30);

    setTabOrder(Password, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &Tlogonfrm::BitBtn1Click);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &Tlogonfrm::BitBtn2Click);
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
