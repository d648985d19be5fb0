// An asset's history, read from the register and shown as a list that cannot be edited.
#include "records/historywindow.h"

#include "data/connection.h"
#include "data/history.h"
#include "data/textvalues.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"
#include "widgets/look.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

namespace {

enum Column { When, Who, Action, Changes };

// An entry's UTC time in the local time, in the register's short date and long time forms.
QString localTime(const QString& utc) {
    QDateTime t = QDateTime::fromString(utc, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid()) {
        return utc;
    }
    t.setTimeSpec(Qt::UTC);
    return dateTimeToText(t.toLocalTime(), true);
}

} // namespace

HistoryWindow::HistoryWindow(QWidget* parent, Connection& connection)
    : Form(parent, QStringLiteral("historyWindow"), QStringLiteral("Asset History"), QSize(820, 480)),
      connection_(connection) {
    assetLabel = new QLabel(this);
    assetLabel->setObjectName(QStringLiteral("assetLabel"));
    assetLabel->setGeometry(12, 8, 796, 28);
    Look::makeBold(assetLabel);

    historyList = new QTreeWidget(this);
    historyList->setObjectName(QStringLiteral("historyList"));
    historyList->setGeometry(12, 40, 796, 384);
    historyList->setColumnCount(4);
    historyList->setHeaderLabels(
        {QStringLiteral("When"), QStringLiteral("Who"), QStringLiteral("Action"), QStringLiteral("Changes")});
    historyList->setRootIsDecorated(false);
    historyList->setItemsExpandable(false);
    historyList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    historyList->setSelectionBehavior(QAbstractItemView::SelectRows);
    historyList->setWordWrap(false);
    historyList->setColumnWidth(When, 170);
    historyList->setColumnWidth(Who, 130);
    historyList->setColumnWidth(Action, 120);
    Look::makeGridTitles(historyList->header());
    Look::ruleRows(historyList);
    historyList->header()->setStretchLastSection(true);

    closeButton = new QPushButton(QStringLiteral("Close"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setDefault(true);
    closeButton->setGeometry(698, 436, 110, 34);
    connectGuarded(closeButton, &QPushButton::clicked, this, &HistoryWindow::closeButtonClick);
}

void HistoryWindow::fillFor(const QString& id, const QString& description) {
    HistoryFilter filter;
    filter.asset = id;
    filter.newestFirst = true;
    const std::vector<HistoryEntry> entries = readHistory(connection_, filter);
    historyList->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(entries.size()));
    for (const HistoryEntry& e : entries) {
        QStringList lines;
        for (const HistoryChange& change : decodeHistoryChanges(e.changes)) {
            lines << describeHistoryChange(change);
        }
        auto* item =
            new QTreeWidgetItem(QStringList{localTime(e.when), e.who, e.action, lines.join(QLatin1Char('\n'))});
        // An entry's when, who and what stand beside its first changed column.
        for (int column = When; column <= Changes; ++column) {
            item->setTextAlignment(column, Qt::AlignLeft | Qt::AlignTop);
        }
        items << item;
    }
    historyList->addTopLevelItems(items);
    // The heading is one line: a description's line breaks become spaces, and a long one is cut short.
    const QString counted = entries.empty() ? QStringLiteral(": no saved changes")
                                            : QStringLiteral(": %1 saved changes, newest first").arg(entries.size());
    QString what = id;
    if (!description.trimmed().isEmpty()) {
        const QFontMetrics metrics(assetLabel->font());
        const int room = assetLabel->width() - metrics.horizontalAdvance(id + QStringLiteral(" ()") + counted);
        what += QStringLiteral(" (%1)").arg(metrics.elidedText(description.simplified(), Qt::ElideRight, room));
    }
    assetLabel->setText(what + counted);
}

void HistoryWindow::showFor(const QString& id, const QString& description) {
    fillFor(id, description);
    Dialogs::showModal(*this);
}

void HistoryWindow::closeButtonClick() {
    setModalResult(mrCancel);
}

void HistoryWindow::reject() {
    closeButtonClick();
}
