#include "nodes/ui/GraphPage.h"

#include <QChart>
#include <QChartView>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QSlider>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

QString MarkerAnnotation(int steps) { return QString::asprintf("%.2fV", steps * CGraphPage::kVoltsPerStep); }

CGraphPage::CGraphPage(QWidget* parent)
    : QWidget(parent),
      m_chart(new QChart),
      m_x(new QValueAxis),
      m_y(new QValueAxis),
      m_cursor(new QLineSeries),
      m_slider(new QSlider(Qt::Horizontal)),
      m_annotation(new QLabel)
{
    m_x->setObjectName("XAxis");
    m_x->setRange(0, kLastBin);
    m_x->setLabelFormat("%d");
    m_y->setObjectName("YAxis-1");
    m_y->setRange(0, 1);
    m_y->setLabelFormat("%d");
    m_chart->addAxis(m_x, Qt::AlignBottom);
    m_chart->addAxis(m_y, Qt::AlignLeft);
    m_cursor->setName("Marker");
    m_chart->addSeries(m_cursor);
    m_cursor->attachAxis(m_x);
    m_cursor->attachAxis(m_y);

    auto* view = new QChartView(m_chart);
    view->setRenderHint(QPainter::Antialiasing);
    m_slider->setRange(0, kLastBin);
    m_slider->setValue(m_marker);
    auto* markerRow = new QHBoxLayout;
    markerRow->addWidget(new QLabel(tr("Marker")));
    markerRow->addWidget(m_slider, 1);
    markerRow->addWidget(m_annotation);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view, 1);
    layout->addLayout(markerRow);
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) { SetMarker(value); });
    placeCursor();
}

void CGraphPage::SetData(const std::vector<NodeHistogram>& histograms)
{
    for (QAbstractSeries* series : m_chart->series())
        if (series != m_cursor) {
            m_chart->removeSeries(series);
            delete series;
        }
    int top = 1;
    for (const NodeHistogram& h : histograms) {
        auto* plot = new QLineSeries;
        plot->setName(QString::asprintf("Node %d", h.node));
        for (size_t bin = 0; bin < h.bins.size() && bin <= kLastBin; ++bin) {
            plot->append(static_cast<qreal>(bin), h.bins[bin]);
            top = std::max<int>(top, h.bins[bin]);
        }
        m_chart->addSeries(plot);
        plot->attachAxis(m_x);
        plot->attachAxis(m_y);
    }
    m_y->setRange(0, top);
    placeCursor();
}

void CGraphPage::SetMarker(int steps)
{
    m_marker = std::clamp(steps, 0, kLastBin);
    if (m_slider->value() != m_marker)
        m_slider->setValue(m_marker);
    placeCursor();
}

QString CGraphPage::MarkerText() const { return m_annotation->text(); }

void CGraphPage::placeCursor()
{
    m_cursor->clear();
    m_cursor->append(m_marker, m_y->min());
    m_cursor->append(m_marker, m_y->max());
    m_annotation->setText(MarkerAnnotation(m_marker));
}
