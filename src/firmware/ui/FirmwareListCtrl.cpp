#include "firmware/ui/FirmwareListCtrl.h"

#include "firmware/FirmUpdate.h"

#include <QHeaderView>
#include <QProgressBar>

namespace {
enum Column { kCcbId = 0, kProgress = 1, kState = 2 };
}

CFirmwareListCtrl::CFirmwareListCtrl(QWidget* parent) : QTreeWidget(parent)
{
    setColumnCount(3);
    setHeaderLabels({"CCB ID", "Progress", "State"});
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    header()->resizeSection(kCcbId, 90);
    header()->resizeSection(kProgress, 220);
}

void CFirmwareListCtrl::ClearRows() { clear(); }

void CFirmwareListCtrl::SetRows(const std::vector<uint16_t>& destinations)
{
    clear();
    QStringList labels{"Load File"};
    for (uint16_t id : destinations)
        labels << QString::asprintf("%d", id);
    for (const QString& label : labels) {
        auto* item = new QTreeWidgetItem(this, QStringList{label, QString(), QString()});
        auto* bar = new QProgressBar;
        bar->setRange(0, 1);
        bar->setValue(0);
        bar->setTextVisible(false);
        setItemWidget(item, kProgress, bar);
    }
}

void CFirmwareListCtrl::Refresh(CFirmUpdate& update)
{
    const int rows = std::min(topLevelItemCount(), static_cast<int>(update.RowCount()));
    for (int i = 0; i < rows; ++i) {
        CFirmProgress& row = update.Row(static_cast<size_t>(i));
        QTreeWidgetItem* item = topLevelItem(i);
        QString state = QString::fromStdString(row.GetState()).trimmed();
        if (item->text(kState) != state)
            item->setText(kState, state);
        auto* bar = static_cast<QProgressBar*>(itemWidget(item, kProgress));
        uint32_t low, high, position;
        row.GetRange(low, high);
        // Progress bars count in int: scale large ranges down.
        const int shift = high > 0x3FFFFFFF ? 2 : 0;
        if (high > low) {
            bar->setRange(static_cast<int>(low >> shift), static_cast<int>(high >> shift));
            if (row.GetPosition(position))
                bar->setValue(static_cast<int>(std::min(position, high) >> shift));
            else if (row.IsFinished() && state.startsWith("OK"))
                bar->setValue(bar->maximum());
        }
    }
}

QString CFirmwareListCtrl::StateText(int row) const
{
    QTreeWidgetItem* item = topLevelItem(row);
    return item ? item->text(kState) : QString();
}
