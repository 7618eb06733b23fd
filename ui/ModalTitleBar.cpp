#include "ModalTitleBar.h"
#include "ui_ModalTitleBar.h"

#include <QDialog>
#include <QMouseEvent>

#include "AliasToken.h"
#include "SystemMove.h"

ModalTitleBar::ModalTitleBar(QWidget* parent) : QWidget(parent), m_ui(new Ui::ModalTitleBar)
{
    m_ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet(QStringLiteral("QWidget {background-color: %1;}"
                                 "QWidget#containerWidget {border-top-left-radius: 14px; border-top-right-radius: "
                                 "14px; border-bottom-right-radius: 0px; border-bottom-left-radius: 0px;}")
                      .arg(AliasToken::instance().rgba(AliasToken::Surface)));
    m_ui->pbClose->setStyleSheet(
        QStringLiteral("QPushButton {border-image: url(:/OrvelLauncher/Resources/Common/Common Icon Close "
                       "Default.svg);}QPushButton::pressed, QPushButton:hover {border: none; border-image: "
                       "url(:/OrvelLauncher/Resources/Common/Common Icon Close Hover.svg); margin: 0px;}"));
    m_ui->pbClose->setAccessibleName(tr("Close"));
    connect(m_ui->pbClose, &QPushButton::clicked, this, &ModalTitleBar::onClickedClose);
    m_dialog = qobject_cast<QDialog*>(parent);
}

ModalTitleBar::~ModalTitleBar() = default;

void ModalTitleBar::onClickedClose()
{
    if (m_dialog)
        m_dialog->reject();
}

void ModalTitleBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && startSystemMove(parentWidget()))
        return;
    m_dragging = true;
    m_pressPos = event->pos();
}

void ModalTitleBar::mouseMoveEvent(QMouseEvent* event)
{
    QWidget* dialog = parentWidget();
    if (!m_dragging || !dialog)
        return;
    // Keeps the grabbed point under the cursor.
    dialog->move(dialog->pos() + (event->pos() - m_pressPos));
}

void ModalTitleBar::mouseReleaseEvent(QMouseEvent*)
{
    m_dragging = false;
}
