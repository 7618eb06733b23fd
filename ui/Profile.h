#pragma once

#include <memory>

#include <QStringList>
#include <QWidget>

class QLabel;
class QSvgWidget;

namespace Ui {
class Profile;
}

// The user's picture as a 120-pixel circle on a decorative backdrop, with a connect badge. Starts with one of two
// built-in pictures, chosen at random.
class Profile : public QWidget
{
    Q_OBJECT

public:
    explicit Profile(QWidget* parent = nullptr);
    ~Profile() override;

    // Shows the centre square of `image`, cut round. A null image leaves the label empty.
    void setAvatarImage(const QImage& image);

    // Fetches the signed-in user's photo from the account service (empty base: the deployment's) and shows it.
    // Without a photo, or when it cannot be fetched or decoded, the widget keeps what it shows.
    void refreshAvatar(const QString& accountBaseUrl = QString());

    // The round picture at its full resolution (side x side, transparent outside the circle).
    static QImage roundAvatar(const QImage& image);

signals:
    // Request workers parented to this widget abort their replies on it; the widget itself never emits it.
    void abortReply();

private:
    std::unique_ptr<Ui::Profile> m_ui;
    QLabel* m_avatarLabel = nullptr;
    QSvgWidget* m_connectIcon = nullptr;
    QStringList m_defaultAvatars;
};
