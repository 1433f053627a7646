#pragma once
// A transfer-rate list: one line per connection with the bytes per second
// received and sent, as text and as a bar on a logarithmic scale. GUI
// thread only; the counters behind each line are filled by link threads
// (see shell/RateMeter.h).

#include "shell/RateMeter.h"

#include <QTreeWidget>

#include <memory>
#include <vector>

class QLabel;
class QProgressBar;

// One line: the meter and the two cells that show it.
class CRateItemData : public CRateMeter {
public:
    CRateItemData(QTreeWidget* list, const QString& title);
    ~CRateItemData() override;

    QTreeWidgetItem* Item() const { return m_item; }
    // Drains the counters and shows the rates.
    void Show();
    QString RxText() const;
    QString TxText() const;
    int RxBar() const;
    int TxBar() const;

private:
    struct Cell {
        QLabel* text = nullptr;
        QProgressBar* bar = nullptr;
    };
    static Cell makeCell(QTreeWidget* list, QTreeWidgetItem* item, int column);
    static void show(Cell& cell, const _RATESAMPLE& sample);

    QTreeWidgetItem* m_item;
    Cell m_rx, m_tx;
};

class CRateListCtrl : public QTreeWidget {
public:
    explicit CRateListCtrl(QWidget* parent = nullptr);
    ~CRateListCtrl() override;

    // The new line's meter; it lives until RemoveLine or the list's end.
    CRateItemData* AddLine(const QString& title);
    // Deletes the line and its meter; the meter's counters are not touched
    // again. Unknown meters are ignored.
    void RemoveLine(CRateMeter* meter);
    // Samples every line; the owner calls it once per second.
    void SampleAll();
    const std::vector<std::unique_ptr<CRateItemData>>& Lines() const { return m_lines; }

private:
    std::vector<std::unique_ptr<CRateItemData>> m_lines;
};
