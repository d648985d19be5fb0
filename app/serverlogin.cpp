// The server login window. The password typed is handed to the connection once and not kept.
#include "app/serverlogin.h"

#include "app/logon.h"
#include "widgets/dialogs.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TServerLoginFrm::TServerLoginFrm(QWidget* parent)
    : Form(parent, QStringLiteral("serverloginfrm"), QStringLiteral("Server Login"), QSize(396, 148)) {
    promptlabel = new QLabel(this);
    promptlabel->setObjectName(QStringLiteral("promptlabel"));
    promptlabel->setWordWrap(true);
    promptlabel->setGeometry(8, 6, 380, 36);

    const PasswordFields fields = addPasswordFields(this, 8, 380);
    PasswordLabel = fields.label;
    Password = fields.edit;
    BitBtn1 = fields.ok;
    BitBtn2 = fields.cancel;
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
