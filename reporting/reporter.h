// The report viewer: the window that shows a report's page, offers Save and Print, and deletes the page when
// it closes.
#pragma once

#include "widgets/form.h"

#include <QString>
#include <memory>

class QFrame;
class QToolButton;
class TextBrowserView;

// The report viewer: shows one report file, offers Save and Print through the page view's own dialogs,
// and deletes the file whenever it closes.
class Treporterfrm : public Form {
    Q_OBJECT
public:
    explicit Treporterfrm(QWidget* parent);
    ~Treporterfrm() override;

    QFrame* ToolBar1;
    QToolButton* DisMissReportBtn;
    QToolButton* ToolButton1;
    QToolButton* ToolButton2;
    // The page view; its widget fills the window below the toolbar.
    std::unique_ptr<TextBrowserView> web;

    // Shows the report file at path modally and returns when the viewer closes, the file deleted.
    void showReport(const QString& path);

    void reject() override;

protected:
    void FormShow() override;
    void FormClose() override;

private:
    void DisMissReportBtnClick();
    void ToolButton1Click();
    void ToolButton2Click();

    QString reportPath_;
};
