#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace corvex {

// The save panel of one file.
struct SavePanelRequest {
    QString title;
    QString suggestedName; // without extension; may be empty
    QString allowedFileType; // "igc", "kml", "csv"
};

// The folder-choosing panel of an all-flights export: folders can be chosen and
// created, files cannot be chosen.
struct FolderPanelRequest {
    QString title;
    QString nameFieldText;
    QString confirmButtonText { QStringLiteral("Save") };
};

// The modal file panels of the download commands. The program shows file dialogs; the
// tests answer the panels themselves.
class FilePanelPresenter {
public:
    virtual ~FilePanelPresenter() = default;
    // The chosen file, or nothing when the user cancelled.
    virtual std::optional<QString> runSavePanel(const SavePanelRequest& request) = 0;
    // The chosen folder, or nothing when the user cancelled.
    virtual std::optional<QString> runFolderPanel(const FolderPanelRequest& request) = 0;
};

class FileDialogPanelPresenter final : public FilePanelPresenter {
public:
    explicit FileDialogPanelPresenter(QWidget* parent)
        : m_parent(parent)
    {
    }
    std::optional<QString> runSavePanel(const SavePanelRequest& request) override;
    std::optional<QString> runFolderPanel(const FolderPanelRequest& request) override;

private:
    QWidget* m_parent;
};

} // namespace corvex
