#include "app/FilePanelPresenter.h"

#include "app/SaveFolders.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace corvex {

namespace {

// A folder panel accepts only folders that exist, and greys its confirm button while
// the name field names one that does not; but the name it suggests is the folder the
// export is about to make. So the button stays usable for any name whose nearest
// existing ancestor is a folder, and the folder is made on confirming.
class FolderPanel final : public QFileDialog {
public:
    FolderPanel(QWidget* parent, const FolderPanelRequest& request)
        : QFileDialog(parent, request.title)
    {
        // The platform's own dialog may not take a name or a button text.
        setOption(QFileDialog::DontUseNativeDialog, true);
        setAcceptMode(QFileDialog::AcceptOpen);
        setFileMode(QFileDialog::Directory);
        setOption(QFileDialog::ShowDirsOnly, true);
        setLabelText(QFileDialog::Accept, request.confirmButtonText);
        setDirectory(request.directory.isEmpty() ? SaveFolders::fallbackFolder() : request.directory);
        connect(this, &QFileDialog::directoryEntered, this, [this] { keepConfirmUsable(); });
        watchControls();
        selectFile(request.nameFieldText);
    }

    void accept() override
    {
        const QStringList chosen = selectedFiles();
        if (!chosen.isEmpty() && !QFileInfo::exists(chosen.constFirst()))
            QDir().mkpath(chosen.constFirst());
        QFileDialog::accept();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The dialog greys the button after every edit and every move through the
        // folders; it is given back at once.
        if (watched == m_confirmButton && event->type() == QEvent::EnabledChange && !m_confirmButton->isEnabled())
            keepConfirmUsable();
        return QFileDialog::eventFilter(watched, event);
    }

    void showEvent(QShowEvent* event) override
    {
        QFileDialog::showEvent(event);
        watchControls();
        keepConfirmUsable();
    }

private:
    // The dialog makes its buttons anew when its mode changes, and may make its widgets
    // only when first shown: whichever confirm button is current is the one watched.
    void watchControls()
    {
        if (!m_nameField) {
            m_nameField = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (m_nameField)
                connect(m_nameField, &QLineEdit::textChanged, this, [this] { keepConfirmUsable(); });
        }
        auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        QPushButton* current = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
        if (current && current != m_confirmButton) {
            m_confirmButton = current;
            m_confirmButton->installEventFilter(this);
        }
    }

    bool nameCanBeMade() const
    {
        const QString name = m_nameField ? m_nameField->text().trimmed() : QString();
        if (name.isEmpty())
            return false;
        QFileInfo candidate(QDir(directory().absolutePath()).absoluteFilePath(name));
        // The nearest part of the path that exists decides: a folder can hold the rest.
        while (!candidate.exists()) {
            const QString parent = candidate.absolutePath();
            if (parent == candidate.absoluteFilePath())
                return false;
            candidate = QFileInfo(parent);
        }
        return candidate.isDir();
    }

    // Right away, not queued: the dialog greys the button again whenever its folder
    // model reports, and the button must never be seen grey meanwhile.
    void keepConfirmUsable()
    {
        if (m_enabling || !m_confirmButton || m_confirmButton->isEnabled() || !nameCanBeMade())
            return;
        m_enabling = true;
        m_confirmButton->setEnabled(true);
        m_enabling = false;
    }

    QPointer<QLineEdit> m_nameField;
    QPointer<QPushButton> m_confirmButton;
    bool m_enabling { false };
};

} // namespace

std::unique_ptr<QFileDialog> makeFolderPanel(QWidget* parent, const FolderPanelRequest& request)
{
    return std::make_unique<FolderPanel>(parent, request);
}

std::optional<QString> FileDialogPanelPresenter::runSavePanel(const SavePanelRequest& request)
{
    QFileDialog panel(m_parent, request.title);
    panel.setAcceptMode(QFileDialog::AcceptSave);
    panel.setFileMode(QFileDialog::AnyFile);
    panel.setNameFilter(QStringLiteral("%1 files (*.%2)").arg(request.allowedFileType.toUpper(), request.allowedFileType));
    panel.setDefaultSuffix(request.allowedFileType);
    panel.setDirectory(request.directory.isEmpty() ? SaveFolders::fallbackFolder() : request.directory);
    panel.selectFile(request.suggestedName);
    if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
        return std::nullopt;
    return panel.selectedFiles().constFirst();
}

std::optional<QString> FileDialogPanelPresenter::runFolderPanel(const FolderPanelRequest& request)
{
    const std::unique_ptr<QFileDialog> panel = makeFolderPanel(m_parent, request);
    if (panel->exec() != QDialog::Accepted || panel->selectedFiles().isEmpty())
        return std::nullopt;
    return panel->selectedFiles().constFirst();
}

} // namespace corvex
