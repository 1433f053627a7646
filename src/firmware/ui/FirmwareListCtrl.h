#pragma once
// The list of an update: "CCB ID", "Progress" and "State", row 0 the image
// ("Load File"), then one row per destination, each with a progress bar
// drawn from its row's range and position. GUI thread only.

#include <QTreeWidget>

#include <cstdint>
#include <vector>

class CFirmUpdate;

class CFirmwareListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CFirmwareListCtrl(QWidget* parent = nullptr);

    // Row 0 "Load File", then the destinations in decimal.
    void SetRows(const std::vector<uint16_t>& destinations);
    // Copies each row's state, range and position from the engine.
    void Refresh(CFirmUpdate& update);
    void ClearRows();

    QString StateText(int row) const;
};
