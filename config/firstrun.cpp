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
    Intro = new QLabel(QStringLiteral("There is no register in %1 yet. To make one, name the company and its asset "
                                      "groups. An access password, if you give one, guards every change and is asked "
                                      "for at every start.")
                           .arg(QDir::toNativeSeparators(QFileInfo(registerPath).absolutePath())),
                       this);
    Intro->setObjectName(QStringLiteral("Intro"));
    Intro->setWordWrap(true);
    Intro->setGeometry(12, 6, 536, 60);

    GroupBox1 = new QGroupBox(QStringLiteral("Company Information"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 70, 544, 162);
    Look::makeMauve(GroupBox1);
    CompanyName = lineEdit(GroupBox1, QStringLiteral("CompanyName"), QRect(184, 30, 348, 26));
    Abbreviation = lineEdit(GroupBox1, QStringLiteral("Abbreviation"), QRect(184, 64, 125, 26));
    Password = lineEdit(GroupBox1, QStringLiteral("Password"), QRect(184, 98, 200, 26));
    PasswordAgain = lineEdit(GroupBox1, QStringLiteral("PasswordAgain"), QRect(184, 130, 200, 26));
    Password->setEchoMode(QLineEdit::Password);
    PasswordAgain->setEchoMode(QLineEdit::Password);
    Look::boldLabel(GroupBox1, QStringLiteral("Label1"), QStringLiteral("&Company Name:"), QRect(12, 30, 170, 26),
                    CompanyName);
    Look::boldLabel(GroupBox1, QStringLiteral("Label2"), QStringLiteral("A&bbreviation:"), QRect(12, 64, 170, 26),
                    Abbreviation);
    Look::boldLabel(GroupBox1, QStringLiteral("Label3"), QStringLiteral("Access &Password:"), QRect(12, 98, 170, 26),
                    Password);
    Look::boldLabel(GroupBox1, QStringLiteral("Label4"), QStringLiteral("Password &Again:"), QRect(12, 130, 170, 26),
                    PasswordAgain);

    GroupBox2 = new QGroupBox(QStringLiteral("Asset Groups"), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(8, 240, 544, 176);
    Look::makeMauve(GroupBox2);
    // Two columns: 1 to 5 on the left, 6 to 9 on the right.
    for (int d = 1; d <= 9; ++d) {
        const int x = d <= 5 ? 12 : 280;
        const int y = 26 + ((d - 1) % 5) * 29;
        QLineEdit* edit = lineEdit(GroupBox2, QStringLiteral("Group%1Name").arg(d), QRect(x + 30, y, 222, 26));
        Look::boldLabel(GroupBox2, QStringLiteral("Group%1Label").arg(d), QStringLiteral("&%1:").arg(d),
                        QRect(x, y, 28, 26), edit);
        groupEdits_[static_cast<size_t>(d - 1)] = edit;
    }

    BitBtn1 = new QPushButton(Look::okGlyph(), QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setIconSize(QSize(12, 12));
    BitBtn1->setDefault(true);
    BitBtn1->setAutoDefault(false);
    BitBtn1->setGeometry(8, 428, 110, 32);
    BitBtn2 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setAutoDefault(false);
    BitBtn2->setGeometry(126, 428, 110, 32);

    QList<QWidget*> order{CompanyName, Abbreviation, Password, PasswordAgain};
    for (QLineEdit* edit : groupEdits_) {
        order << edit;
    }
    order << BitBtn1 << BitBtn2;
    for (qsizetype i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &FirstRunWindow::BitBtn1Click);
    connectGuarded(BitBtn2, &QPushButton::clicked, this, &FirstRunWindow::BitBtn2Click);
}

void FirstRunWindow::FormShow() {
    CompanyName->setFocus(Qt::OtherFocusReason);
}

void FirstRunWindow::refuse(const QString& text, QLineEdit* edit) {
    Dialogs::showMessage(text);
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
}

QLineEdit* FirstRunWindow::editOfProblem(const QString& problem) const {
    const QString field = problem.section(QLatin1Char(':'), 0, 0);
    if (field == QLatin1String("abbreviation")) {
        return Abbreviation;
    }
    if (field == QLatin1String("password")) {
        return Password;
    }
    if (field.startsWith(QLatin1String("group "))) {
        const int d = field.mid(6).toInt();
        if (d >= 1 && d <= 9) {
            return groupEdit(d);
        }
    }
    return CompanyName;
}

void FirstRunWindow::BitBtn1Click() {
    NewRegister settings;
    settings.company = CompanyName->text().trimmed();
    settings.abbreviation = Abbreviation->text().trimmed();
    settings.password = Password->text();
    for (int d = 1; d <= 9; ++d) {
        const QString name = groupEdit(d)->text().trimmed();
        if (!name.isEmpty()) {
            settings.groups.insert(d, name);
        }
    }
    if (settings.company.isEmpty()) {
        refuse(QStringLiteral("Type the company's name: it heads every report."), CompanyName);
        return;
    }
    if (settings.abbreviation.isEmpty()) {
        refuse(QStringLiteral("Type the company's abbreviation: every asset identifier starts with it."), Abbreviation);
        return;
    }
    if (PasswordAgain->text() != settings.password) {
        PasswordAgain->clear();
        refuse(QStringLiteral("The two passwords differ. Type the access password again below the first."),
               PasswordAgain);
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

void FirstRunWindow::BitBtn2Click() {
    setModalResult(mrCancel);
}
