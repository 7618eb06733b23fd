// The account record's claims, the account service's calls, the browser sign-in and the fetched pictures the window
// shows, answered in-process (short poll intervals and limits), with a throwaway settings home.
#include <QDesktopServices>
#include <QLabel>
#include <QPainter>
#include <QtTest>

#include "AccountFlows.h"
#include "AccountSession.h"
#include "AppSettings.h"
#include "CryptoUtil.h"
#include "InProcessNetwork.h"
#include "InstanceLogin.h"
#include "LauncherArtwork.h"
#include "NetworkWorker.h"
#include "OrvelLauncherForm.h"
#include "Profile.h"
#include "SealingKey.h"
#include "TempSettingsHome.h"
#include "UiResources.h"
#include "WorkerOwner.h"

using namespace OrvelTest;
Q_DECLARE_METATYPE(TestReply)

namespace {
const QString kBase = "https://account.test/";
const QByteArray kToken = makeTestToken("{\"userId\":\"42\",\"email\":\"ana@example.org\"}");
// The browser sign-in polls this often, and this many times before it gives up.
constexpr int kIntervalMs = 20;
constexpr int kLimit = 4;

QByteArray tokenFor(const QByteArray& instanceId)
{
    return makeTestToken("{\"instanceId\":\"" + instanceId + "\",\"userId\":42}");
}

// A PNG picture of `size`, red with a green rectangle `green`.
QByteArray picture(QSize size, QRect green)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QPainter(&image).fillRect(green, Qt::green);
    QByteArray png;
    QBuffer buffer(&png);
    return buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG") ? png : QByteArray();
}

QPixmap shownPixmap(Profile& profile)
{
    // The avatar label is the profile's only direct QLabel child.
    return profile.findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly)->pixmap(Qt::ReturnByValue);
}
} // namespace

// Stands in for the system browser: records the addresses QDesktopServices::openUrl() is given while it lives.
class BrowserStandIn : public QObject
{
    Q_OBJECT

public:
    BrowserStandIn() { QDesktopServices::setUrlHandler("https", this, "openUrl"); }
    ~BrowserStandIn() override { QDesktopServices::unsetUrlHandler("https"); }
    QList<QUrl> opened;

public slots:
    void openUrl(const QUrl& url) { opened.append(url); }
};

class tst_AccountFlows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initUiResources(); }

    void init()
    {
        AccountSession::release();
        m_network.clearRequests();
        NetworkWorker::setManagerFactory([this](QObject* parent) { return m_network.createManager(parent); });
        // The service accepts exactly kToken.
        m_network.setHandler("/api/accounts/Users/Info", [](const TestRequest& r) {
            return TestReply::text(r.header("Authorization") == "Bearer " + kToken ? 200 : 401, "{}");
        });
    }

    void cleanup() { NetworkWorker::setManagerFactory({}); }

    void sessionReadsClaims_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<int>("userId");
        QTest::addColumn<QString>("email");

        // The first payload needs two padding characters, which tokens leave out; "~~~" and "???" encode to characters
        // that differ between the two Base64 alphabets.
        const QByteArray urlSafe = makeTestToken("{\"userId\":7,\"email\":\"~~~\?\?\?>>>\"}");
        QTest::newRow("unpadded Base64url, userId as text")
            << makeTestToken("{\"userId\":\"42\",\"email\":\"ana.b@example.org\"}") << 42 << "ana.b@example.org";
        QTest::newRow("url-safe alphabet") << urlSafe << 7 << "~~~\?\?\?>>>";
        QTest::newRow("two segments") << urlSafe.left(urlSafe.lastIndexOf('.')) << -1 << QString();
        QTest::newRow("missing claims") << makeTestToken("{}") << -1 << QString();
    }

    void sessionReadsClaims()
    {
        QFETCH(QByteArray, token);
        QFETCH(int, userId);
        QFETCH(QString, email);

        // A new token replaces every claim of the previous one.
        AccountSession* session = AccountSession::instance();
        session->setToken(makeTestToken("{\"userId\":99,\"email\":\"old@b.c\"}"));
        session->setToken(token);
        QCOMPARE(qMakePair(session->userId(), session->email()), qMakePair(userId, email));
    }

    void signInThenVerifyStoredToken_data()
    {
        QTest::addColumn<QByteArray>("token"); // taken over from a browser sign-in; empty: nothing stored
        QTest::addColumn<QString>("detail");   // empty: accepted at the next start
        QTest::newRow("token of a sign-in accepted") << kToken << QString();
        QTest::newRow("nothing stored: Bearer and no token") << QByteArray() << "HTTP 401";
    }

    void signInThenVerifyStoredToken()
    {
        QFETCH(QByteArray, token);
        QFETCH(QString, detail);

        TempSettingsHome home;
        QVERIFY(home.isValid());
        if (!token.isEmpty()) {
            AppSettings::setStoredToken(Verdant::CryptoUtil().encrypt(QByteArray("older"), SealingKey));
            bool refreshed = false;
            Account::onSuccessToInstanceLogin(token, [&refreshed, token] {
                // The avatar refresh sees the new record, before the token is stored.
                QCOMPARE(AccountSession::instance()->token(), token);
                QCOMPARE(Verdant::CryptoUtil().decrypt(AppSettings::storedToken(), SealingKey), QByteArray("older"));
                refreshed = true;
            });
            QVERIFY(refreshed);
            // Sealed with the key text the design application opens it with.
            QCOMPARE(Verdant::CryptoUtil().decrypt(AppSettings::storedToken(), "Qz7#Lp2!Vw9$Rk4&"), token);
            // Readable by this user only, folder included: the key that opens the blob is in every copy of the program.
            const QFileInfo file(QSettings("Orvel", "App").fileName());
            QCOMPARE(file.permissions() & 0x0fff, QFile::ReadUser | QFile::WriteUser);
            QCOMPARE(QFileInfo(file.absolutePath()).permissions() & 0x0fff,
                     QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
            AccountSession::release();
        }

        const Failure outcome = Account::verifyStoredToken(&m_owner, kBase);
        QCOMPARE(outcome.code, detail.isEmpty() ? NoError : SignInFailed);
        QCOMPARE(outcome.detail, detail.isEmpty() ? QString() : kBase + "api/accounts/Users/Info: " + detail);
        QCOMPARE(AccountSession::instance()->token(), token);
        // The common header set of the account calls.
        const QList<TestRequest> sent = m_network.requests();
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].method + ' ' + sent[0].target + ' ' + sent[0].header("Content-Type") + ' ' +
                     sent[0].header("Authorization") + ' ' + sent[0].header("api-version"),
                 "GET /api/accounts/Users/Info application/json Bearer " + token + " 2.0");
    }

    // Runs with QT_SCALE_FACTOR=2 (see tests/service.cmake): the avatar must be drawn at the screen's double
    // resolution.
    void fetchPicture_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<TestReply>("record");
        QTest::addColumn<TestReply>("picture");
        QTest::addColumn<QString>("detail"); // empty: the picture's bytes are fetched
        QTest::addColumn<bool>("shown");     // by the avatar widget

        const TestReply record = TestReply::json("{\"photo\":\"https://photos.test/p/42.png\"}");
        const TestReply wide = TestReply::text(200, picture({300, 200}, {50, 0, 200, 200}), "image/png");
        const TestReply tall = TestReply::text(200, picture({200, 300}, {0, 50, 200, 200}), "image/png");
        const QString user = kBase + "api/PCS/Users/42: ";

        // Only the central square of the photo is used.
        QTest::newRow("wide photo shown") << kToken << record << wide << QString() << true;
        QTest::newRow("tall photo shown") << kToken << record << tall << QString() << true;
        QTest::newRow("photo not a picture")
            << kToken << record << TestReply::text(200, "<html>") << QString() << false;
        QTest::newRow("photo, token without userId") << makeTestToken("{}") << record << wide << QString() << true;
        QTest::newRow("record without photo") << kToken << TestReply::json("{\"name\":\"Ana\"}") << wide
                                              << user + "no \"photo\" in the user record" << false;
        QTest::newRow("record refused") << kToken << TestReply::json(record.body, 404) << wide << user + "HTTP 404"
                                        << false;
        // An empty picture would blank the avatar: the built-in one stays.
        QTest::newRow("picture empty") << kToken << record << TestReply()
                                       << "https://photos.test/p/42.png: empty picture" << false;
        QTest::newRow("picture refused") << kToken << record << TestReply::text(500, "down")
                                         << "https://photos.test/p/42.png: HTTP 500" << false;
    }

    void fetchPicture()
    {
        QFETCH(QByteArray, token);
        QFETCH(TestReply, record);
        QFETCH(TestReply, picture);
        QFETCH(QString, detail);
        QFETCH(bool, shown);

        AccountSession::instance()->setToken(token);
        const QString path = QString("/api/PCS/Users/") + (token == kToken ? "42" : "-1");
        m_network.setRoute(path, record);
        m_network.setRoute("/p/42.png", picture);
        const Fetched<QByteArray> fetched = Account::fetchUserPhoto(&m_owner, kBase);
        QCOMPARE(fetched.failure.detail, detail);
        QCOMPARE(fetched.value, detail.isEmpty() ? picture.body : QByteArray());

        // The record carries the common header set (see signInThenVerifyStoredToken), the picture none.
        const QList<TestRequest> sent = m_network.requests();
        QCOMPARE(sent.size(), detail.startsWith(kBase) ? 1 : 2);
        QCOMPARE(sent[0].method + ' ' + sent[0].target, "GET " + path.toUtf8());
        QCOMPARE(sent[0].header("Authorization"), "Bearer " + token);
        if (sent.size() == 2) {
            QCOMPARE(sent[1].method + ' ' + sent[1].path, QByteArray("GET /p/42.png"));
            QVERIFY(sent[1].headers.isEmpty());
        }

        // The avatar widget shows the same photo; without one it keeps what it shows.
        Profile profile;
        const QImage before = shownPixmap(profile).toImage();
        profile.refreshAvatar(kBase);
        const QPixmap after = shownPixmap(profile);
        if (shown) {
            // 120 x 120 at twice the resolution; round: corners transparent, the middle of each side opaque.
            QCOMPARE(after.size(), QSize(240, 240));
            QCOMPARE(after.devicePixelRatio(), 2.0);
            const QImage image = after.toImage().convertToFormat(QImage::Format_ARGB32);
            for (QPoint corner : {QPoint(0, 0), QPoint(239, 0), QPoint(0, 239), QPoint(239, 239), QPoint(24, 24)})
                QCOMPARE(qAlpha(image.pixel(corner)), 0);
            QVERIFY(qAlpha(image.pixel(120, 0)) > 0 && qAlpha(image.pixel(0, 120)) > 0);
            QCOMPARE(image.pixel(120, 120), qRgba(0, 255, 0, 255));
            // No red anywhere, even at the circle's edge.
            for (int y = 0; y < 240; ++y) {
                for (int x = 0; x < 240; ++x)
                    QVERIFY2(qRed(image.pixel(x, y)) == 0, qPrintable(QString("%1,%2").arg(x).arg(y)));
            }
        } else {
            QCOMPARE(after.toImage(), before);
        }
        profile.setAvatarImage(QImage()); // a null image leaves no picture
        QVERIFY(shownPixmap(profile).isNull());
    }

    void artworkStretchedOverTheBackground()
    {
        QWidget window;
        Ui::OrvelLauncher form;
        form.setupUi(&window);

        // Stretched, not letterboxed: each half of the picture covers half of the label, top to bottom.
        LauncherArtwork::showImage(form.lbBackground,
                                   LauncherArtwork::decode(picture({200, 50}, {100, 0, 100, 50}), {1000, 600}));
        const QImage shown =
            form.lbBackground->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), QSize(1000, 600));
        for (QPoint p : {QPoint(0, 0), QPoint(499, 300), QPoint(10, 599)})
            QCOMPARE(shown.pixel(p), qRgb(255, 0, 0));
        for (QPoint p : {QPoint(999, 0), QPoint(500, 300), QPoint(990, 599)})
            QCOMPARE(shown.pixel(p), qRgb(0, 255, 0));

        // Bytes that are no picture leave the label empty.
        LauncherArtwork::showImage(form.lbBackground, LauncherArtwork::decode("not a picture", {1000, 600}));
        QVERIFY(form.lbBackground->pixmap(Qt::ReturnByValue).isNull());
    }

    void instanceLoginAttemptThenNextAttempt_data()
    {
        QTest::addColumn<TestReply>("poll");
        QTest::addColumn<bool>("startAgain"); // while polling: the same page again, no second timer
        QTest::addColumn<LauncherError>("code");
        QTest::addColumn<QString>("detail");

        const QString address = kBase + "api/Accounts/Login/Instance: ";
        TestReply closed;
        closed.dropAfterBytes = 0;
        // After a token of another sign-in the next attempt keeps the id; after a time-out it invents a new one.
        QTest::newRow("token of another id") << TestReply::text(200, tokenFor("someone-elses-instance")) << false
                                             << SignInFailed << "instanceId in the token: \"someone-elses-instance\"";
        QTest::newRow("refused until the limit")
            << TestReply::text(401, "not yet") << false << SignInTimeout << address + "HTTP 401";
        QTest::newRow("connection closed, started again while polling")
            << closed << true << SignInTimeout << address + "Connection closed";
    }

    void instanceLoginAttemptThenNextAttempt()
    {
        QFETCH(TestReply, poll);
        QFETCH(bool, startAgain);
        QFETCH(LauncherError, code);
        QFETCH(QString, detail);

        m_network.setRoute("/api/Accounts/Login/Instance", poll);
        BrowserStandIn browser;
        InstanceLogin login(nullptr, kBase, kIntervalMs, kLimit);
        QSignalSpy success(&login, &InstanceLogin::success);
        QSignalSpy failure(&login, &InstanceLogin::failure);
        login.startLogin();
        if (startAgain) {
            QTRY_VERIFY(login.pollCount() >= 1);
            login.startLogin();
            QCOMPARE(browser.opened.at(1), browser.opened.at(0));
        }
        const QByteArray id = login.instanceId().toUtf8();
        QVERIFY(QRegularExpression("^[A-Za-z0-9]{32}$").match(id).hasMatch());
        const QByteArray page =
            kBase.toUtf8() + "Account/Login?InstanceId=" + id + "&client=0&returnUrl=/account/signedin";
        QCOMPARE(browser.opened.at(0).toEncoded(), page);

        // One attempt, one outcome; a time-out after limit + 1 polls names what the polls met.
        QTRY_COMPARE(failure.count(), 1);
        QCOMPARE(failure.at(0).at(0).value<Failure>().code, code);
        QCOMPARE(failure.at(0).at(0).value<Failure>().detail, detail);
        QTest::qWait(6 * kIntervalMs);
        QCOMPARE(failure.count(), 1);
        const QList<TestRequest> polls = m_network.requests();
        QCOMPARE(polls.size(), code == SignInTimeout ? kLimit + 1 : login.pollCount());
        const QByteArray pollSent = "POST /api/Accounts/Login/Instance 2.0 application/json {\n    \"client\": 0,\n"
                                    "    \"instanceId\": \"" +
                                    id + "\"\n}\n";
        for (const TestRequest& sent : polls) {
            QCOMPARE(sent.header("Authorization"), QByteArray());
            QCOMPARE(sent.method + ' ' + sent.target + ' ' + sent.header("api-version") + ' ' +
                         sent.header("Content-Type") + ' ' + sent.body,
                     pollSent);
        }

        // The next attempt's third poll answers at once with a quoted token for the poll's id; the two before it would
        // answer the same later on, but are cancelled.
        int sent = 0;
        m_network.setHandler("/api/Accounts/Login/Instance", [&sent](const TestRequest& r) {
            TestReply reply =
                TestReply::text(200, "\"" + tokenFor(r.body.mid(r.body.indexOf("\": \"") + 4, 32)) + "\"");
            reply.delayMs = ++sent < 3 ? 10 * kIntervalMs : 0;
            return reply;
        });
        QTest::ignoreMessage(QtDebugMsg, "successToInstanceLogin");
        login.startLogin();
        QCOMPARE(login.instanceId() == id, code == SignInFailed);
        QCOMPARE(browser.opened.last().toEncoded() == page, code == SignInFailed);
        QTRY_COMPARE(success.count(), 1);
        QCOMPARE(success.at(0).at(0).toByteArray(), tokenFor(login.instanceId().toUtf8()));
        QCOMPARE(login.pollCount(), 3);
        QTest::qWait(15 * kIntervalMs);
        QCOMPARE(login.pollCount(), 3);
        QCOMPARE(qMakePair(success.count(), failure.count()), qMakePair(1, 1));
    }

private:
    InProcessNetwork m_network;
    WorkerOwner m_owner;
};

QTEST_MAIN(tst_AccountFlows)
#include "tst_AccountFlows.moc"
