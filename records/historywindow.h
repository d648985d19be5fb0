// The window the asset editor's History button opens: every saved change of one asset, newest first, as the
// register's history holds it. It only reads, so it needs no password.
#pragma once

#include "widgets/form.h"

class Connection;
class QLabel;
class QPushButton;
class QTreeWidget;

// Owns its controls; reads the history through the register's connection each time it is shown.
class HistoryWindow : public Form {
    Q_OBJECT
public:
    HistoryWindow(QWidget* parent, Connection& connection);

    // Shows the history of the asset with the identifier id (described by description) until it is closed.
    void showFor(const QString& id, const QString& description);
    // Reads the history of the asset with the identifier id into the list, newest first, without showing it.
    void fillFor(const QString& id, const QString& description);

    QLabel* assetLabel;       // which asset, and how many entries
    QTreeWidget* historyList; // a row per entry: When (local time), Who, Action, Changes (a line per column)
    QPushButton* closeButton;

    void reject() override;

private:
    void closeButtonClick();
    Connection& connection_;
};
