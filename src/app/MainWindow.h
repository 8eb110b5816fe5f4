#pragma once

#include <QMainWindow>

#include <memory>

class QButtonGroup;
class QLabel;

namespace Ui {
class MainWindow;
}

namespace corvex {

// The main window from its layout. It only arranges and styles the controls; what
// they show and when they are enabled is decided by the AppDelegate.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    // The columns of the export-format chooser.
    enum LogTypeColumn { KmlColumn = 0, IgcColumn = 1 };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    Ui::MainWindow& ui() { return *m_ui; }

    // The chosen column of logTypeMatrix: 0 is KML, any other is IGC.
    int logTypeColumn() const;
    void setLogTypeColumn(int column);

    // Tiles the pixmap behind the controls; a null pixmap gives the plain colour.
    void setBackground(const QPixmap& tile, const QColor& fallback);
    const QString& backgroundName() const { return m_backgroundName; }
    void setBackgroundName(const QString& name) { m_backgroundName = name; }

    void setStatusText(const QString& text);
    QString statusText() const;

private:
    void applyStyle();

    std::unique_ptr<Ui::MainWindow> m_ui;
    QButtonGroup* m_logTypeGroup { nullptr };
    QLabel* m_statusLabel { nullptr };
    QString m_backgroundName;
};

} // namespace corvex
