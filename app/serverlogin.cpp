// The server login window. The password typed is handed to the connection once and not kept.
#include "app/serverlogin.h"

#include "app/logon.h"
#include "widgets/dialogs.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

ServerLoginWindow::ServerLoginWindow(QWidget* parent)
    : Form(parent, QStringLiteral("ServerLoginWindow"), QStringLiteral("Server Login"), QSize(396, 148)) {
    promptLabel = new QLabel(this);
    promptLabel->setObjectName(QStringLiteral("promptLabel"));
    promptLabel->setWordWrap(true);
    promptLabel->setGeometry(8, 6, 380, 36);

    // The password window's row of fields, named here by their role in this window.
    const PasswordFields fields = addPasswordFields(this, 8, 380);
    passwordLabel = fields.label;
    passwordLabel->setObjectName(QStringLiteral("passwordLabel"));
    passwordEdit = fields.edit;
    passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    okButton = fields.ok;
    okButton->setObjectName(QStringLiteral("okButton"));
    cancelButton = fields.cancel;
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    connect(okButton, &QPushButton::clicked, this, [this] { setModalResult(mrOk); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { setModalResult(mrCancel); });
}

std::optional<QString> ServerLoginWindow::ask(const QString& server, const QString& login) {
    promptLabel->setText(
        QStringLiteral("The register server %1 asks for the password of the login '%2'.").arg(server, login));
    passwordEdit->clear();
    passwordEdit->setFocus();
    const bool given = Dialogs::showModal(*this) == mrOk;
    const QString typed = passwordEdit->text();
    passwordEdit->clear();
    return given ? std::optional<QString>(typed) : std::nullopt;
}
