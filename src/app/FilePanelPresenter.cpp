#include "app/FilePanelPresenter.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

namespace corvex {

namespace {

// A folder panel accepts only folders that exist; the name it suggests is a folder the
// export is about to make, so a name typed or kept there is made on confirming.
class FolderPanel final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override
    {
        const QStringList chosen = selectedFiles();
        if (!chosen.isEmpty() && !QFileInfo::exists(chosen.constFirst()))
            QDir().mkpath(chosen.constFirst());
        QFileDialog::accept();
    }
};

} // namespace

std::optional<QString> FileDialogPanelPresenter::runSavePanel(const SavePanelRequest& request)
{
    QFileDialog panel(m_parent, request.title);
    panel.setAcceptMode(QFileDialog::AcceptSave);
    panel.setFileMode(QFileDialog::AnyFile);
    panel.setNameFilter(QStringLiteral("%1 files (*.%2)").arg(request.allowedFileType.toUpper(), request.allowedFileType));
    panel.setDefaultSuffix(request.allowedFileType);
    panel.setDirectory(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    panel.selectFile(request.suggestedName);
    if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
        return std::nullopt;
    return panel.selectedFiles().constFirst();
}

std::optional<QString> FileDialogPanelPresenter::runFolderPanel(const FolderPanelRequest& request)
{
    FolderPanel panel(m_parent, request.title);
    panel.setAcceptMode(QFileDialog::AcceptOpen);
    panel.setFileMode(QFileDialog::Directory);
    panel.setOption(QFileDialog::ShowDirsOnly, true);
    // The platform's own dialog may not take a name or a button text.
    panel.setOption(QFileDialog::DontUseNativeDialog, true);
    panel.setLabelText(QFileDialog::Accept, request.confirmButtonText);
    panel.setDirectory(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    panel.selectFile(request.nameFieldText);
    if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
        return std::nullopt;
    return panel.selectedFiles().constFirst();
}

} // namespace corvex
