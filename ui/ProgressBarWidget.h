#pragma once

#include <memory>

#include <QColor>
#include <QWidget>

class QLabel;

namespace Ui {
class ProgressBarWidget;
}

// Overall progress of an update download: a white fill inside a rounded frame picture and the text
// "Downloading.. X / YMB". Adds up per-file reports; the figures never go back and are never reset.
class ProgressBarWidget : public QWidget
{
    Q_OBJECT

public:
    explicit ProgressBarWidget(QWidget* parent = nullptr);
    ~ProgressBarWidget() override;

    void setTotalBytes(qint64 total);
    // One report for the file being downloaded: `received` of its `total` bytes.
    void setProgress(qint64 received, qint64 total);

    qint64 totalBytes() const { return m_totalBytes; }
    qint64 currentBytes() const { return m_currentBytes; }
    QString text() const { return m_text; }

    // The text shown for `current` of `total` bytes.
    static QString progressText(qint64 current, qint64 total);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage composeBar() const;

    std::unique_ptr<Ui::ProgressBarWidget> ui;
    QLabel* m_label = nullptr;
    qint64 m_totalBytes = 0;
    qint64 m_currentBytes = 0;
    qint64 m_completedBytes = 0;
    QString m_text;
    QColor m_fillColor;
    // What the picture on the background label shows; painting only replaces it when this changes.
    struct Painted
    {
        qint64 current = -1;
        qint64 total = -1;
        QSize size;
        double ratio = 0;
        bool operator==(const Painted& o) const
        {
            return current == o.current && total == o.total && size == o.size && ratio == o.ratio;
        }
    } m_painted;
};
