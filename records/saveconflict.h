// The window a refused save of an asset opens: another program saved the asset after the editor read it.
// It shows, field by field, what the editor read, what is stored now and what was typed, and lets the person
// choose what to keep; nothing typed is dropped unless they choose it.
#pragma once

#include "widgets/form.h"

#include <QVariant>
#include <vector>

class Dataset;
class QLabel;
class QPushButton;
class QTableWidget;

class SaveConflictWindow : public Form {
    Q_OBJECT
public:
    enum Choice { KeepTyped, TakeStored, BackToForm };

    explicit SaveConflictWindow(QWidget* parent);

    // Shows the fields of list's current record (being edited) that another program's save or the typing
    // changed, beside stored (as Dataset::storedNow gave it), and returns what the person chose.
    Choice ask(const Dataset& list, const std::vector<QVariant>& stored);

    QLabel* messageLabel;
    QTableWidget* changesTable; // a row per field: field, when opened, stored now, typed
    QPushButton* keepButton;    // "Keep My Changes": what was typed, on top of what is stored now
    QPushButton* takeButton;    // "Take Stored Values": the form shows what is stored, the typing is dropped
    QPushButton* backButton;    // "Back to the Form": nothing chosen yet

    void reject() override;
};
