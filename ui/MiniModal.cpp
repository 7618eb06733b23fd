#include "MiniModal.h"
#include "ui_MiniModal.h"

#include <QFontMetrics>

#include "AliasToken.h"
#include "ModalTitleBar.h"
#include "Typography.h"

MiniModal::MiniModal(QWidget* parent, int kind, const QString& message, int errorCode)
    : QDialog(parent), ui(new Ui::MiniModal)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowFlag(Qt::FramelessWindowHint);

    m_titleBar = new ModalTitleBar(this);
    layout()->setMenuBar(m_titleBar);

    ui->pushButton->setFixedSize(70, 24);
    ui->pushButton->setText(tr("OK"));

    if (kind == Error)
        ui->lbInfo->setText(tr("ErrorCode") + QString::number(errorCode));
    else if (kind == Redownload)
        ui->lbInfo->setText(tr("Please download again."));

    connect(ui->pushButton, &QPushButton::clicked, this, &MiniModal::onClickedOkayBtn);

    if (kind == Error)
        ui->swLogo->load(QStringLiteral(":/OrvelLauncher/Resources/Modal/Modal Icon Error.svg"));
    else if (kind == Redownload)
        ui->swLogo->load(QStringLiteral(":/OrvelLauncher/Resources/Modal/Modal Icon Download.svg"));

    // Measured with the application font, before the style sheet changes the browser's font.
    setMessage(message);
    applyStyleSheet();
}

MiniModal::~MiniModal() = default;

QString MiniModal::messageHtml(const QString& message, const QFontMetrics& metrics, int maxWidth, int* lineCount)
{
    QStringList parts = message.split(QLatin1Char('.'));
    if (parts.last().isEmpty())
        parts.removeLast();

    QString html = QStringLiteral("<html><head/><body><p align=\"center\">");
    int lines = 0;
    for (int i = 0; i < parts.size(); ++i) {
        const QString& part = parts.at(i);
        if (part.isEmpty())
            continue;
        // Parts can carry outside text (SSL error descriptions): never let them become markup.
        html += part.toHtmlEscaped();
        if (!part.endsWith(QLatin1Char('?')) && !part.endsWith(QLatin1Char('!')))
            html += QLatin1Char('.');
        lines += metrics.horizontalAdvance(part) / maxWidth + 1;
        if (i < parts.size() - 1)
            html += QStringLiteral("<br>");
    }
    html += QStringLiteral("</p></body></html>");
    if (lineCount)
        *lineCount = lines;
    return html;
}

void MiniModal::setMessage(const QString& message)
{
    QTextBrowser* browser = ui->textBrowser;
    browser->setContentsMargins(0, 5, 0, 5);
    int lines = 0;
    browser->setHtml(messageHtml(message, QFontMetrics(browser->font()), browser->maximumWidth(), &lines));

    const QMargins margins = browser->contentsMargins();
    const int lineHeight = static_cast<int>(Typography::instance().font(5).lineHeight());
    browser->setFixedHeight(margins.top() + margins.bottom() + lines * lineHeight);
}

void MiniModal::applyStyleSheet()
{
    const AliasToken& colours = AliasToken::instance();
    const Typography& fonts = Typography::instance();
    setStyleSheet(QStringLiteral("QFrame#%3 {background-color:%1; border-bottom-right-radius: 14px; "
                                 "border-bottom-left-radius: 14px;}"
                                 "QFrame#%4 {border: none; border-top: 1px solid %2;}"
                                 "QTextBrowser#%7 {background: transparent; color: %5; %6;}"
                                 "QLabel#%9 {color: %5; %8;}"
                                 "QPushButton {color: %10; %11; background: %12; border: none; border-radius: 12px;}"
                                 "QPushButton:hover, QPushButton:pressed {background: %13; margin: 0px;}"
                                 "QPushButton:disabled {color: %14; background: %15;}")
                      .arg(colours.rgba(0))
                      .arg(colours.rgba(24))
                      .arg(ui->contentsFrame->objectName())
                      .arg(ui->btnFrame->objectName())
                      .arg(colours.rgba(17))
                      .arg(fonts.font(6).styleSheet())
                      .arg(ui->textBrowser->objectName())
                      .arg(fonts.font(8).styleSheet())
                      .arg(ui->lbInfo->objectName())
                      .arg(colours.rgba(14))
                      .arg(fonts.font(18).styleSheet())
                      .arg(colours.rgba(40))
                      .arg(colours.rgba(41))
                      .arg(colours.rgba(15))
                      .arg(colours.rgba(44)));
}

void MiniModal::onClickedOkayBtn()
{
    accept();
}
