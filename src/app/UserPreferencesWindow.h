#pragma once

#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace Ui {
class UserPreferencesWindow;
}

namespace corvex {

class PreferencesStore;

// The preferences window: the communications log, and how the airspaces window shows
// its map ("airspacesMapType", "displayAirspacesAs") and whether it offers OpenAir
// files ("openAirEnabled"), and the airspace checks' tolerances. Each control writes
// its preference and nothing else; the device, the airspaces window and the library
// hear of it through the store's change signal like every other listener.
class UserPreferencesWindow final : public QWidget {
    Q_OBJECT

public:
    explicit UserPreferencesWindow(PreferencesStore& preferences, QWidget* parent = nullptr);
    ~UserPreferencesWindow() override;

    Ui::UserPreferencesWindow& ui() { return *m_ui; }
    // "contestRuleSets": the contest the library's table shows, and the others the
    // library scores too, one box for each rule set the scorer knows.
    QComboBox& listedContestPopup() { return *m_listedContest; }
    const std::vector<QCheckBox*>& otherContestBoxes() const { return m_otherContests; }
    // "units" (metric, imperial, aviation) and "timesInUtc": how the library shows its
    // figures and times.
    QComboBox& unitsPopup() { return *m_units; }
    QCheckBox& timesInUtcBox() { return *m_timesInUtc; }
    // "terrainFolder" ($CORVEX_TERRAIN over it): the folder of elevation tiles, and one
    // line on what it holds (how many tiles cover what) or what is wrong with it.
    QLabel& terrainFolderLabel() { return *m_terrainFolder; }
    QLabel& terrainSummaryLabel() { return *m_terrainSummary; }
    QPushButton& clearTerrainFolderButton() { return *m_clearTerrainFolder; }
    // "airspaceToleranceHorizontal" and "airspaceToleranceVertical": whole metres,
    // 0 to 1000, stored once a value is entered (not at each keystroke).
    QSpinBox& horizontalToleranceBox() { return *m_horizontalTolerance; }
    QSpinBox& verticalToleranceBox() { return *m_verticalTolerance; }

public slots:
    // The check box's action: the binding has already stored the value.
    void logCommunicationsCheckbox() { }

private:
    void showStoredValues();
    QString currentLibraryFolder() const;
    void addContestControls();
    void storeContests();
    void addAirspaceToleranceControls();
    void addTerrainControls();
    void showTerrain();

    std::unique_ptr<Ui::UserPreferencesWindow> m_ui;
    PreferencesStore& m_preferences;
    QComboBox* m_listedContest { nullptr };
    std::vector<QCheckBox*> m_otherContests; // in the order of the rule sets' table
    QComboBox* m_units { nullptr };
    QCheckBox* m_timesInUtc { nullptr };
    QLabel* m_terrainFolder { nullptr };
    QLabel* m_terrainSummary { nullptr };
    QPushButton* m_clearTerrainFolder { nullptr };
    QSpinBox* m_horizontalTolerance { nullptr };
    QSpinBox* m_verticalTolerance { nullptr };
    // The folder the summary line was made for: it is scanned again only when it
    // changes, not on every other preference's change.
    std::optional<QString> m_summarizedTerrainFolder;
};

} // namespace corvex
