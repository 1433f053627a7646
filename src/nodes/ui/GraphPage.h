#pragma once
// CGraphPage, the "Histograms" tab of the node monitor: one plot per
// histogram ("Node %d") of its bins against the bin index (X axis 0 to
// 255), and a marker cursor the operator moves with a slider, annotated
// with the marker in volts ("%.2fV", DAC steps x 0.01875). GUI thread only.

#include "nodes/NodeData.h"

#include <QWidget>

#include <vector>

class QChart;
class QLabel;
class QLineSeries;
class QSlider;
class QValueAxis;

// The annotation of a marker at `steps` DAC steps.
QString MarkerAnnotation(int steps);

class CGraphPage : public QWidget {
    Q_OBJECT
public:
    static constexpr double kVoltsPerStep = 0.01875;
    static constexpr int kLastBin = 255;

    explicit CGraphPage(QWidget* parent = nullptr);

    // Replaces the plots; an empty histogram shows as an empty plot.
    void SetData(const std::vector<NodeHistogram>& histograms);
    void SetMarker(int steps);
    int Marker() const { return m_marker; }
    QString MarkerText() const;

    QChart& Chart() { return *m_chart; }
    QSlider& MarkerSlider() { return *m_slider; }

private:
    void placeCursor();

    QChart* m_chart;
    QValueAxis* m_x;
    QValueAxis* m_y;
    QLineSeries* m_cursor;
    QSlider* m_slider;
    QLabel* m_annotation;
    int m_marker = 128;
};
