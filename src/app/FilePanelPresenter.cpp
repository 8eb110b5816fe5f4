#include "app/FilePanelPresenter.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

namespace corvex {

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
    QFileDialog panel(m_parent, request.title);
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
