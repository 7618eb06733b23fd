#include "MiniModal.h"
#include "ui_MiniModal.h"

#include <QAbstractTextDocumentLayout>
#include <QBoxLayout>
#include <QDir>
#include <QFontMetrics>
#include <QPushButton>
#include <QtMath>
#include <QTextDocument>

#include "AliasToken.h"
#include "ModalTitleBar.h"
#include "Typography.h"

MiniModal::MiniModal(QWidget* parent, int kind, const QString& message, int errorCode)
    : QDialog(parent), m_ui(new Ui::MiniModal)
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowFlag(Qt::FramelessWindowHint);

    m_titleBar = new ModalTitleBar(this);
    layout()->setMenuBar(m_titleBar);

    m_ui->pushButton->setFixedSize(70, 24);
    m_ui->pushButton->setText(tr("OK"));
    m_ui->pushButton->setAccessibleName(tr("OK"));

    if (kind == Error)
        m_ui->lbInfo->setText(tr("ErrorCode") + QString::number(errorCode));
    else if (kind == Redownload)
        m_ui->lbInfo->setText(tr("Please download again."));

    connect(m_ui->pushButton, &QPushButton::clicked, this, &MiniModal::onClickedOkayBtn);

    if (kind == Error)
        m_ui->swLogo->load(QStringLiteral(":/OrvelLauncher/Resources/Modal/Modal Icon Error.svg"));
    else if (kind == Redownload)
        m_ui->swLogo->load(QStringLiteral(":/OrvelLauncher/Resources/Modal/Modal Icon Download.svg"));

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

void MiniModal::setLogPath(const QString& path)
{
    m_logPath = path;
    setMessage(m_message);
}

void MiniModal::setAlternative(const QString& text)
{
    auto* button = new QPushButton(text, m_ui->btnFrame);
    button->setObjectName(QStringLiteral("pbAlternative"));
    button->setAccessibleName(text);
    button->setFixedSize(qMax(70, button->fontMetrics().horizontalAdvance(text) + 24), 24);
    // Right of OK, before the closing spacer.
    auto* row = qobject_cast<QBoxLayout*>(m_ui->btnFrame->layout());
    row->insertWidget(row->indexOf(m_ui->pushButton) + 1, button);
    connect(button, &QPushButton::clicked, this, [this] { done(AlternativeChosen); });
}

void MiniModal::setMessage(const QString& message)
{
    m_message = message;
    QTextBrowser* browser = m_ui->textBrowser;
    browser->setContentsMargins(0, 5, 0, 5);
    int lines = 0;
    const QFontMetrics metrics(browser->font());
    QString html = messageHtml(message, metrics, browser->maximumWidth(), &lines);
    if (!m_logPath.isEmpty()) {
        // Its own paragraph: a path's dots are no sentence ends.
        const QString line = tr("Log: %1").arg(QDir::toNativeSeparators(m_logPath));
        html.insert(html.lastIndexOf(QStringLiteral("</body>")),
                    QStringLiteral("<p align=\"center\">") + line.toHtmlEscaped() + QStringLiteral("</p>"));
        // Laid out as the browser does (a path breaks after its slashes), not estimated from its width.
        QTextDocument measure;
        measure.setDefaultFont(browser->font());
        measure.setTextWidth(browser->maximumWidth());
        measure.setPlainText(line);
        const qreal height = measure.documentLayout()->documentSize().height() - 2 * measure.documentMargin();
        lines += qCeil(height / QFontMetricsF(browser->font()).lineSpacing() - 0.01);
    }
    browser->setHtml(html);

    const QMargins margins = browser->contentsMargins();
    const int lineHeight = static_cast<int>(Typography::instance().font(Typography::MessageLine).lineHeight());
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
                      .arg(colours.rgba(AliasToken::Surface))
                      .arg(colours.rgba(AliasToken::Divider))
                      .arg(m_ui->contentsFrame->objectName())
                      .arg(m_ui->btnFrame->objectName())
                      .arg(colours.rgba(AliasToken::BodyText))
                      .arg(fonts.font(Typography::MessageText).styleSheet())
                      .arg(m_ui->textBrowser->objectName())
                      .arg(fonts.font(Typography::InfoText).styleSheet())
                      .arg(m_ui->lbInfo->objectName())
                      .arg(colours.rgba(AliasToken::TextOnAccent))
                      .arg(fonts.font(Typography::DialogButtonText).styleSheet())
                      .arg(colours.rgba(AliasToken::ButtonFill))
                      .arg(colours.rgba(AliasToken::ButtonHover))
                      .arg(colours.rgba(AliasToken::DisabledText))
                      .arg(colours.rgba(AliasToken::DisabledFill)));
}

void MiniModal::onClickedOkayBtn()
{
    accept();
}
