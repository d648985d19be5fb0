// The first-run window: when the program is started from the desktop and finds no register, it asks for the
// company, its abbreviation, the access password and the group names, and makes the register with them.
#pragma once

#include "widgets/form.h"

#include <QString>
#include <array>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Makes a new register at one path. OK makes it, with the folder it lies in when that is missing, and closes
// with OK; a refused entry keeps the window open with a message and the focus in the field to mend. Cancel,
// Escape and the close box make nothing.
class FirstRunWindow : public Form {
    Q_OBJECT
public:
    FirstRunWindow(QWidget* parent, const QString& registerPath);

    QLabel* introLabel;
    QGroupBox* companyBox;
    QLineEdit* companyEdit;
    QLineEdit* abbreviationEdit;
    QLineEdit* passwordEdit;
    QLineEdit* passwordAgainEdit;
    QGroupBox* groupsBox;
    QPushButton* okButton;
    QPushButton* cancelButton;

    // The edit of group d (1 to 9).
    QLineEdit* groupEdit(int d) const { return groupEdits_[static_cast<size_t>(d - 1)]; }

protected:
    void FormShow() override;

private:
    // Shows text as a refusal and puts the focus in edit, its text selected.
    void refuse(const QString& text, QLineEdit* edit);
    // The edit a "FIELD: message" line of the register's own checks is about.
    QLineEdit* editOfProblem(const QString& problem) const;
    void okClicked();
    void cancelClicked();

    QString registerPath_;
    std::array<QLineEdit*, 9> groupEdits_{};
};
