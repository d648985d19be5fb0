// The connection and the five shared datasets, with their data sources. The main window holds one
// DataModule; every other window is handed it when start-up creates them.
#pragma once

#include "data/connection.h"
#include "data/dataset.h"
#include "data/datasource.h"

// The connection string of the register: the file vnrdata.mdb in the current working folder.
extern const char* const kConnectionString;

class DataModule {
public:
    // Creates the connection and the datasets unopened, with their definitions.
    DataModule();
    DataModule(const DataModule&) = delete;
    DataModule& operator=(const DataModule&) = delete;

    Connection ADOConnection1;
    Dataset mainquery;      // the asset list; rewritten by every search
    Dataset SystemTable;    // table System: the settings record
    Dataset GroupsTable;    // the groups that have a name
    Dataset cfgGroupsTable; // table Groups: every group
    Dataset Query2;         // scratch query for counts and reports

    DataSource mainsource{mainquery};
    DataSource SystemTableDataSource{SystemTable};
    DataSource GroupsTableDataSource{GroupsTable};
    DataSource cfgGroupsTableDataSource{cfgGroupsTable};
    DataSource Query2DataSource{Query2};

    // Sets mainquery's statement to the start-up list: active assets in identifier order.
    void setInitialMainStatement();

    // The statements the queries start with, in the Jet dialect, a line each: the start-up list (mainquery),
    // and the groups that have a name (GroupsTable).
    static QStringList startupListStatement();
    static QStringList namedGroupsStatement();
};
