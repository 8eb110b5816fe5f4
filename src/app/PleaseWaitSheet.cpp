#include "app/PleaseWaitSheet.h"

#include <QCloseEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace corvex {

PleaseWaitSheet::PleaseWaitSheet(QWidget* parent)
    : QDialog(parent, Qt::Sheet | Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_label(new QLabel(this))
{
    setObjectName(QStringLiteral("pleaseWaitSheet"));
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Please wait"));
    m_label->setObjectName(QStringLiteral("pleaseWaitSheetLabel"));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setWordWrap(true);
    m_label->setMinimumWidth(280);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 24);
    layout->addWidget(m_label);
}

void PleaseWaitSheet::reject()
{
}

void PleaseWaitSheet::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

} // namespace corvex
