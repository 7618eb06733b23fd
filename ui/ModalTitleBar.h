#pragma once

#include <memory>

#include <QPoint>
#include <QWidget>

class QDialog;

namespace Ui {
class ModalTitleBar;
}

// The top strip of the message dialog: a small close cross, and a handle to drag the frameless dialog by.
class ModalTitleBar : public QWidget
{
    Q_OBJECT

public:
    explicit ModalTitleBar(QWidget* parent = nullptr);
    ~ModalTitleBar() override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private slots:
    void onClickedClose();

private:
    std::unique_ptr<Ui::ModalTitleBar> m_ui;
    bool m_dragging = false;
    QPoint m_pressPos;
    QDialog* m_dialog = nullptr;
};
