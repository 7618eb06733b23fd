#pragma once

#include <memory>
#include <tuple>

#include <QColor>
#include <QElapsedTimer>
#include <QWidget>

#include "TransferRate.h"

class QLabel;

namespace Ui {
class ProgressBarWidget;
}

// Overall progress of an update download: a white fill inside a rounded frame picture, the text
// "Downloading.. X / YMB" and, once the download has run a second, its smoothed speed and the time left. Adds up
// per-file reports; the figures never go back and are never reset. What is shown stays between 0 and the total,
// whatever the reports and the total (a manifest's figure) say.
class ProgressBarWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ProgressBarWidget(QWidget* parent = nullptr);
    ~ProgressBarWidget() override;

    void setTotalBytes(qint64 total);
    // One report for the file being downloaded: `received` of its `total` bytes.
    void setProgress(qint64 received, qint64 total);
    // A text shown in place of the download figures (while the update is installed, say); empty: the figures again.
    void setStatusText(const QString& text);

    // "2.5 MB/s, 0:42 left": the speed in MB/s (KB/s below 0.1 MB/s) and the time left as m:ss (h:mm:ss from an
    // hour); the time is left out while unknown (secondsLeft < 0).
    static QString rateText(double bytesPerSecond, qint64 secondsLeft);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage composeBar() const;
    // The total and the count as shown: the total not below 0, the count within 0 and that total.
    qint64 shownTotal() const;
    qint64 shownCurrent() const;

    std::unique_ptr<Ui::ProgressBarWidget> m_ui;
    void showTexts();

    QLabel* m_label = nullptr;
    // Speed and time left, right-aligned in the same bar.
    QLabel* m_rateLabel = nullptr;
    TransferRate m_rate;
    QElapsedTimer m_clock;
    qint64 m_totalBytes = 0;
    qint64 m_currentBytes = 0;
    qint64 m_completedBytes = 0;
    QString m_text;
    QString m_statusText;
    QColor m_fillColor;
    // What the picture on the background label shows (current, total, size, device pixel ratio); painting only
    // replaces the picture when this changes.
    std::tuple<qint64, qint64, QSize, double> m_painted{-1, -1, QSize(), 0.0};
};
