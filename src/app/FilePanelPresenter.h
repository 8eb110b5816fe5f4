#pragma once

#include <QString>

#include <memory>
#include <optional>

class QFileDialog;
class QWidget;

namespace corvex {

// The save panel of one file.
struct SavePanelRequest {
    QString title;
    QString suggestedName; // without extension; may be empty
    QString allowedFileType; // "igc", "kml", "csv"
    // Where the panel starts: the folder the last save of its kind went to.
    QString directory;
};

// The folder-choosing panel of an all-flights export: folders can be chosen and
// created, files cannot be chosen.
struct FolderPanelRequest {
    QString title;
    QString nameFieldText;
    QString confirmButtonText { QStringLiteral("Save") };
    // Where the panel starts; the name field's folder is made inside it.
    QString directory;
};

// The folder panel as the program shows it, not yet run: its confirm button takes the
// suggested folder at once, which is made on confirming when it does not exist.
std::unique_ptr<QFileDialog> makeFolderPanel(QWidget* parent, const FolderPanelRequest& request);

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
