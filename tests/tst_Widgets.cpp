// The launcher's window and the widgets of its user interface, in process and offscreen, with the embedded pictures
// and a throwaway settings home. Nothing listens at the service addresses (building the window asks nothing); the
// window's flow, and the dialog's "Start Orvel" button, are driven end to end in tst_LauncherEndToEnd.
#include <QtTest>

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>
#include <QSvgWidget>
#include <QTextBrowser>

#include "InstallBar.h"
#include "InstanceLogin.h"
#include "MiniModal.h"
#include "ModalTitleBar.h"
#include "OrvelLauncher.h"
#include "ProgressBarWidget.h"
#include "TempSettingsHome.h"
#include "TransferRate.h"
#include "UiResources.h"
#include "UpdateTestFiles.h"

using Reports = QList<qlonglong>; // pairs: received, total
constexpr qlonglong MB = 1 << 20;

// Presses the left button on `target` at `from`, moves to `to` with `buttons` held; answers how far `window` moved.
QPoint dragged(QWidget* window, QWidget* target, QPoint from, QPoint to, Qt::MouseButtons buttons = Qt::LeftButton)
{
    const QPoint start = window->pos();
    QMouseEvent press(QEvent::MouseButtonPress, from, target->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent move(QEvent::MouseMove, to, target->mapToGlobal(to), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    return window->pos() - start;
}

class tst_Widgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        initUiResources();
        QApplication::setFont(QFont("Noto Sans", QApplication::font().pointSize()));
        for (const char* service : {"ORVEL_UPDATE_SERVICE_URL", "ORVEL_ACCOUNT_SERVICE_URL"})
            qputenv(service, "https://127.0.0.1:1/");
    }

    void modalMessage_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("lines"); // negative: at least that many (a sentence wider than the 210-pixel column)

        QTest::newRow("no full stop gets one, marks inside a part do not count")
            << QString("Why? Because! Yes") << "Why? Because! Yes." << 1;
        QTest::newRow("question mark ends a part") << QString("Are you sure?") << "Are you sure?" << 1;
        QTest::newRow("empty") << QString() << "" << 0;
        QTest::newRow("two sentences, ending full stop not doubled")
            << QString("Unknown Error.Try again.") << "Unknown Error.<br>Try again." << 2;
        // SSL error texts come from outside: they must read as text, never change the dialog's markup.
        QTest::newRow("markup escaped") << QString("Error.<b>x</b> & \"y\"")
                                        << "Error.<br>&lt;b&gt;x&lt;/b&gt; &amp; &quot;y&quot;." << 2;
        const QString wide =
            "The host name did not match any of the valid hosts for this certificate, not even the first one";
        QTest::newRow("one wide sentence, several lines") << wide << wide + "." << -3;
    }

    void modalMessage()
    {
        QFETCH(QString, message);
        QFETCH(QString, body);
        QFETCH(int, lines);

        int counted = -1;
        QCOMPARE(MiniModal::messageHtml(message, QFontMetrics(QApplication::font()), 210, &counted),
                 "<html><head/><body><p align=\"center\">" + body + "</p></body></html>");
        QVERIFY2(lines < 0 ? counted >= -lines : counted == lines, qPrintable(QString::number(counted)));
        MiniModal modal(nullptr, MiniModal::Error, message, 1);
        QCOMPARE(modal.findChild<QTextBrowser*>("textBrowser")->height(), 10 + 18 * counted);
    }

    void infoLineAndIcon_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("info");
        QTest::addColumn<QString>("icon");

        const QString icons = ":/OrvelLauncher/Resources/Modal/Modal Icon ";
        QTest::newRow("error 9") << 0 << 9 << QString("ErrorCode9") << icons + "Error.svg";
        QTest::newRow("re-download") << 1 << 0 << QString("Please download again.") << icons + "Download.svg";
        QTest::newRow("unknown kind") << 2 << 5 << QString() << QString();
    }

    void infoLineAndIcon()
    {
        QFETCH(int, kind);
        QFETCH(int, code);
        QFETCH(QString, info);
        QFETCH(QString, icon);

        MiniModal modal(nullptr, kind, "Message.", code);
        QCOMPARE(modal.findChild<QLabel*>("lbInfo")->text(), info);
        QSvgRenderer* shown = modal.findChild<QSvgWidget*>("swLogo")->renderer();
        QCOMPARE(shown->isValid(), !icon.isEmpty());
        QSvgRenderer expected(icon);
        const auto draw = [](QSvgRenderer* renderer) {
            QImage image(40, 40, QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            renderer->render(&painter);
            painter.end();
            return image;
        };
        QCOMPARE(draw(shown), draw(&expected)); // both empty for an unknown kind
    }

    void modalLogLine()
    {
        MiniModal modal(nullptr, MiniModal::Error, "Failed.", 4);
        auto* browser = modal.findChild<QTextBrowser*>("textBrowser");
        modal.setLogPath("/home/ana/.local/state/orvel/launcher.log");
        // Its own line: the dots of the path end no sentence.
        QCOMPARE(browser->toPlainText(), "Failed.\nLog: /home/ana/.local/state/orvel/launcher.log");
        // The message's line and at least two for the path, which is wider than the column.
        QVERIFY2(browser->height() >= 10 + 18 * 3, qPrintable(QString::number(browser->height())));
    }

    void installBarFaces_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("shown");

        QTest::newRow("0 progress") << 0 << "frameUpdate";
        QTest::newRow("1 sign-in") << 1 << "frameSignIn";
        QTest::newRow("2 play") << 2 << "framePlay";
        QTest::newRow("3 unknown: none") << 3 << "";
    }

    void installBarFaces()
    {
        QFETCH(int, mode);
        QFETCH(QString, shown);
        InstallBar bar;
        bar.show();
        // Start from another face so that every frame really changes state.
        bar.setMode(mode == 1 ? 2 : 1);
        bar.setMode(mode);
        for (const QString frame : {"frameUpdate", "frameSignIn", "framePlay"})
            QCOMPARE(bar.findChild<QFrame*>(frame)->isVisible(), frame == shown);
    }

    void playEmitsOnce()
    {
        InstallBar bar;
        bar.setMode(InstallBar::PlayFace);
        bar.show();
        QSignalSpy play(&bar, &InstallBar::doPlay);
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(bar.findChild<QPushButton*>("pbPlay"), Qt::LeftButton);
        QCOMPARE(play.count(), 1);
    }

    void storedChoiceShownToggleWrites()
    {
        const QString settings = m_home.configPath() + "/Orvel/App.conf";
        // Nothing stored: unchecked, and no file is created.
        QVERIFY(!InstallBar().findChild<QCheckBox*>("cbStaySignedIn")->isChecked());
        QVERIFY(!QFile::exists(settings));

        // "1" is not how the settings store writes a boolean, so a write-back would show in the file.
        UpdateTest::writeFile(settings, "[General]\nStaySignedIn=1\n");
        InstallBar bar;
        bar.setMode(InstallBar::SignInFace);
        bar.show();
        auto* box = bar.findChild<QCheckBox*>("cbStaySignedIn");
        QVERIFY(box->isChecked());
        QCOMPARE(UpdateTest::readFile(settings), QByteArray("[General]\nStaySignedIn=1\n"));

        // Each change is written at once.
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(7, box->height() / 2));
        QVERIFY(UpdateTest::readFile(settings).contains("StaySignedIn=false"));
        box->toggle();
        QVERIFY(UpdateTest::readFile(settings).contains("StaySignedIn=true"));
    }

    void styleSheetPicturesExist()
    {
        // The sheet names its check-box pictures by relative resource paths.
        int pictures = 0;
        for (auto it = QRegularExpression("image:url\\(([^)]*)\\)").globalMatch(InstallBar().styleSheet());
             it.hasNext(); ++pictures) {
            const QString path = it.next().captured(1);
            QVERIFY2(QFile::exists(path), qPrintable(path));
        }
        QCOMPARE(pictures, 2);
    }

    void progressShown_data()
    {
        QTest::addColumn<qlonglong>("total");
        QTest::addColumn<Reports>("reports");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("fillEnd"); // first track column left unfilled

        QTest::newRow("3 MB file done, 1 MB of a 5 MB file")
            << 8 * MB << Reports{3 * MB, 3 * MB, 1 * MB, 5 * MB} << "Downloading.. 4.0 / 8.0MB" << 6 + 164;
        QTest::newRow("late smaller report keeps the figure")
            << 8 * MB << Reports{3 * MB, 5 * MB, 2 * MB, 5 * MB} << "Downloading.. 3.0 / 8.0MB" << 6 + 123;
        QTest::newRow("fill truncated, not rounded") << 3LL << Reports{2, 5} << "Downloading.. 0.0 / 0.0MB" << 6 + 218;
        // A manifest's total that disagrees with its files: what is shown stays within 0 and the total.
        QTest::newRow("reports beyond the total")
            << 8 * MB << Reports{6 * MB, 6 * MB, 5 * MB, 5 * MB} << "Downloading.. 8.0 / 8.0MB" << 334;
        QTest::newRow("total below 0") << -5 * MB << Reports{1 * MB, 2 * MB} << "Downloading.. 0.0 / 0.0MB" << 6;
        QTest::newRow("beyond 2 GiB") << 3072 * MB << Reports{2048 * MB, 2049 * MB} << "Downloading.. 2048.0 / 3072.0MB"
                                      << 6 + 218;
        // 16830259 bytes are 16.0499992 MB exactly, but 16830260 once held in single precision: 16.1.
        QTest::newRow("single precision") << 16830259LL << Reports{0, MB} << "Downloading.. 0.0 / 16.1MB" << 6;
    }

    void progressShown()
    {
        QFETCH(qlonglong, total);
        QFETCH(Reports, reports);
        QFETCH(QString, text);
        QFETCH(int, fillEnd);

        ProgressBarWidget bar;
        bar.setTotalBytes(total);
        for (int i = 0; i + 1 < reports.size(); i += 2)
            bar.setProgress(reports.at(i), reports.at(i + 1));
        const QList<QLabel*> labels = bar.findChildren<QLabel*>();
        const auto shows = [&labels](const QString& t) {
            return std::any_of(labels.begin(), labels.end(), [&t](QLabel* l) { return l->text() == t; });
        };
        QVERIFY(shows(text));
        // The installing text stands in for the figures until it is cleared.
        bar.setStatusText("Installing…");
        QVERIFY(shows("Installing…") && !shows(text));
        bar.setStatusText(QString());
        QVERIFY(shows(text));

        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        auto* background = bar.findChild<QLabel*>("lbBackground");
        const QPixmap picture = background->pixmap(Qt::ReturnByValue);
        const QImage image = picture.toImage();
        QCOMPARE(image.size(), QSize(340, 40));
        // The frame's outer ring is opaque; the track between x 6 and 334 shows the fill or stays transparent.
        QCOMPARE(qAlpha(image.pixel(1, 20)), 255);
        for (int x = 8; x < fillEnd - 1; ++x)
            QCOMPARE(image.pixel(x, 20), qRgba(255, 255, 255, 255));
        for (int x = qMax(fillEnd + 1, 8); x < 332; ++x)
            QCOMPARE(qAlpha(image.pixel(x, 20)), 0);

        // A new picture on the background label paints the widget again: nothing changed, so no new picture.
        QTest::qWait(150);
        QCOMPARE(background->pixmap(Qt::ReturnByValue).cacheKey(), picture.cacheKey());
    }

    void transferRate_data()
    {
        QTest::addColumn<Reports>("samples"); // pairs: milliseconds, bytes so far
        QTest::addColumn<qlonglong>("remaining");
        QTest::addColumn<QString>("text");

        QTest::newRow("steady 2 MB/s") << Reports{0, 0, 1000, 2 * MB, 2000, 4 * MB} << 6 * MB << "2.0 MB/s, 0:03 left";
        // 10 MB/s, then 1 MB/s for a second: smoothed over 3 s, the burst fades instead of vanishing.
        QTest::newRow("burst, then slow")
            << Reports{0, 0, 1000, 10 * MB, 2000, 11 * MB} << 15 * MB << "7.4 MB/s, 0:03 left";
        QTest::newRow("reports within 200 ms wait")
            << Reports{0, 0, 100, 5 * MB, 1000, MB} << 0LL << "1.0 MB/s, 0:00 left";
        QTest::newRow("slow: KB/s and hours") << Reports{0, 0, 2000, 100 * 1024} << 400 * MB << "50 KB/s, 2:16:32 left";
        QTest::newRow("one sample: no time left") << Reports{0, 0} << MB << "0 KB/s";
    }

    void transferRate()
    {
        QFETCH(Reports, samples);
        QFETCH(qlonglong, remaining);
        QFETCH(QString, text);
        TransferRate rate;
        for (int i = 0; i + 1 < samples.size(); i += 2)
            rate.add(samples.at(i + 1), samples.at(i));
        QCOMPARE(ProgressBarWidget::rateText(rate.bytesPerSecond(), rate.secondsLeft(remaining)), text);
    }

    // The launcher's window; these store settings, so they come after the install bar's "nothing stored".
    void installPath_data()
    {
        // Both mean the launcher's folder; a stored existing folder is where the end-to-end runs install.
        QTest::addColumn<QString>("stored"); // null: absent
        QTest::newRow("absent") << QString();
        QTest::newRow("a file, not a folder") << QCoreApplication::applicationFilePath();
    }

    void installPath()
    {
        QFETCH(QString, stored);
        stored.isNull() ? m_store.remove("OrvelPath") : m_store.setValue("OrvelPath", stored);
        m_store.sync();
        QCOMPARE(OrvelLauncher().installPath(), QCoreApplication::applicationDirPath() + "/App");
    }

    void dragging()
    {
        OrvelLauncher window;
        const int d = QApplication::startDragDistance();
        QCOMPARE(dragged(&window, &window, {100, 100}, {100 + d - 2, 101}), QPoint()); // less than the drag distance
        QCOMPARE(dragged(&window, &window, {100, 100}, {100 + d, 100}), QPoint(d, 0)); // moved by the cursor's offset
        QCOMPARE(dragged(&window, &window, {100, 100}, {160, 140}, Qt::RightButton), QPoint()); // only the left button

        // The dialog by its title bar: the grabbed point stays under the cursor.
        MiniModal modal(nullptr, MiniModal::Error, "Failed.", 3);
        modal.show();
        QVERIFY(QTest::qWaitForWindowExposed(&modal));
        QCOMPARE(dragged(&modal, modal.findChild<ModalTitleBar*>(), {10, 10}, {40, 25}), QPoint(30, 15));
    }

    void buttonsNamed()
    {
        // The close button shows only a picture; a screen reader needs a name for each button.
        OrvelLauncher window;
        MiniModal dialog(&window, MiniModal::Error, "text", AppNotFound);
        for (QWidget* top : {static_cast<QWidget*>(&window), static_cast<QWidget*>(&dialog)})
            for (QAbstractButton* button : top->findChildren<QAbstractButton*>())
                QVERIFY2(!button->accessibleName().isEmpty(), qPrintable(button->objectName()));
    }

    void failureShownAfterTheEventLoop_data()
    {
        QTest::addColumn<bool>("signIn"); // the sign-in times out before Play finds no application
        QTest::addColumn<bool>("closeButton");
        QTest::addColumn<QStringList>("dialog"); // message and info line
        QTest::addColumn<bool>("staySignedIn");  // else the stored token is gone when the launcher ends

        QTest::newRow("play: 9") << false << false << QStringList{"Failed to play Orvel.", "ErrorCode9"} << false;
        QTest::newRow("sign-in, then play: the first stays")
            << true << false << QStringList{"Failed to Sign in.\npoll: <b>HTTP 503</b>.", "ErrorCode13"} << true;
        QTest::newRow("close button: no dialog") << false << true << QStringList() << false;
    }

    void failureShownAfterTheEventLoop()
    {
        QFETCH(bool, signIn);
        QFETCH(bool, closeButton);
        QFETCH(QStringList, dialog);
        QFETCH(bool, staySignedIn);

        m_store.setValue("OrvelPath", QDir::tempPath()); // no application there
        m_store.setValue("StaySignedIn", staySignedIn);
        m_store.setValue("JWT", QByteArray("sealed"));
        m_store.sync();
        OrvelLauncher window;
        QTimer::singleShot(0, &window, [&] {
            if (closeButton)
                window.findChild<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)->click();
            if (signIn)
                emit window.findChild<InstanceLogin*>()->failure({SignInTimeout, "poll: <b>HTTP 503</b>"});
            emit window.findChild<InstallBar*>()->doPlay();
        });
        QTimer::singleShot(10000, &window, [] { QCoreApplication::exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0); // the flow ends the event loop, with no dialog so far
        m_store.sync();
        QCOMPARE(m_store.contains("JWT"), staySignedIn);

        QStringList shown;
        QTimer::singleShot(0, &window, [&] {
            auto* modal = qobject_cast<MiniModal*>(QApplication::activeModalWidget());
            shown << modal->findChild<QTextBrowser*>()->toPlainText() << modal->findChild<QLabel*>("lbInfo")->text();
            modal->accept();
        });
        window.reportFailure();
        QCOMPARE(shown, dialog);
    }

private:
    OrvelTest::TempSettingsHome m_home;
    QSettings m_store{QStringLiteral("Orvel"), QStringLiteral("App")};
};

QTEST_MAIN(tst_Widgets)
#include "tst_Widgets.moc"
