// The print choice: the current list as a table, or the details of the selected asset.
#pragma once

#include "widgets/form.h"

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;
class ReportWriter;
class TDBGrid;

class Tprintfrm : public Form {
    Q_OBJECT
public:
    // DBGrid1 is the main window's asset list; writer writes the chosen report and shows it.
    Tprintfrm(QWidget* parent, TDBGrid& DBGrid1, ReportWriter& writer);

    // The radio group "Print" with its two items, "Current List" (0) and "Details of Selected Item" (1).
    QGroupBox* printoptions;
    QRadioButton* CurrentListItem;
    QRadioButton* SelectedItemItem;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;

    // The item chosen in printoptions (0 or 1).
    int itemIndex() const;
    void setItemIndex(int index);

    void reject() override;

private:
    void BitBtn1Click();
    void BitBtn2Click();

    QButtonGroup* items_;
    TDBGrid& DBGrid1_;
    ReportWriter& writer_;
};
