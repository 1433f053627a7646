#include "shell/ui/RateList.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>

namespace {
// The rate text takes the first 80 pixels of a cell, the bar the rest.
constexpr int kTextWidth = 80;
}

CRateItemData::CRateItemData(QTreeWidget* list, const QString& title) : m_item(new QTreeWidgetItem(list))
{
    m_item->setText(0, title);
    m_rx = makeCell(list, m_item, 1);
    m_tx = makeCell(list, m_item, 2);
    _RATESAMPLE silent;
    show(m_rx, silent);
    show(m_tx, silent);
}

CRateItemData::~CRateItemData()
{
    Detach();
    delete m_item;
}

CRateItemData::Cell CRateItemData::makeCell(QTreeWidget* list, QTreeWidgetItem* item, int column)
{
    auto* widget = new QWidget;
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(0);
    Cell cell;
    cell.text = new QLabel(widget);
    cell.text->setFixedWidth(kTextWidth);
    cell.bar = new QProgressBar(widget);
    cell.bar->setRange(0, 100);
    cell.bar->setTextVisible(false);
    cell.bar->setMaximumHeight(14);
    layout->addWidget(cell.text);
    layout->addWidget(cell.bar, 1);
    list->setItemWidget(item, column, widget);
    return cell;
}

void CRateItemData::show(Cell& cell, const _RATESAMPLE& sample)
{
    cell.text->setText(QString::fromStdString(RateText(sample.rate)));
    cell.bar->setValue(std::clamp(sample.position, 0, 100));
}

void CRateItemData::Show()
{
    _RATESAMPLE rx, tx;
    Sample(rx, tx);
    show(m_rx, rx);
    show(m_tx, tx);
}

QString CRateItemData::RxText() const
{
    return m_rx.text->text();
}

QString CRateItemData::TxText() const
{
    return m_tx.text->text();
}

int CRateItemData::RxBar() const
{
    return m_rx.bar->value();
}

int CRateItemData::TxBar() const
{
    return m_tx.bar->value();
}

CRateListCtrl::CRateListCtrl(QWidget* parent) : QTreeWidget(parent)
{
    setColumnCount(3);
    setHeaderLabels({tr("Connection"), tr("RX"), tr("TX")});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    header()->resizeSection(0, 100);
    header()->resizeSection(1, 300);
    header()->resizeSection(2, 300);
}

CRateListCtrl::~CRateListCtrl()
{
    m_lines.clear();
}

CRateItemData* CRateListCtrl::AddLine(const QString& title)
{
    m_lines.push_back(std::make_unique<CRateItemData>(this, title));
    // Titles such as a client's address and port are shown whole.
    header()->resizeSection(0, std::max(header()->sectionSize(0), sizeHintForColumn(0)));
    return m_lines.back().get();
}

void CRateListCtrl::RemoveLine(CRateMeter* meter)
{
    auto it = std::find_if(m_lines.begin(), m_lines.end(), [&](const auto& l) { return l.get() == meter; });
    if (it != m_lines.end())
        m_lines.erase(it);
}

void CRateListCtrl::SampleAll()
{
    for (auto& line : m_lines)
        line->Show();
}
