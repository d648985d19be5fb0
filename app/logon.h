// The password window: the single gate before any change to the register or the settings. A correct entry
// sets LoggedOn for the rest of the run, so the window is asked for at most once.
#pragma once

#include "widgets/form.h"

#include <QString>
#include <functional>

class DataModule;
class QLabel;
class QLineEdit;
class QPushButton;

class Tlogonfrm : public Form {
    Q_OBJECT
public:
    // setMainCaption sets the main window's caption when the password is accepted.
    Tlogonfrm(QWidget* parent, DataModule& data, std::function<void(const QString&)> setMainCaption);
    ~Tlogonfrm() override;

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
    std::function<void(const QString&)> setMainCaption_;
};

extern Tlogonfrm* logonfrm;

// Upper-cases the ASCII letters a to z only; every other character is left as it is.
QString upperAscii(const QString& text);

// The guard of every change: true at once when the password was given in this run, else shows the password
// window and tells whether it was accepted. The caller shows its own refusal.
bool PasswordGiven();
