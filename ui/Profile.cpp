#include "Profile.h"
#include "ui_Profile.h"

#include <QLabel>
#include <QPainter>
#include <QRandomGenerator>
#include <QSvgWidget>

#include "AccountFlows.h"
#include "ScreenScale.h"

Profile::Profile(QWidget* parent) : QWidget(parent), m_ui(new Ui::Profile)
{
    m_ui->setupUi(this);
    m_ui->bgWidget->load(QStringLiteral(":/OrvelLauncher/Resources/Launcher/Image Connect BG.svg"));

    m_avatarLabel = new QLabel(this);
    m_avatarLabel->setGeometry(20, 10, 120, 120);
    // Created after the label so that it lies on top of the picture.
    m_connectIcon = new QSvgWidget(this);
    m_connectIcon->setGeometry(90, 90, 50, 50);

    m_defaultAvatars << QStringLiteral(":/OrvelLauncher/Resources/Launcher/Launcher User Boy.png")
                     << QStringLiteral(":/OrvelLauncher/Resources/Launcher/Launcher User Girl.png");
    const auto index =
        static_cast<int>(QRandomGenerator::global()->bounded(static_cast<quint32>(m_defaultAvatars.size())));
    setAvatarImage(QImage(m_defaultAvatars.at(index)));

    m_connectIcon->load(QStringLiteral(":/OrvelLauncher/Resources/Launcher/Launcher Icon Connect.svg"));
}

Profile::~Profile() = default;

QImage Profile::roundAvatar(const QImage& image)
{
    const QImage source = image.convertToFormat(QImage::Format_ARGB32);
    const int side = qMin(source.width(), source.height());
    const QImage square = source.copy((source.width() - side) / 2, (source.height() - side) / 2, side, side);

    QImage round(side, side, QImage::Format_ARGB32);
    round.fill(Qt::transparent);
    QPainter painter(&round);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QBrush(square));
    painter.drawEllipse(0, 0, side, side);
    return round;
}

void Profile::setAvatarImage(const QImage& image)
{
    if (image.isNull()) {
        m_avatarLabel->clear();
        return;
    }
    m_avatarLabel->setPixmap(scaledForScreen(roundAvatar(image), 120, 120));
}

void Profile::refreshAvatar(const QString& accountBaseUrl)
{
    // The requests are synchronous workers parented to this widget, so abortReply() cancels them.
    const QByteArray photo = Account::fetchUserPhoto(this, accountBaseUrl);
    if (photo.isEmpty())
        return;
    const QImage image = QImage::fromData(photo);
    if (image.isNull())
        return;
    setAvatarImage(image);
}
