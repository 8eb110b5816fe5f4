#include "app/UserPreferencesWindow.h"

#include "base/Units.h"
#include "flights/ContestRules.h"
#include "library/FlightScores.h"
#include "library/LibraryFolder.h"
#include "map/qt/MapBaseLayer.h"
#include "platform/qt/PreferencesStore.h"
#include "terrain/TerrainTiles.h"
#include "ui_UserPreferencesWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStandardItemModel>

#include <algorithm>
#include <cmath>

namespace corvex {

UserPreferencesWindow::UserPreferencesWindow(PreferencesStore& preferences, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_ui(std::make_unique<Ui::UserPreferencesWindow>())
    , m_preferences(preferences)
{
    m_ui->setupUi(this);
    addContestControls();
    addAirspaceToleranceControls();
    addTerrainControls();
    // Wide enough for the library's long check box, and as tall as its wrapped text
    // needs at that width.
    resize(560, 0);
    resize(560, std::max(layout()->heightForWidth(560), layout()->minimumSize().height()));
    showStoredValues();
    connect(m_ui->logCommunicationsCheckbox, &QCheckBox::toggled, this, [this](bool checked) {
        m_preferences.setValue(QStringLiteral("logCommunications"), checked);
        logCommunicationsCheckbox();
    });
    connect(m_ui->airspacesMapTypePopup, &QComboBox::activated, this,
        [this](int index) { m_preferences.setValue(QStringLiteral("airspacesMapType"), index); });
    connect(m_ui->displayAirspacesAsPopup, &QComboBox::activated, this,
        [this](int index) { m_preferences.setValue(QStringLiteral("displayAirspacesAs"), index); });
    connect(m_ui->openAirEnabledCheckbox, &QCheckBox::toggled, this,
        [this](bool checked) { m_preferences.setValue(QStringLiteral("openAirEnabled"), checked); });
    connect(m_ui->syncFlightsOnConnectionCheckbox, &QCheckBox::toggled, this,
        [this](bool checked) { m_preferences.setValue(QStringLiteral("syncFlightsOnConnection"), checked); });
    connect(m_ui->chooseFlightLibraryFolderButton, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, tr("Flight Library Folder"), currentLibraryFolder());
        if (!folder.isEmpty())
            m_preferences.setValue(QStringLiteral("flightLibraryFolder"), folder);
    });
    connect(&m_preferences, &PreferencesStore::changed, this, &UserPreferencesWindow::showStoredValues);
}

UserPreferencesWindow::~UserPreferencesWindow() = default;

namespace {

QString ruleSetText(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

} // namespace

void UserPreferencesWindow::addContestControls()
{
    m_listedContest = new QComboBox;
    m_listedContest->setAccessibleName(tr("Contest shown in the library"));
    auto* others = new QHBoxLayout;
    for (const flights::ContestRuleSet& rules : flights::contestRuleSets()) {
        m_listedContest->addItem(ruleSetText(rules.name), ruleSetText(rules.id));
        auto* box = new QCheckBox(ruleSetText(rules.name));
        box->setProperty("ruleSet", ruleSetText(rules.id));
        others->addWidget(box);
        m_otherContests.push_back(box);
        connect(box, &QCheckBox::toggled, this, &UserPreferencesWindow::storeContests);
    }
    others->addStretch(1);
    connect(m_listedContest, &QComboBox::activated, this, &UserPreferencesWindow::storeContests);
    m_units = new QComboBox;
    m_units->setAccessibleName(tr("Units"));
    m_units->addItem(tr("Metric (m, km/h, m/s, km)"), QStringLiteral("metric"));
    m_units->addItem(tr("Imperial (ft, mph, ft/min, mi)"), QStringLiteral("imperial"));
    m_units->addItem(tr("Aviation (ft, kt, kt, NM)"), QStringLiteral("aviation"));
    connect(m_units, &QComboBox::activated, this,
        [this] { m_preferences.setValue(QStringLiteral("units"), m_units->currentData().toString()); });
    m_timesInUtc = new QCheckBox(tr("Times in UTC (else at the take-off's local time)"));
    connect(m_timesInUtc, &QCheckBox::toggled, this,
        [this](bool checked) { m_preferences.setValue(QStringLiteral("timesInUtc"), checked); });
    auto* form = new QFormLayout;
    form->addRow(tr("Contest in the table:"), m_listedContest);
    form->addRow(tr("Also score under:"), others);
    form->addRow(tr("Units:"), m_units);
    form->addRow(QString(), m_timesInUtc);
    // Under the library's folder, in the library's part of the window.
    const int at = m_ui->preferencesLayout->indexOf(m_ui->airspacesCaptionLabel);
    m_ui->preferencesLayout->insertLayout(at, form);
}

namespace {

const QString horizontalToleranceKey = QStringLiteral("airspaceToleranceHorizontal");
const QString verticalToleranceKey = QStringLiteral("airspaceToleranceVertical");
constexpr int maximumToleranceMetres = 1000;

// The stored metres as the box shows them: a value the box cannot hold (negative, not
// a number, written by hand in the settings file) shows as the nearest it can.
int toleranceShown(const QVariant& stored)
{
    const double metres = stored.toDouble();
    if (!std::isfinite(metres) || metres <= 0)
        return 0;
    return static_cast<int>(std::lround(std::min(metres, double(maximumToleranceMetres))));
}

} // namespace

void UserPreferencesWindow::addAirspaceToleranceControls()
{
    const auto makeBox = [this](const QString& key, const QString& name, const QString& tip) {
        auto* box = new QSpinBox;
        box->setRange(0, maximumToleranceMetres);
        box->setSuffix(tr(" m"));
        box->setAccessibleName(name);
        box->setToolTip(tip);
        // Stored when the value is entered or stepped, not at each digit typed: "250"
        // would otherwise pass through 2 and 25, each reaching the library.
        box->setKeyboardTracking(false);
        connect(box, &QSpinBox::valueChanged, this, [this, key](int metres) { m_preferences.setValue(key, metres); });
        return box;
    };
    m_horizontalTolerance = makeBox(horizontalToleranceKey, tr("Horizontal airspace tolerance"),
        tr("A fix counts as inside an airspace only when it is more than this inside its outline, "
           "as the leagues apply it. 0: any fix inside counts."));
    m_verticalTolerance = makeBox(verticalToleranceKey, tr("Vertical airspace tolerance"),
        tr("A fix counts as inside an airspace only when it is more than this above its floor and "
           "below its ceiling, as the leagues apply it. 0: any fix beyond a limit counts."));
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(tr("Airspace tolerance: horizontal")));
    row->addWidget(m_horizontalTolerance);
    row->addWidget(new QLabel(tr("vertical")));
    row->addWidget(m_verticalTolerance);
    row->addStretch(1);
    // The last line of the airspaces' part, before the spacer that keeps the parts at
    // the top (the terrain part goes in after it).
    m_ui->preferencesLayout->insertLayout(m_ui->preferencesLayout->count() - 1, row);
}

void UserPreferencesWindow::addTerrainControls()
{
    auto* caption = new QLabel(tr("<b>Terrain</b>"));
    m_terrainFolder = new QLabel;
    m_terrainFolder->setWordWrap(true);
    m_terrainFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* choose = new QPushButton(tr("Choose Folder\u2026"));
    choose->setAccessibleName(tr("Choose the terrain folder"));
    m_clearTerrainFolder = new QPushButton(tr("None"));
    m_clearTerrainFolder->setAccessibleName(tr("Use no terrain"));
    auto* row = new QHBoxLayout;
    row->addWidget(m_terrainFolder, 1);
    row->addWidget(choose);
    row->addWidget(m_clearTerrainFolder);
    m_terrainSummary = new QLabel;
    m_terrainSummary->setWordWrap(true);
    m_terrainSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Below the airspaces, above the spacer that keeps the window's parts at the top.
    const int at = m_ui->preferencesLayout->count() - 1;
    m_ui->preferencesLayout->insertWidget(at, caption);
    m_ui->preferencesLayout->insertLayout(at + 1, row);
    m_ui->preferencesLayout->insertWidget(at + 2, m_terrainSummary);
    connect(choose, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, tr("Terrain Folder"),
            m_preferences.stringValue(QStringLiteral("terrainFolder")));
        if (!folder.isEmpty())
            m_preferences.setValue(QStringLiteral("terrainFolder"), folder);
    });
    connect(m_clearTerrainFolder, &QPushButton::clicked, this,
        [this] { m_preferences.setValue(QStringLiteral("terrainFolder"), QString()); });
}

void UserPreferencesWindow::showTerrain()
{
    terrain::TerrainFolderChoice choice;
    choice.preference = m_preferences.stringValue(QStringLiteral("terrainFolder")).toStdString();
    const auto folder = terrain::terrainFolder(choice);
    const QString shown = folder ? QString::fromStdString(*folder) : QString();
    m_clearTerrainFolder->setEnabled(!m_preferences.stringValue(QStringLiteral("terrainFolder")).isEmpty());
    if (m_summarizedTerrainFolder == shown)
        return;
    m_summarizedTerrainFolder = shown;
    if (!folder) {
        m_terrainFolder->setText(tr("Folder: none"));
        m_terrainSummary->setText(tr("Without elevation tiles (SRTM .hgt or GeoTIFF) the height above the ground is not known."));
        return;
    }
    m_terrainFolder->setText(tr("Folder: %1").arg(shown));
    m_terrainSummary->setText(QString::fromStdString(terrain::terrainSummaryText(terrain::TerrainTiles(*folder).summary())));
}

void UserPreferencesWindow::storeContests()
{
    const QString listed = m_listedContest->currentData().toString();
    QStringList ruleSets { listed };
    for (QCheckBox* box : m_otherContests)
        if (box->isChecked() && box->property("ruleSet").toString() != listed)
            ruleSets << box->property("ruleSet").toString();
    m_preferences.setValue(QStringLiteral("contestRuleSets"), ruleSets.join(QStringLiteral(", ")));
}

void UserPreferencesWindow::showStoredValues()
{
    const QSignalBlocker blocker(m_ui->logCommunicationsCheckbox);
    m_ui->logCommunicationsCheckbox->setChecked(m_preferences.boolValue(QStringLiteral("logCommunications")));
    // A value the lists do not offer selects nothing rather than a wrong entry.
    const auto showIndex = [](QComboBox* popup, const QVariant& value) {
        bool ok = false;
        const int index = value.toInt(&ok);
        popup->setCurrentIndex(ok && index >= 0 && index < popup->count() ? index : -1);
    };
    // Satellite and Hybrid stay listed (the stored value is the row) but cannot be
    // chosen without their tiles' address; the airspaces window then shows Standard,
    // and so does this list.
    auto* mapTypes = qobject_cast<QStandardItemModel*>(m_ui->airspacesMapTypePopup->model());
    static constexpr const char* templateKeys[] = { nullptr, "mapTileURLSatellite", "mapTileURLHybrid" };
    for (int row = 1; mapTypes && row < mapTypes->rowCount() && row < 3; ++row) {
        const bool offered = MapBaseLayer::hasOwnTiles(m_preferences, static_cast<MapType>(row));
        mapTypes->item(row)->setEnabled(offered);
        mapTypes->item(row)->setToolTip(offered ? QString()
                                                : tr("Set the preference %1 to the address of its tiles to use this map.")
                                                      .arg(QString::fromLatin1(templateKeys[row])));
    }
    showIndex(m_ui->airspacesMapTypePopup, m_preferences.value(QStringLiteral("airspacesMapType")));
    const int mapType = m_ui->airspacesMapTypePopup->currentIndex();
    if (mapTypes && mapType > 0 && !mapTypes->item(mapType)->isEnabled())
        m_ui->airspacesMapTypePopup->setCurrentIndex(0);
    showIndex(m_ui->displayAirspacesAsPopup, m_preferences.value(QStringLiteral("displayAirspacesAs")));
    const QSignalBlocker openAirBlocker(m_ui->openAirEnabledCheckbox);
    m_ui->openAirEnabledCheckbox->setChecked(m_preferences.boolValue(QStringLiteral("openAirEnabled")));
    const QSignalBlocker syncBlocker(m_ui->syncFlightsOnConnectionCheckbox);
    m_ui->syncFlightsOnConnectionCheckbox->setChecked(m_preferences.boolValue(QStringLiteral("syncFlightsOnConnection")));
    m_ui->flightLibraryFolderLabel->setText(tr("Folder: %1").arg(currentLibraryFolder()));
    showTerrain();
    for (auto [box, key] : { std::pair { m_horizontalTolerance, horizontalToleranceKey }, std::pair { m_verticalTolerance, verticalToleranceKey } }) {
        const QSignalBlocker toleranceBlocker(box);
        box->setValue(toleranceShown(m_preferences.value(key)));
    }

    const auto units = parseUnitSystem(m_preferences.stringValue(QStringLiteral("units")).toStdString()).value_or(UnitSystem::Metric);
    const QSignalBlocker unitsBlocker(m_units);
    m_units->setCurrentIndex(std::max(0, m_units->findData(QString::fromLatin1(unitSystemName(units)))));
    const QSignalBlocker utcBlocker(m_timesInUtc);
    m_timesInUtc->setChecked(m_preferences.boolValue(QStringLiteral("timesInUtc")));

    const auto ruleSets = library::contestRuleSetList(m_preferences.stringValue(QStringLiteral("contestRuleSets")).toStdString());
    const QString listed = QString::fromStdString(ruleSets.front());
    const QSignalBlocker listedBlocker(m_listedContest);
    m_listedContest->setCurrentIndex(std::max(0, m_listedContest->findData(listed)));
    for (QCheckBox* box : m_otherContests) {
        const QString id = box->property("ruleSet").toString();
        const QSignalBlocker boxBlocker(box);
        // The contest of the table is scored anyway: its box is ticked and fixed.
        box->setChecked(id == listed || std::find(ruleSets.begin(), ruleSets.end(), id.toStdString()) != ruleSets.end());
        box->setEnabled(id != m_listedContest->currentData().toString());
    }
}

QString UserPreferencesWindow::currentLibraryFolder() const
{
    library::LibraryFolderChoice choice;
    choice.preference = m_preferences.stringValue(QStringLiteral("flightLibraryFolder")).toStdString();
    return QString::fromStdString(library::libraryFolder(choice));
}

} // namespace corvex
