#include "library/ui/NamesDialogs.h"

#include "library/FlightLibrary.h"
#include "library/PlaceNames.h"
#include "library/Sites.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace corvex::library {

namespace {

QTreeWidget* namesList(const QStringList& titles)
{
    auto* list = new QTreeWidget;
    list->setHeaderLabels(titles);
    list->setRootIsDecorated(false);
    list->setAlternatingRowColors(true);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    return list;
}

QString hoursText(std::int64_t seconds) { return QString::number(seconds / 3600.0, 'f', 1); }

// One line of text, without the spaces around it.
QString oneLine(QString text)
{
    text.replace(QRegularExpression(QStringLiteral("[\\x00-\\x1f\\x7f]")), QStringLiteral(" "));
    return text.trimmed();
}

} // namespace

GliderNamesDialog::GliderNamesDialog(FlightLibrary& library, QWidget* parent)
    : QDialog(parent)
    , m_library(library)
    , m_list(namesList({ tr("Glider"), tr("Flights"), tr("Hours") }))
    , m_rename(new QPushButton(tr("Rename…")))
    , m_merge(new QPushButton(tr("Merge into…")))
{
    setWindowTitle(tr("Gliders"));
    m_rename->setToolTip(tr("Give the glider another name in every flight; the files stay as they are"));
    m_merge->setToolTip(tr("The same glider spelt another way: its flights take the other name"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->addButton(m_rename, QDialogButtonBox::ActionRole);
    buttons->addButton(m_merge, QDialogButtonBox::ActionRole);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    resize(fontMetrics().averageCharWidth() * 60, fontMetrics().height() * 24);

    askName = [this](const QString& glider) -> std::optional<QString> {
        bool ok = false;
        const QString name = QInputDialog::getText(this, tr("Rename Glider"), tr("New name for %1:").arg(glider), QLineEdit::Normal, glider, &ok);
        return ok ? std::optional(name) : std::nullopt;
    };
    askMergeTarget = [this](const QString& glider, const QStringList& others) -> std::optional<QString> {
        bool ok = false;
        const QString name = QInputDialog::getItem(this, tr("Merge Glider"), tr("The flights of %1 take the name:").arg(glider), others, 0, false, &ok);
        return ok ? std::optional(name) : std::nullopt;
    };
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_rename, &QPushButton::clicked, this, &GliderNamesDialog::renameSelected);
    connect(m_merge, &QPushButton::clicked, this, &GliderNamesDialog::mergeSelected);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] {
        const bool one = !m_list->selectedItems().isEmpty() && !m_library.readOnly();
        m_rename->setEnabled(one);
        m_merge->setEnabled(one && m_list->topLevelItemCount() > 1);
    });
    fill();
}

void GliderNamesDialog::fill()
{
    const QString selected = m_list->currentItem() ? m_list->currentItem()->text(0) : QString();
    m_list->clear();
    auto gliders = m_library.index().totalsByGlider();
    if (!gliders)
        return;
    // The most flown first: the names a merge most likely keeps.
    std::stable_sort(gliders->begin(), gliders->end(), [](const FlightTotals& a, const FlightTotals& b) { return a.flights > b.flights; });
    for (const FlightTotals& glider : *gliders) {
        if (glider.key.empty())
            continue;
        auto* item = new QTreeWidgetItem(m_list, { QString::fromStdString(glider.key), QString::number(glider.flights), hoursText(glider.seconds) });
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        if (item->text(0) == selected)
            m_list->setCurrentItem(item);
    }
    m_list->resizeColumnToContents(1);
    m_list->resizeColumnToContents(2);
    emit m_list->itemSelectionChanged();
}

bool GliderNamesDialog::rename(const QString& from, const QString& to)
{
    const auto renamedFlights = m_library.renameGlider(from.toStdString(), to.toStdString());
    if (!renamedFlights) {
        QMessageBox::warning(this, windowTitle(), QString::fromStdString(renamedFlights.error().message));
        return false;
    }
    fill();
    emit renamed();
    return true;
}

bool GliderNamesDialog::renameSelected()
{
    if (!m_list->currentItem())
        return false;
    const QString from = m_list->currentItem()->text(0);
    const auto to = askName ? askName(from) : std::nullopt;
    if (!to || oneLine(*to).isEmpty() || oneLine(*to) == from)
        return false;
    return rename(from, oneLine(*to));
}

bool GliderNamesDialog::mergeSelected()
{
    if (!m_list->currentItem())
        return false;
    const QString from = m_list->currentItem()->text(0);
    QStringList others;
    for (int row = 0; row < m_list->topLevelItemCount(); ++row)
        if (m_list->topLevelItem(row)->text(0) != from)
            others << m_list->topLevelItem(row)->text(0);
    const auto to = askMergeTarget && !others.isEmpty() ? askMergeTarget(from, others) : std::nullopt;
    if (!to || !others.contains(*to))
        return false;
    return rename(from, *to);
}

SiteNamesDialog::SiteNamesDialog(FlightLibrary& library, QWidget* parent)
    : QDialog(parent)
    , m_library(library)
    , m_list(namesList({ tr("Site"), tr("Flights"), tr("Hours"), tr("Position") }))
    , m_name(new QPushButton(tr("Name…")))
{
    setWindowTitle(tr("Sites"));
    m_name->setToolTip(tr("Name the site: every flight from there, now and later, carries the name"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->addButton(m_name, QDialogButtonBox::ActionRole);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list, 1);
    layout->addWidget(buttons);
    resize(fontMetrics().averageCharWidth() * 72, fontMetrics().height() * 24);
    askName = [this](const QString& name, const QString& suggestion) -> std::optional<QString> {
        bool ok = false;
        const QString text = QInputDialog::getText(this, tr("Name Site"), tr("The site's name (empty: no name):"), QLineEdit::Normal,
            name.isEmpty() ? suggestion : name, &ok);
        return ok ? std::optional(text) : std::nullopt;
    };
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_name, &QPushButton::clicked, this, &SiteNamesDialog::nameSelected);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this,
        [this] { m_name->setEnabled(!m_list->selectedItems().isEmpty() && !m_library.readOnly()); });
    fill();
}

void SiteNamesDialog::fill()
{
    const int selected = m_list->currentItem() ? m_list->currentItem()->data(0, Qt::UserRole).toInt() : 0;
    m_list->clear();
    auto book = readSiteBook(m_library);
    if (!book)
        return;
    const PlaceList places = PlaceList::read();
    for (const Site& site : book->sites()) {
        const std::string suggestion = site.name.empty() ? places.suggestion(site.centre) : std::string();
        const QString name = !site.name.empty() ? QString::fromStdString(site.name)
            : !suggestion.empty()               ? tr("(%1?)").arg(QString::fromStdString(suggestion))
                                                : tr("(site %1)").arg(site.number);
        auto* item = new QTreeWidgetItem(m_list, { name, QString::number(site.flights), hoursText(site.seconds),
                                                     QStringLiteral("%1, %2").arg(site.centre.latitude, 0, 'f', 5).arg(site.centre.longitude, 0, 'f', 5) });
        item->setData(0, Qt::UserRole, site.number);
        item->setData(0, Qt::UserRole + 1, QString::fromStdString(site.name));
        item->setData(0, Qt::UserRole + 2, QString::fromStdString(suggestion));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        if (site.number == selected)
            m_list->setCurrentItem(item);
    }
    for (int column = 1; column < 4; ++column)
        m_list->resizeColumnToContents(column);
    emit m_list->itemSelectionChanged();
}

bool SiteNamesDialog::nameSelected()
{
    const QTreeWidgetItem* item = m_list->currentItem();
    if (!item || !askName)
        return false;
    const auto name = askName(item->data(0, Qt::UserRole + 1).toString(), item->data(0, Qt::UserRole + 2).toString());
    if (!name)
        return false;
    // The book again: the sites' numbers follow the flights, which may have changed.
    const auto book = readSiteBook(m_library);
    const Site* site = book ? book->site(item->data(0, Qt::UserRole).toInt()) : nullptr;
    if (!site)
        return false;
    if (const auto done = nameSite(m_library, *site, oneLine(*name).toStdString()); !done) {
        QMessageBox::warning(this, windowTitle(), QString::fromStdString(done.error().message));
        return false;
    }
    fill();
    emit named();
    return true;
}

} // namespace corvex::library
