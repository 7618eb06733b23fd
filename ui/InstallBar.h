#pragma once

#include <memory>

#include <QWidget>

namespace Ui {
class InstallBar;
}

// The 400 x 100 pill at the bottom of the launcher window. It shows one face at a time: download progress
// (mode 0), sign-in with "Stay signed in" (mode 1) or play (mode 2). The "Stay signed in" choice is kept in the
// application settings by the bar itself.
class InstallBar : public QWidget
{
    Q_OBJECT

public:
    enum Mode { UpdateFace = 0, SignInFace = 1, PlayFace = 2 };

    explicit InstallBar(QWidget* parent = nullptr);
    ~InstallBar() override;

    // Any value other than 0, 1 and 2 hides every face.
    void setMode(int mode);
    void setTotalBytes(qint64 total);
    void setProgress(qint64 received, qint64 total);
    // The progress face's text in place of the download figures ("Installing…"); empty: the figures again.
    void setStatusText(const QString& text);

signals:
    void doSignIn();
    // Emitted for the first click on Play only.
    void doPlay();

private slots:
    void onClickedSignInBtn();
    void onClickedPlayBtn();
    void onChangedStaySignedState(bool _bChecked);

private:
    std::unique_ptr<Ui::InstallBar> m_ui;
};
