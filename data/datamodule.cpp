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
    GroupsTable.addSql(QStringLiteral("select *"));
    GroupsTable.addSql(QStringLiteral("from Groups "));
    GroupsTable.addSql(QStringLiteral("where Description <> ''"));
    cfgGroupsTable.setTableName(QStringLiteral("Groups"));
}

void DataModule::setInitialMainStatement() {
    mainquery.clearSql();
    mainquery.addSql(QStringLiteral("select *"));
    mainquery.addSql(QStringLiteral("from assets"));
    mainquery.addSql(QStringLiteral("WHERE Writtenoff <> TRUE"));
    mainquery.addSql(QStringLiteral("ORDER BY Assetid;"));
}
