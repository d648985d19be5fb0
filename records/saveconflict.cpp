// Choosing between one's own typing and another program's save, field by field.
#include "records/saveconflict.h"

#include "data/dataset.h"
#include "widgets/dialogs.h"
#include "widgets/look.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

namespace {

constexpr int kTakeStored = 2; // the modal result of takeButton; keepButton closes with OK

} // namespace

SaveConflictWindow::SaveConflictWindow(QWidget* parent)
    : Form(parent, QStringLiteral("saveConflictWindow"), QStringLiteral("Asset Changed Meanwhile"), QSize(640, 400)) {
    messageLabel = new QLabel(this);
    messageLabel->setObjectName(QStringLiteral("messageLabel"));
    messageLabel->setWordWrap(true);
    messageLabel->setGeometry(12, 8, 616, 86);
    messageLabel->setText(
        QStringLiteral("Row cannot be located for updating. Some values may have been changed since it was last "
                       "read.\nAnother program saved this asset after you opened it. Keep My Changes saves what you "
                       "changed on top of what is stored now; Take Stored Values shows what is stored and drops "
                       "what you typed."));

    changesTable = new QTableWidget(0, 4, this);
    changesTable->setObjectName(QStringLiteral("changesTable"));
    changesTable->setGeometry(12, 100, 616, 240);
    changesTable->setHorizontalHeaderLabels({QStringLiteral("Field"), QStringLiteral("When You Opened It"),
                                             QStringLiteral("Stored Now"), QStringLiteral("You Typed")});
    changesTable->verticalHeader()->setVisible(false);
    changesTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    changesTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    changesTable->setSelectionMode(QAbstractItemView::NoSelection);

    auto button = [this](const QString& name, const QString& caption, int x) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        b->setGeometry(x, 352, 196, 34);
        return b;
    };
    keepButton = button(QStringLiteral("keepButton"), QStringLiteral("&Keep My Changes"), 12);
    takeButton = button(QStringLiteral("takeButton"), QStringLiteral("&Take Stored Values"), 222);
    backButton = button(QStringLiteral("backButton"), QStringLiteral("&Back to the Form"), 432);
    connect(keepButton, &QPushButton::clicked, this, [this] { setModalResult(mrOk); });
    connect(takeButton, &QPushButton::clicked, this, [this] { setModalResult(kTakeStored); });
    connect(backButton, &QPushButton::clicked, this, [this] { setModalResult(mrCancel); });
}

void SaveConflictWindow::reject() {
    setModalResult(mrCancel);
}

SaveConflictWindow::Choice SaveConflictWindow::ask(const Dataset& list, const std::vector<QVariant>& stored) {
    changesTable->setRowCount(0);
    for (int f = 0; f < list.fieldCount() && static_cast<size_t>(f) < stored.size(); ++f) {
        if (list.fieldDef(f).column.isEmpty()) {
            continue;
        }
        const QString opened = list.fieldText(f, list.originalValue(f));
        const QString now = list.fieldText(f, stored[static_cast<size_t>(f)]);
        const QString typed = list.text(f);
        if (opened == now && opened == typed) {
            continue;
        }
        const int row = changesTable->rowCount();
        changesTable->insertRow(row);
        const QString cells[] = {list.fieldDef(f).name, opened, now, typed};
        for (int c = 0; c < 4; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            // What differs from what was read is what each side changed.
            if (c >= 2 && cells[c] != opened) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            changesTable->setItem(row, c, item);
        }
    }
    switch (Dialogs::showModal(*this)) {
    case mrOk:
        return KeepTyped;
    case kTakeStored:
        return TakeStored;
    default:
        return BackToForm;
    }
}
