// The server login window. The password typed is handed to the connection once and not kept.
#include "app/serverlogin.h"

#include "widgets/dialogs.h"
#include "widgets/look.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TServerLoginFrm::TServerLoginFrm(QWidget* parent)
    : Form(parent, QStringLiteral("serverloginfrm"), QStringLiteral("Server Login"), QSize(396, 148)) {
    promptlabel = new QLabel(this);
    promptlabel->setObjectName(QStringLiteral("promptlabel"));
    promptlabel->setWordWrap(true);
    promptlabel->setGeometry(8, 6, 380, 36);

    PasswordLabel = new QLabel(QStringLiteral("Password:"), this);
    PasswordLabel->setObjectName(QStringLiteral("PasswordLabel"));
    Look::makeBold(PasswordLabel);
    PasswordLabel->setGeometry(8, 46, 380, 20);

    Password = new QLineEdit(this);
    Password->setObjectName(QStringLiteral("Password"));
    Password->setEchoMode(QLineEdit::Password);
    Password->setGeometry(8, 68, 380, 26);
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
    connect(BitBtn1, &QPushButton::clicked, this, [this] { setModalResult(mrOk); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { setModalResult(mrCancel); });
}

std::optional<QString> TServerLoginFrm::ask(const QString& server, const QString& login) {
    promptlabel->setText(
        QStringLiteral("The register server %1 asks for the password of the login '%2'.").arg(server, login));
    Password->clear();
    Password->setFocus();
    const bool given = Dialogs::showModal(*this) == mrOk;
    const QString typed = Password->text();
    Password->clear();
    return given ? std::optional<QString>(typed) : std::nullopt;
}
