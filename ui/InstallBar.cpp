#include "InstallBar.h"
#include "ui_InstallBar.h"

#include "AliasToken.h"
#include "AppSettings.h"
#include "Typography.h"

namespace {

QString barStyleSheet()
{
    const AliasToken& colours = AliasToken::instance();
    const Typography& fonts = Typography::instance();
    return QStringLiteral(
               "QFrame {background : %1; border-radius: 50px;}"
               "QPushButton {background: transparent; border: 3px solid %2; border-radius: 20px; color: %4; %5;}"
               "QPushButton:hover, QPushButton:pressed {background: %3; border: none;}"
               "QCheckBox {color: %6; %7;}"
               "QCheckBox::indicator { width: 14px; height: 14px; }"
               "QCheckBox::indicator:checked {image:url(:OrvelLauncher/Resources/Common/Common Icon Checkbox White "
               "On.svg);}"
               "QCheckBox::indicator:unchecked {image:url(:OrvelLauncher/Resources/Common/Common Icon Checkbox White "
               "Off.svg);}")
        .arg(colours.rgba(AliasToken::InstallBarFill))
        .arg(colours.rgba(AliasToken::ButtonOutline))
        .arg(colours.rgba(AliasToken::ButtonHover))
        .arg(colours.rgba(AliasToken::TextOnAccent))
        .arg(fonts.font(Typography::BarButtonText).styleSheet())
        .arg(colours.rgba(AliasToken::TextOnAccent))
        .arg(fonts.font(Typography::CheckBoxText).styleSheet());
}

} // namespace

InstallBar::InstallBar(QWidget* parent) : QWidget(parent), m_ui(new Ui::InstallBar)
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_TranslucentBackground);

    // Showing the stored choice must not write it back.
    const bool wasBlocked = m_ui->cbStaySignedIn->blockSignals(true);
    m_ui->cbStaySignedIn->setChecked(AppSettings::staySignedIn());
    m_ui->cbStaySignedIn->blockSignals(wasBlocked);

    // Names for screen readers that do not depend on what the style draws.
    m_ui->pbSignIn->setAccessibleName(tr("Sign In"));
    m_ui->pbPlay->setAccessibleName(tr("Play"));
    m_ui->cbStaySignedIn->setAccessibleName(tr("Stay signed in"));

    connect(m_ui->pbSignIn, &QPushButton::clicked, this, &InstallBar::onClickedSignInBtn);
    connect(m_ui->pbPlay, &QPushButton::clicked, this, &InstallBar::onClickedPlayBtn);
    connect(m_ui->cbStaySignedIn, &QCheckBox::toggled, this, &InstallBar::onChangedStaySignedState);

    setStyleSheet(barStyleSheet());
    setFixedSize(400, 100);
}

InstallBar::~InstallBar() = default;

void InstallBar::setMode(int mode)
{
    m_ui->frameUpdate->setVisible(mode == UpdateFace);
    m_ui->frameSignIn->setVisible(mode == SignInFace);
    m_ui->framePlay->setVisible(mode == PlayFace);
}

void InstallBar::setTotalBytes(qint64 total)
{
    if (m_ui->progressBarWidget)
        m_ui->progressBarWidget->setTotalBytes(total);
}

void InstallBar::setProgress(qint64 received, qint64 total)
{
    if (m_ui->progressBarWidget)
        m_ui->progressBarWidget->setProgress(received, total);
}

void InstallBar::setStatusText(const QString& text)
{
    if (m_ui->progressBarWidget)
        m_ui->progressBarWidget->setStatusText(text);
}

void InstallBar::onClickedSignInBtn()
{
    emit doSignIn();
}

void InstallBar::onClickedPlayBtn()
{
    // The application is started once; later clicks must not start it again.
    m_ui->pbPlay->blockSignals(true);
    emit doPlay();
}

void InstallBar::onChangedStaySignedState(bool _bChecked)
{
    AppSettings::setStaySignedIn(_bChecked);
}
