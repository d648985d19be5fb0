// The password window: the single gate before any change to the register or the settings. A correct entry
// sets the session's LoggedOn for the rest of the run, so the window is asked for at most once.
#pragma once

#include "widgets/form.h"

#include <QString>
#include <functional>

class DataModule;
class Session;
class QLabel;
class QLineEdit;
class QPushButton;

// The password row of a window that asks for a password: the bold "Password:" label and its masked edit from
// left across width, and the OK and Cancel buttons under them, at the foot of a 396 by 148 window.
struct PasswordFields {
    QLabel* label;
    QLineEdit* edit;
    QPushButton* ok;
    QPushButton* cancel;
};
PasswordFields addPasswordFields(QWidget* window, int left, int width);

class Tlogonfrm : public Form {
    Q_OBJECT
public:
    // setMainCaption sets the main window's caption when the password is accepted.
    Tlogonfrm(QWidget* parent, DataModule& data, Session& session, std::function<void(const QString&)> setMainCaption);

    // The guard of every change: true at once when the password was given in this run, else shows this
    // window and tells whether it was accepted. The caller shows its own refusal.
    bool PasswordGiven();

    QLabel* Image1;
    QLabel* promptlabel;
    QLabel* PasswordLabel;
    QLineEdit* Password;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

protected:
    void FormShow() override;

private:
    void BitBtn1Click();
    void BitBtn2Click();

    DataModule& data_;
    Session& session_;
    std::function<void(const QString&)> setMainCaption_;
};
