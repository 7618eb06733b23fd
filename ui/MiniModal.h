#pragma once

#include <memory>

#include <QDialog>

class ModalTitleBar;

namespace Ui {
class MiniModal;
}

// The launcher's small modal message: a white card with the message centred, an info line and "OK".
// Kind 0 is an error (the info line shows "ErrorCode<n>"), kind 1 asks the user to download again.
class MiniModal : public QDialog
{
    Q_OBJECT

public:
    enum Kind { Error = 0, Redownload = 1 };
    // What exec() returns when the user chose the alternative button (OK gives QDialog::Accepted).
    enum Result { AlternativeChosen = 2 };

    MiniModal(QWidget* parent, int kind, const QString& message, int errorCode);
    ~MiniModal() override;

    // Names the log file below the message, for a bug report; an empty path names nothing.
    void setLogPath(const QString& path);
    // Adds a second button with `text` beside OK; choosing it ends the dialog with AlternativeChosen.
    void setAlternative(const QString& text);

    // The message as the dialog's HTML: one line per sentence, each part escaped. `lineCount` receives the number
    // of text lines the parts take at `metrics` in a column `maxWidth` pixels wide.
    static QString messageHtml(const QString& message, const QFontMetrics& metrics, int maxWidth, int* lineCount);

private slots:
    void onClickedOkayBtn();

private:
    void setMessage(const QString& message);
    void applyStyleSheet();

    QString m_message;
    QString m_logPath;

    std::unique_ptr<Ui::MiniModal> m_ui;
    ModalTitleBar* m_titleBar = nullptr;
};
