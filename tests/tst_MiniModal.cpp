#include <QtTest>

#include <QLabel>
#include <QPainter>
#include <QPushButton>
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
    void initTestCase();
    void message_data();
    void message();
    void longSentenceCountsMoreLines();
    void infoLineAndIcon_data();
    void infoLineAndIcon();
    void draggingMovesTheDialog();
};

namespace {

const QString kPrefix = QStringLiteral("<html><head/><body><p align=\"center\">");
const QString kSuffix = "</p></body></html>";

QImage render(QSvgRenderer& renderer)
{
    QImage image(40, 40, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

} // namespace

void tst_MiniModal::initTestCase()
{
    initUiResources();
    QFont font = QApplication::font();
    font.setFamily("Noto Sans");
    QApplication::setFont(font);
}

void tst_MiniModal::message_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("height");

    QTest::newRow("no full stop gets one") << QString("Failed") << "Failed." << 28;
    QTest::newRow("ending full stop not doubled")
        << QString("Failed to update Orvel.") << "Failed to update Orvel." << 28;
    QTest::newRow("empty") << QString("") << "" << 10;
    QTest::newRow("question mark ends a part") << QString("Are you sure?") << "Are you sure?" << 28;
    QTest::newRow("marks inside a part do not count") << QString("Why? Because! Yes") << "Why? Because! Yes." << 28;
    QTest::newRow("two sentences, two lines")
        << QString("Unknown Error.Try again.") << "Unknown Error.<br>Try again." << 46;
    // SSL error texts come from outside: they must read as text, never change the dialog's markup.
    QTest::newRow("markup escaped") << QString("Error.<b>x</b> & \"y\"")
                                    << "Error.<br>&lt;b&gt;x&lt;/b&gt; &amp; &quot;y&quot;." << 46;
}

void tst_MiniModal::message()
{
    QFETCH(QString, message);
    QFETCH(QString, body);
    QFETCH(int, height);

    MiniModal modal(nullptr, MiniModal::Error, message, 1);
    auto* browser = modal.findChild<QTextBrowser*>("textBrowser");
    int lines = -1;
    QCOMPARE(MiniModal::messageHtml(message, QFontMetrics(QApplication::font()), 210, &lines),
             kPrefix + body + kSuffix);
    QCOMPARE(browser->height(), height);
}

void tst_MiniModal::longSentenceCountsMoreLines()
{
    // Wider than the 210-pixel text column: one HTML line, several counted lines.
    const QString sentence =
        "The host name did not match any of the valid hosts for this certificate, not even the first one";
    int lines = 0;
    QVERIFY(!MiniModal::messageHtml(sentence, QFontMetrics(QApplication::font()), 210, &lines).contains("<br>"));
    QVERIFY(lines >= 3);
    MiniModal modal(nullptr, MiniModal::Error, sentence, 12);
    QCOMPARE(modal.findChild<QTextBrowser*>("textBrowser")->height(), 10 + 18 * lines);
}

void tst_MiniModal::infoLineAndIcon_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("info");
    QTest::addColumn<QString>("icon");

    QTest::newRow("error 9") << 0 << 9 << QString("ErrorCode9")
                             << ":/OrvelLauncher/Resources/Modal/Modal Icon Error.svg";
    QTest::newRow("re-download") << 1 << 0 << QString("Please download again.")
                                 << ":/OrvelLauncher/Resources/Modal/Modal Icon Download.svg";
    QTest::newRow("unknown kind") << 2 << 5 << QString("") << "";
}

void tst_MiniModal::infoLineAndIcon()
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
    QCOMPARE(render(*shown), render(expected)); // both empty for an unknown kind
}

void tst_MiniModal::draggingMovesTheDialog()
{
    MiniModal modal(nullptr, MiniModal::Error, "Failed.", 3);
    modal.move(100, 100);
    modal.show();
    QVERIFY(QTest::qWaitForWindowExposed(&modal));
    auto* bar = modal.findChild<ModalTitleBar*>();
    const QPoint start = modal.pos();

    auto send = [bar](QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
        QMouseEvent event(type, pos, bar->mapToGlobal(pos), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(bar, &event);
    };
    send(QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton);
    send(QEvent::MouseMove, QPoint(40, 25), Qt::LeftButton);
    QCOMPARE(modal.pos(), start + QPoint(30, 15));
    send(QEvent::MouseButtonRelease, QPoint(10, 10), Qt::NoButton);
    send(QEvent::MouseMove, QPoint(50, 50), Qt::NoButton);
    QCOMPARE(modal.pos(), start + QPoint(30, 15));
}

QTEST_MAIN(tst_MiniModal)
#include "tst_MiniModal.moc"
