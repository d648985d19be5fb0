// The asset list of a fresh register, on a connection of its own, with the data source that bound controls and
// grids read it through.
#pragma once

#include "data/connection.h"
#include "data/dataset.h"
#include "data/datasource.h"
#include "tests/support/testregister.h"

#include <QString>

struct AssetList {
    TestRegister reg;
    Connection conn;
    Dataset ds{conn, QStringLiteral("mainquery")};
    DataSource source{ds};

    AssetList() { conn.openFile(reg.path(), QStringLiteral("kivelor")); }

    // Opens the list afresh: the columns of selectList, the rows the condition where (SQL, may be empty)
    // leaves, in identifier order.
    void open(const QString& selectList = QStringLiteral("*"), const QString& where = QString()) {
        openOn(ds, {QStringLiteral("select ") + selectList,
                    QStringLiteral("from assets ") + where + QStringLiteral(" order by ASSETID")});
    }
};
