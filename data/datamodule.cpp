// The shared datasets and their definitions.
#include "data/datamodule.h"

const char* const kConnectionString = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=vnrdata.mdb;Persist Security "
                                      "Info=False;Jet OLEDB:Database Password=kivelor";

DataModule::DataModule()
    : mainquery(ADOConnection1, QStringLiteral("mainquery")),
      SystemTable(ADOConnection1, QStringLiteral("SystemTable")),
      GroupsTable(ADOConnection1, QStringLiteral("GroupsTable")),
      cfgGroupsTable(ADOConnection1, QStringLiteral("cfgGroupsTable")),
      Query2(ADOConnection1, QStringLiteral("Query2")) {
    setInitialMainStatement();
    SystemTable.setTableName(QStringLiteral("System"));
    for (const QString& line : namedGroupsStatement()) {
        GroupsTable.addSql(line);
    }
    cfgGroupsTable.setTableName(QStringLiteral("Groups"));
}

void DataModule::setInitialMainStatement() {
    mainquery.clearSql();
    for (const QString& line : startupListStatement()) {
        mainquery.addSql(line);
    }
}

QStringList DataModule::startupListStatement() {
    return {QStringLiteral("select *"), QStringLiteral("from assets"), QStringLiteral("WHERE Writtenoff <> TRUE"),
            QStringLiteral("ORDER BY Assetid;")};
}

QStringList DataModule::namedGroupsStatement() {
    return {QStringLiteral("select *"), QStringLiteral("from Groups "), QStringLiteral("where Description <> ''")};
}
