#include "ProgressBarWidget.h"
#include "ui_ProgressBarWidget.h"

#include <QCoreApplication>
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
    return QCoreApplication::translate("ProgressBarWidget", "Downloading.. %1 / %2MB")
        .arg(megabytes(current), megabytes(total));
}

} // namespace

ProgressBarWidget::ProgressBarWidget(QWidget* parent) : QWidget(parent), m_ui(new Ui::ProgressBarWidget)
{
    m_ui->setupUi(this);
    m_fillColor = AliasToken::instance().color(AliasToken::Surface);

    const QString labelStyle = QStringLiteral("QLabel {background : transparent; color: %1; %2;}")
                                   .arg(AliasToken::instance().rgba(AliasToken::ProgressText))
                                   .arg(Typography::instance().font(Typography::ProgressText).styleSheet());
    m_label = new QLabel(this);
    m_label->setGeometry(geometry());
    m_label->setIndent(25);
    m_label->setStyleSheet(labelStyle);
    m_rateLabel = new QLabel(this);
    m_rateLabel->setObjectName(QStringLiteral("lbRate"));
    m_rateLabel->setGeometry(geometry());
    m_rateLabel->setIndent(25);
    m_rateLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_rateLabel->setStyleSheet(labelStyle);
}

QString ProgressBarWidget::rateText(double bytesPerSecond, qint64 secondsLeft)
{
    const double megabytesPerSecond = bytesPerSecond / (1024.0 * 1024.0);
    QString text = megabytesPerSecond >= 0.1 ? tr("%1 MB/s").arg(megabytesPerSecond, 0, 'f', 1)
                                             : tr("%1 KB/s").arg(bytesPerSecond / 1024.0, 0, 'f', 0);
    if (secondsLeft < 0)
        return text;
    const qint64 hours = secondsLeft / 3600;
    const QString minutesSeconds =
        QStringLiteral("%1:%2").arg(secondsLeft / 60 % 60).arg(secondsLeft % 60, 2, 10, QLatin1Char('0'));
    const QString left =
        hours > 0 ? QStringLiteral("%1:%2").arg(hours).arg(minutesSeconds.rightJustified(5, '0')) : minutesSeconds;
    return tr("%1, %2 left").arg(text, left);
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
    if (!m_clock.isValid())
        m_clock.start();
    m_rate.add(m_currentBytes, m_clock.elapsed());
    if (!m_label)
        return;
    m_text = progressText(shownCurrent(), shownTotal());
    showTexts();
}

void ProgressBarWidget::setStatusText(const QString& text)
{
    m_statusText = text;
    showTexts();
}

void ProgressBarWidget::showTexts()
{
    if (!m_label)
        return;
    m_label->setText(m_statusText.isEmpty() ? m_text : m_statusText);
    // A speed needs a second of reports to mean anything.
    const bool rateKnown =
        m_statusText.isEmpty() && m_clock.isValid() && m_clock.elapsed() >= 1000 && m_rate.bytesPerSecond() > 0.0;
    m_rateLabel->setText(
        rateKnown ? rateText(m_rate.bytesPerSecond(), m_rate.secondsLeft(shownTotal() - shownCurrent())) : QString());
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
