// The first-run window. The entries are checked by the same rules as every new register (newRegisterProblems),
// plus what a register needs before its first asset can be added: a company name, an abbreviation for the
// identifiers and at least one group. Nothing is written until every entry passes, and the register itself
// appears whole or not at all (createRegister).
#include "config/firstrun.h"

#include "data/newregister.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"
#include "widgets/look.h"

#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

QLineEdit* lineEdit(QWidget* parent, const QString& name, QRect box) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(box);
    return edit;
}

} // namespace

FirstRunWindow::FirstRunWindow(QWidget* parent, const QString& registerPath)
    : Form(parent, QStringLiteral("FirstRunWindow"), QStringLiteral("New Register"), QSize(560, 470)),
      registerPath_(registerPath) {
    introLabel =
        new QLabel(QStringLiteral("There is no register in %1 yet. To make one, name the company and its asset "
                                  "groups. An access password, if you give one, guards every change and is asked "
                                  "for at every start.")
                       .arg(QDir::toNativeSeparators(QFileInfo(registerPath).absolutePath())),
                   this);
    introLabel->setObjectName(QStringLiteral("introLabel"));
    introLabel->setWordWrap(true);
    introLabel->setGeometry(12, 6, 536, 60);

    companyBox = new QGroupBox(QStringLiteral("Company Information"), this);
    companyBox->setObjectName(QStringLiteral("companyBox"));
    companyBox->setGeometry(8, 70, 544, 162);
    Look::makeMauve(companyBox);
    companyEdit = lineEdit(companyBox, QStringLiteral("companyEdit"), QRect(184, 30, 348, 26));
    abbreviationEdit = lineEdit(companyBox, QStringLiteral("abbreviationEdit"), QRect(184, 64, 125, 26));
    passwordEdit = lineEdit(companyBox, QStringLiteral("passwordEdit"), QRect(184, 98, 200, 26));
    passwordAgainEdit = lineEdit(companyBox, QStringLiteral("passwordAgainEdit"), QRect(184, 130, 200, 26));
    passwordEdit->setEchoMode(QLineEdit::Password);
    passwordAgainEdit->setEchoMode(QLineEdit::Password);
    Look::boldLabel(companyBox, QStringLiteral("companyLabel"), QStringLiteral("&Company Name:"),
                    QRect(12, 30, 170, 26), companyEdit);
    Look::boldLabel(companyBox, QStringLiteral("abbreviationLabel"), QStringLiteral("A&bbreviation:"),
                    QRect(12, 64, 170, 26), abbreviationEdit);
    Look::boldLabel(companyBox, QStringLiteral("passwordLabel"), QStringLiteral("Access &Password:"),
                    QRect(12, 98, 170, 26), passwordEdit);
    Look::boldLabel(companyBox, QStringLiteral("passwordAgainLabel"), QStringLiteral("Password &Again:"),
                    QRect(12, 130, 170, 26), passwordAgainEdit);

    groupsBox = new QGroupBox(QStringLiteral("Asset Groups"), this);
    groupsBox->setObjectName(QStringLiteral("groupsBox"));
    groupsBox->setGeometry(8, 240, 544, 176);
    Look::makeMauve(groupsBox);
    // Two columns: 1 to 5 on the left, 6 to 9 on the right.
    for (int d = 1; d <= 9; ++d) {
        const int x = d <= 5 ? 12 : 280;
        const int y = 26 + ((d - 1) % 5) * 29;
        QLineEdit* edit = lineEdit(groupsBox, QStringLiteral("group%1Edit").arg(d), QRect(x + 30, y, 222, 26));
        Look::boldLabel(groupsBox, QStringLiteral("group%1Label").arg(d), QStringLiteral("&%1:").arg(d),
                        QRect(x, y, 28, 26), edit);
        groupEdits_[static_cast<size_t>(d - 1)] = edit;
    }

    okButton = new QPushButton(Look::okGlyph(), QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setIconSize(QSize(12, 12));
    okButton->setDefault(true);
    okButton->setAutoDefault(false);
    okButton->setGeometry(8, 428, 110, 32);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    cancelButton->setAutoDefault(false);
    cancelButton->setGeometry(126, 428, 110, 32);

    QList<QWidget*> order{companyEdit, abbreviationEdit, passwordEdit, passwordAgainEdit};
    for (QLineEdit* edit : groupEdits_) {
        order << edit;
    }
    order << okButton << cancelButton;
    for (qsizetype i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
    connectGuarded(okButton, &QPushButton::clicked, this, &FirstRunWindow::okClicked);
    connectGuarded(cancelButton, &QPushButton::clicked, this, &FirstRunWindow::cancelClicked);
}

void FirstRunWindow::FormShow() {
    companyEdit->setFocus(Qt::OtherFocusReason);
}

void FirstRunWindow::refuse(const QString& text, QLineEdit* edit) {
    Dialogs::showMessage(text);
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
}

QLineEdit* FirstRunWindow::editOfProblem(const QString& problem) const {
    const QString field = problem.section(QLatin1Char(':'), 0, 0);
    if (field == QLatin1String("abbreviation")) {
        return abbreviationEdit;
    }
    if (field == QLatin1String("password")) {
        return passwordEdit;
    }
    if (field.startsWith(QLatin1String("group "))) {
        const int d = field.mid(6).toInt();
        if (d >= 1 && d <= 9) {
            return groupEdit(d);
        }
    }
    return companyEdit;
}

void FirstRunWindow::okClicked() {
    NewRegister settings;
    settings.company = companyEdit->text().trimmed();
    settings.abbreviation = abbreviationEdit->text().trimmed();
    settings.password = passwordEdit->text();
    for (int d = 1; d <= 9; ++d) {
        const QString name = groupEdit(d)->text().trimmed();
        if (!name.isEmpty()) {
            settings.groups.insert(d, name);
        }
    }
    if (settings.company.isEmpty()) {
        refuse(QStringLiteral("Type the company's name: it heads every report."), companyEdit);
        return;
    }
    if (settings.abbreviation.isEmpty()) {
        refuse(QStringLiteral("Type the company's abbreviation: every asset identifier starts with it."),
               abbreviationEdit);
        return;
    }
    if (passwordAgainEdit->text() != settings.password) {
        passwordAgainEdit->clear();
        refuse(QStringLiteral("The two passwords differ. Type the access password again below the first."),
               passwordAgainEdit);
        return;
    }
    if (settings.groups.isEmpty()) {
        refuse(QStringLiteral("Name at least one asset group: every asset belongs to one."), groupEdit(1));
        return;
    }
    const QStringList problems = newRegisterProblems(settings);
    if (!problems.isEmpty()) {
        QStringList sentences;
        for (const QString& problem : problems) {
            const QString sentence = problem.section(QLatin1Char(':'), 1).trimmed();
            sentences << sentence.left(1).toUpper() + sentence.mid(1) + QLatin1Char('.');
        }
        refuse(sentences.join(QLatin1Char('\n')), editOfProblem(problems.first()));
        return;
    }
    const QString folder = QFileInfo(registerPath_).absolutePath();
    if (!QDir().mkpath(folder)) {
        Dialogs::showError(QStringLiteral("The folder '%1' cannot be made, so the register cannot be made there.")
                               .arg(QDir::toNativeSeparators(folder)));
        return;
    }
    createRegister(registerPath_, settings);
    setModalResult(mrOk);
}

void FirstRunWindow::cancelClicked() {
    setModalResult(mrCancel);
}
