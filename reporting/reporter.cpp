// The report viewer. It is shown modally once for each report and deletes the report's page whenever it
// closes, by whichever way; the page view (widgets/htmlview.h) does the showing, saving and printing.
#include "reporting/reporter.h"

#include "widgets/dialogs.h"
#include "widgets/guard.h"
#include "widgets/htmlview.h"
#include "widgets/look.h"

#include <QApplication>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QToolButton>
#include <QVBoxLayout>

Treporterfrm::Treporterfrm(QWidget* parent)
    : Form(parent, QStringLiteral("reporterfrm"), QStringLiteral("Results Report"), QSize(696, 480), false) {
    setBackgroundPicture(false);
    QPalette look = palette();
    look.setColor(QPalette::Window, Look::kStatusBlue);
    look.setColor(QPalette::WindowText, Look::kViewerText);
    look.setColor(QPalette::ButtonText, Look::kViewerText);
    setPalette(look);
    setAutoFillBackground(true);
    QFont viewerFont;
    viewerFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                            QStringLiteral("Arial"), QStringLiteral("Nimbus Sans")});
    viewerFont.setStyleHint(QFont::SansSerif);
    viewerFont.setPixelSize(16);
    viewerFont.setBold(true);
    setFont(viewerFont);
    setSizeGripEnabled(true);

    ToolBar1 = new QFrame(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setFrameShape(QFrame::Box);
    ToolBar1->setFixedHeight(61);
    auto* buttons = new QHBoxLayout(ToolBar1);
    buttons->setContentsMargins(1, 1, 1, 1);
    buttons->setSpacing(0);
    auto tool = [this](const QString& name, const QString& caption, const QString& picture) {
        QToolButton* button = Look::makeToolButton(ToolBar1, name, caption, picture, 32);
        button->setFixedSize(70, 59);
        return button;
    };
    DisMissReportBtn =
        tool(QStringLiteral("DisMissReportBtn"), QStringLiteral("Dismiss"), QStringLiteral("dismiss.png"));
    ToolButton1 = tool(QStringLiteral("ToolButton1"), QStringLiteral("Save"), QStringLiteral("save.png"));
    ToolButton2 = tool(QStringLiteral("ToolButton2"), QStringLiteral("Print"), QStringLiteral("print.png"));
    buttons->addWidget(DisMissReportBtn);
    buttons->addWidget(ToolButton1);
    buttons->addWidget(ToolButton2);
    buttons->addStretch(1);

    web = std::make_unique<TextBrowserView>(this);
    web->widget()->setObjectName(QStringLiteral("web"));
    // The page keeps the view's own plain face; only the toolbar has the viewer's bold one.
    QFont pageFont = QApplication::font();
    pageFont.setBold(false);
    web->widget()->setFont(pageFont);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar1);
    layout->addWidget(web->widget(), 1);

    connectGuarded(DisMissReportBtn, &QToolButton::clicked, this, &Treporterfrm::DisMissReportBtnClick);
    connectGuarded(ToolButton1, &QToolButton::clicked, this, &Treporterfrm::ToolButton1Click);
    connectGuarded(ToolButton2, &QToolButton::clicked, this, &Treporterfrm::ToolButton2Click);
}

Treporterfrm::~Treporterfrm() = default;

void Treporterfrm::showReport(const QString& path) {
    reportPath_ = path;
    Dialogs::showModal(*this);
}

void Treporterfrm::FormShow() {
    web->navigate(QStringLiteral("file://") + reportPath_);
}

void Treporterfrm::FormClose() {
    // A report that could not be written, or was never written, leaves nothing to delete; that is no error.
    QFile::remove(reportPath_);
    // The page is not shown again: its document and bytes are let go now rather than at the next report.
    web->clear();
}

void Treporterfrm::reject() {
    DisMissReportBtnClick();
}

void Treporterfrm::DisMissReportBtnClick() {
    setModalResult(mrCancel);
}

void Treporterfrm::ToolButton1Click() {
    web->saveAs();
}

void Treporterfrm::ToolButton2Click() {
    web->print();
}
