#include "ProgressBarWidget.h"
#include "ui_ProgressBarWidget.h"

#include <QLabel>
#include <QPainter>
#include <QSvgWidget>

#include "AliasToken.h"
#include "ScreenScale.h"
#include "Typography.h"

namespace {

const QString kFramePicture = QStringLiteral(":/OrvelLauncher/Resources/Launcher/Progress BG.svg");

// Bytes to the megabyte figure shown, in single precision as the published text does.
QString megabytes(qint64 bytes)
{
    float value = static_cast<float>(bytes);
    value *= 0.0009765625f;
    value *= 0.0009765625f;
    return QString::number(static_cast<double>(value), 'f', 1);
}

QString progressText(qint64 current, qint64 total)
{
    return QStringLiteral("Downloading.. ") + megabytes(current) + QStringLiteral(" / ") + megabytes(total) +
           QStringLiteral("MB");
}

} // namespace

ProgressBarWidget::ProgressBarWidget(QWidget* parent) : QWidget(parent), m_ui(new Ui::ProgressBarWidget)
{
    m_ui->setupUi(this);
    m_fillColor = AliasToken::instance().color(AliasToken::Surface);

    m_label = new QLabel(this);
    m_label->setGeometry(geometry());
    m_label->setIndent(25);
    m_label->setStyleSheet(QStringLiteral("QLabel {background : transparent; color: %1; %2;}")
                               .arg(AliasToken::instance().rgba(AliasToken::ProgressText))
                               .arg(Typography::instance().font(Typography::ProgressText).styleSheet()));
}

ProgressBarWidget::~ProgressBarWidget() = default;

void ProgressBarWidget::setTotalBytes(qint64 total)
{
    m_totalBytes = total;
}

void ProgressBarWidget::setProgress(qint64 received, qint64 total)
{
    const qint64 sum = m_completedBytes + received;
    if (m_currentBytes < sum)
        m_currentBytes = sum;
    if (received == total)
        m_completedBytes += total;
    if (!m_label)
        return;
    m_text = progressText(shownCurrent(), shownTotal());
    if (m_statusText.isEmpty())
        m_label->setText(m_text);
}

void ProgressBarWidget::setStatusText(const QString& text)
{
    m_statusText = text;
    if (m_label)
        m_label->setText(m_statusText.isEmpty() ? m_text : m_statusText);
}

qint64 ProgressBarWidget::shownTotal() const
{
    return qMax<qint64>(m_totalBytes, 0);
}

qint64 ProgressBarWidget::shownCurrent() const
{
    return qBound<qint64>(0, m_currentBytes, shownTotal());
}

QImage ProgressBarWidget::composeBar() const
{
    QSvgWidget frameWidget(kFramePicture);
    frameWidget.setAttribute(Qt::WA_TranslucentBackground);
    frameWidget.resize(frameWidget.sizeHint());
    QImage frame = frameWidget.grab().toImage();

    QPainter painter(&frame);
    painter.setRenderHint(QPainter::Antialiasing);
    // Everything drawn from here on goes behind the frame: the fill shows only through its transparent track.
    painter.setCompositionMode(QPainter::CompositionMode_DestinationOver);

    QImage fillLayer(size(), QImage::Format_ARGB32);
    fillLayer.fill(Qt::transparent);
    if (shownTotal() != 0) {
        // The count is at most the total, and a total at most 2^53 (the manifest's limit): no 64-bit overflow.
        const qint64 fillWidth = (static_cast<qint64>(width()) - 12) * shownCurrent() / shownTotal();
        QPainter fill(&fillLayer);
        fill.fillRect(QRect(6, 0, static_cast<int>(fillWidth), height()), m_fillColor);
    }
    painter.setBrush(QBrush(fillLayer));
    painter.drawRect(frame.rect());
    painter.end();
    return frame;
}

void ProgressBarWidget::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    // A new picture repaints the transparent label and therefore this widget beneath it: replacing an unchanged
    // picture on every paint would keep the widget painting for as long as it is visible.
    const auto now = std::make_tuple(m_currentBytes, m_totalBytes, size(), screenScale());
    if (now == m_painted)
        return;
    m_painted = now;
    m_ui->lbBackground->setPixmap(scaledForScreen(composeBar(), width(), height()));
}
