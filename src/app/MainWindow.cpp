#include "app/MainWindow.h"

#include "ui_MainWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QLabel>
#include <QPalette>
#include <QStatusBar>

namespace corvex {

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::MainWindow>())
{
    m_ui->setupUi(this);

    // The layout's two radio buttons are the two columns of one choice.
    m_logTypeGroup = new QButtonGroup(this);
    m_logTypeGroup->addButton(m_ui->kmlRadioButton, KmlColumn);
    m_logTypeGroup->addButton(m_ui->igcRadioButton, IgcColumn);

    m_statusLabel = new QLabel(this);
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setContentsMargins(8, 2, 8, 2);
    // A sync's summary after the connected line is long: it wraps instead of widening
    // the window past the screen, and the tooltip holds it whole.
    m_statusLabel->setWordWrap(true);
    m_statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_statusLabel->setMinimumWidth(1);
    m_ui->statusBar->addWidget(m_statusLabel, 1);
    m_ui->statusBar->setSizeGripEnabled(false);

    // Why "Save New Flights Now" is greyed.
    m_ui->fileMenu->setToolTipsVisible(true);

    // Quit ends the program even while a secondary window is open.
    connect(m_ui->quitMenuItem, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    applyStyle();
}

MainWindow::~MainWindow() = default;

int MainWindow::logTypeColumn() const
{
    return m_logTypeGroup->checkedId() == KmlColumn ? KmlColumn : IgcColumn;
}

void MainWindow::setLogTypeColumn(int column)
{
    (column == KmlColumn ? m_ui->kmlRadioButton : m_ui->igcRadioButton)->setChecked(true);
}

void MainWindow::setBackground(const QPixmap& tile, const QColor& fallback)
{
    QPalette palette = m_ui->centralWidget->palette();
    if (tile.isNull())
        palette.setBrush(QPalette::Window, fallback);
    else
        palette.setBrush(QPalette::Window, QBrush(tile));
    m_ui->centralWidget->setPalette(palette);
    m_ui->centralWidget->update();
}

void MainWindow::setStatusText(const QString& text)
{
    m_statusLabel->setText(text);
    m_statusLabel->setToolTip(text);
}

QString MainWindow::statusText() const
{
    return m_statusLabel->text();
}

void MainWindow::applyStyle()
{
    QFont titleFont = font();
    titleFont.setPointSizeF(font().pointSizeF() * 2.0);
    titleFont.setBold(true);
    m_ui->titleLabel->setFont(titleFont);

    QFont captionFont = font();
    captionFont.setBold(true);
    captionFont.setCapitalization(QFont::AllUppercase);
    captionFont.setLetterSpacing(QFont::PercentageSpacing, 108);
    captionFont.setPointSizeF(font().pointSizeF() * 0.85);
    for (QLabel* caption : { m_ui->instrumentCaptionLabel, m_ui->flightsCaptionLabel, m_ui->batteryCaptionLabel })
        caption->setFont(captionFont);

    QFont serialFont = font();
    serialFont.setPointSizeF(font().pointSizeF() * 1.15);
    m_ui->serialLabel->setFont(serialFont);

    // Panels of frosted white keep the text readable over the clouds; the title sits
    // directly on the sky with a dark outline colour that reads on blue and on grey.
    m_ui->centralWidget->setStyleSheet(QStringLiteral(
        "QFrame#instrumentPanel, QFrame#flightsPanel, QFrame#batteryPanel {"
        "  background-color: rgba(255, 255, 255, 212);"
        "  border: 1px solid rgba(255, 255, 255, 240);"
        "  border-radius: 10px; }"
        "QLabel#titleLabel { color: #12324f; }"
        "QLabel#subtitleLabel { color: #1f4466; }"
        "QLabel#instrumentCaptionLabel, QLabel#flightsCaptionLabel, QLabel#batteryCaptionLabel {"
        "  color: #3b6690; }"
        "QLabel#serialLabel, QLabel#pilotNameLabel, QLabel#batteryVoltageLabel { color: #1b2733; }"
        "QGroupBox#logTypeMatrix { border: none; margin: 0px; padding: 0px; }"));
}

} // namespace corvex
