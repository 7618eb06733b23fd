#include <QtTest>

#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>
#include <QSvgWidget>
#include <QTextBrowser>

#include "MiniModal.h"
#include "ModalTitleBar.h"
#include "UiResources.h"

class tst_MiniModal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        initUiResources();
        QFont font = QApplication::font();
        font.setFamily("Noto Sans");
        QApplication::setFont(font);
    }

    void message_data()
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

    void message()
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

    void draggingMovesTheDialog()
    {
        MiniModal modal(nullptr, MiniModal::Error, "Failed.", 3);
        modal.move(100, 100);
        modal.show();
        QVERIFY(QTest::qWaitForWindowExposed(&modal));
        auto* bar = modal.findChild<ModalTitleBar*>();
        const QPoint start = modal.pos();
        const auto send = [bar](QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
            QMouseEvent event(type, pos, bar->mapToGlobal(pos), Qt::LeftButton, buttons, Qt::NoModifier);
            QApplication::sendEvent(bar, &event);
        };
        send(QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton);
        send(QEvent::MouseMove, QPoint(40, 25), Qt::LeftButton);
        QCOMPARE(modal.pos(), start + QPoint(30, 15)); // the grabbed point stays under the cursor
    }

    // The alternative button ("Start Orvel" beside OK) is clicked end to end, in the offline start.
    void logLine()
    {
        MiniModal modal(nullptr, MiniModal::Error, "Failed.", 4);
        auto* browser = modal.findChild<QTextBrowser*>("textBrowser");
        modal.setLogPath("/home/ana/.local/state/orvel/launcher.log");
        // Its own line: the dots of the path end no sentence.
        QCOMPARE(browser->toPlainText(), "Failed.\nLog: /home/ana/.local/state/orvel/launcher.log");
        // The message's line and at least two for the path, which is wider than the column.
        QVERIFY2(browser->height() >= 10 + 18 * 3, qPrintable(QString::number(browser->height())));
    }
};

QTEST_MAIN(tst_MiniModal)
#include "tst_MiniModal.moc"
