#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QPushButton;
class QTreeWidget;

namespace corvex::library {

class FlightLibrary;

// The gliders as the flights show them, with their flights and hours: Rename… gives one
// a new name, Merge into… makes it one with another (FlightLibrary::renameGlider, as
// `corvex library glider` does). The files are never touched.
class GliderNamesDialog final : public QDialog {
    Q_OBJECT
public:
    explicit GliderNamesDialog(FlightLibrary& library, QWidget* parent = nullptr);

    void fill();
    QTreeWidget& list() { return *m_list; }
    // The selected glider renamed (askName) or merged into another (askMergeTarget);
    // false when nothing changed.
    bool renameSelected();
    bool mergeSelected();
    // Asked of the pilot; a test answers without a dialog.
    std::function<std::optional<QString>(const QString& glider)> askName;
    std::function<std::optional<QString>(const QString& glider, const QStringList& others)> askMergeTarget;

signals:
    // A glider has another name: the window reads the flights again.
    void renamed();

private:
    bool rename(const QString& from, const QString& to);
    FlightLibrary& m_library;
    QTreeWidget* m_list;
    QPushButton* m_rename;
    QPushButton* m_merge;
};

// The take-off sites with their flights, an unnamed one with its suggestion ("near X"):
// Name… names the selected one (nameSite, as `corvex library site N --name` does).
class SiteNamesDialog final : public QDialog {
    Q_OBJECT
public:
    explicit SiteNamesDialog(FlightLibrary& library, QWidget* parent = nullptr);

    void fill();
    QTreeWidget& list() { return *m_list; }
    bool nameSelected();
    // The name for the site (the suggestion offered); an empty one forgets it.
    std::function<std::optional<QString>(const QString& name, const QString& suggestion)> askName;

signals:
    void named();

private:
    FlightLibrary& m_library;
    QTreeWidget* m_list;
    QPushButton* m_name;
};

} // namespace corvex::library
