#include <QtTest>

#include "AliasToken.h"
#include "Typography.h"

// The fragments go verbatim into style sheets, so their exact text is the contract.
class tst_DesignTokens : public QObject
{
    Q_OBJECT

private slots:
    void colourFragments_data();
    void colourFragments();
    void fontFragments_data();
    void fontFragments();
};

void tst_DesignTokens::colourFragments_data()
{
    QTest::addColumn<int>("alias");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("rgba");

    QTest::newRow("opaque white") << 0 << QString("#FFFFFFFF") << "rgba(255, 255, 255, 255)";
    QTest::newRow("50 % truncates to 127") << 1 << QString("#FFFFFF7F") << "rgba(255, 255, 255, 127)";
    QTest::newRow("20 % lavender") << 12 << QString("#A8ACFF33") << "rgba(168, 172, 255, 51)";
    QTest::newRow("80 % lavender") << 13 << QString("#A8ACFFCC") << "rgba(168, 172, 255, 204)";
    QTest::newRow("last alias") << 49 << QString("#F0F0F2FF") << "rgba(240, 240, 242, 255)";
}

void tst_DesignTokens::colourFragments()
{
    QFETCH(int, alias);
    QFETCH(QString, hex);
    QFETCH(QString, rgba);
    const AliasToken& tokens = AliasToken::instance();
    QCOMPARE(tokens.token(alias).hexString(), hex);
    QCOMPARE(tokens.rgba(alias), rgba);
    QCOMPARE(tokens.color(alias), QColor("#" + hex.right(2) + hex.mid(1, 6))); // QColor reads #AARRGGBB
}

void tst_DesignTokens::fontFragments_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("fragment");
    QTest::addColumn<double>("lineHeight");

    QTest::newRow("first") << 0 << "font-family : Noto Sans;font-size : 20px;font-weight : 700" << 0.0;
    QTest::newRow("dialog text") << 6 << "font-family : Noto Sans;font-size : 12px;font-weight : 400" << 16.0;
    QTest::newRow("install bar button") << 17 << "font-family : Noto Sans;font-size : 12px;font-weight : 700" << 0.0;
}

void tst_DesignTokens::fontFragments()
{
    QFETCH(int, style);
    QFETCH(QString, fragment);
    QFETCH(double, lineHeight);
    const FontData font = Typography::instance().font(style);
    QCOMPARE(font.styleSheet(), fragment);
    QCOMPARE(font.lineHeight(), lineHeight);
}

QTEST_APPLESS_MAIN(tst_DesignTokens)
#include "tst_DesignTokens.moc"
