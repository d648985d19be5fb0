// The server login window: asked for when the register's server wants a password that ~/.pgpass does not
// give. It is the login of the database server, not the register's access password.
#pragma once

#include "widgets/form.h"

#include <QString>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

class ServerLoginWindow : public Form {
    Q_OBJECT
public:
    explicit ServerLoginWindow(QWidget* parent);

    // Shows the window for login on server; the password typed, or nullopt when cancelled.
    std::optional<QString> ask(const QString& server, const QString& login);

    QLabel* promptLabel;
    QLabel* passwordLabel;
    QLineEdit* passwordEdit;
    QPushButton* okButton;
    QPushButton* cancelButton;
};
