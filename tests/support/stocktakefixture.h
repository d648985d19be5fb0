// The Stock-take window on a test's register, wired as start-up wires it: the report fixture's session, data
// module and writer, a password window, and the hidden grid the lists are written through. The register holds
// addStockAssets' assets and the access password "Secret".
#pragma once

#include "app/logon.h"
#include "stocktake/stocktakewindow.h"
#include "tests/support/reportfixture.h"
#include "tests/support/stockassets.h"
#include "widgets/dbgrid.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

class StockTakeFixture : public ReportFixture {
public:
    std::unique_ptr<Tlogonfrm> logonfrm;
    std::unique_ptr<TDBGrid> Query2Grid;
    std::unique_ptr<StockTakeWindow> window;

    // Before every test: a fresh register of the stock-take assets. True when the report files were found.
    bool beginWithAssets() {
        if (!begin()) {
            return false;
        }
        session.LoggedOn = false;
        addStockAssets(*reg);
        // The access password is never in the history, which needs no entry for it.
        reg->exec(QStringLiteral("UPDATE System SET DataBasePassword = 'Secret'"));
        return true;
    }

    // The window, shown (not modally) on the choice of stock-takes.
    StockTakeWindow& showWindow() {
        openRegister();
        logonfrm = std::make_unique<Tlogonfrm>(nullptr, *dm, session, [](const QString&) {});
        Query2Grid = std::make_unique<TDBGrid>(QStringLiteral("Query2Grid"), &dm->Query2DataSource, nullptr);
        window = std::make_unique<StockTakeWindow>(nullptr, *dm, *logonfrm, *Query2Grid, *writer);
        window->show();
        return *window;
    }

    // Opens the stock-take named name from the window's list, as a click on it and on Open do.
    void openStockTake(const QString& name) {
        const QList<QTreeWidgetItem*> found = window->stockTakeList->findItems(name, Qt::MatchExactly);
        QVERIFY(!found.isEmpty());
        window->stockTakeList->setCurrentItem(found.front());
        window->resumeButton->click();
        QVERIFY(window->current().has_value());
    }

    // After every test: the window and what it works on go first, then the report fixture's checks.
    void finish() {
        window.reset();
        Query2Grid.reset();
        logonfrm.reset();
        end();
    }
};
