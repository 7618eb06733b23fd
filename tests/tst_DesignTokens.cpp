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
    void everyAliasResolvesToAPaletteColour();
    void fontIsACopy();
};

void tst_DesignTokens::colourFragments_data()
{
    QTest::addColumn<int>("alias");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("rgba");
    QTest::addColumn<QColor>("color");

    QTest::newRow("opaque white") << 0 << QString("#FFFFFFFF") << "rgba(255, 255, 255, 255)"
                                  << QColor(255, 255, 255, 255);
    QTest::newRow("50 % truncates to 127")
        << 1 << QString("#FFFFFF7F") << "rgba(255, 255, 255, 127)" << QColor(255, 255, 255, 127);
    QTest::newRow("50 % black") << 11 << QString("#0000007F") << "rgba(0, 0, 0, 127)" << QColor(0, 0, 0, 127);
    QTest::newRow("20 % lavender") << 12 << QString("#A8ACFF33") << "rgba(168, 172, 255, 51)"
                                   << QColor(168, 172, 255, 51);
    QTest::newRow("80 % lavender") << 13 << QString("#A8ACFFCC") << "rgba(168, 172, 255, 204)"
                                   << QColor(168, 172, 255, 204);
    QTest::newRow("install bar fill") << 8 << QString("#A8ACFFFF") << "rgba(168, 172, 255, 255)"
                                      << QColor(168, 172, 255);
    QTest::newRow("progress text violet")
        << 21 << QString("#887DFFFF") << "rgba(136, 125, 255, 255)" << QColor(136, 125, 255);
    QTest::newRow("dialog text grey") << 17 << QString("#666668FF") << "rgba(102, 102, 104, 255)"
                                      << QColor(102, 102, 104);
    QTest::newRow("red") << 22 << QString("#F53241FF") << "rgba(245, 50, 65, 255)" << QColor(245, 50, 65);
    QTest::newRow("last alias") << 49 << QString("#F0F0F2FF") << "rgba(240, 240, 242, 255)" << QColor(240, 240, 242);
}

void tst_DesignTokens::colourFragments()
{
    QFETCH(int, alias);
    QFETCH(QString, hex);
    QFETCH(QString, rgba);
    QFETCH(QColor, color);
    const AliasToken& tokens = AliasToken::instance();
    QCOMPARE(tokens.token(alias).hexString(), hex);
    QCOMPARE(tokens.rgba(alias), rgba);
    QCOMPARE(tokens.color(alias).rgba(), color.rgba());
}

void tst_DesignTokens::fontFragments_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("fragment");
    QTest::addColumn<double>("lineHeight");

    QTest::newRow("install bar button") << 17 << "font-family : Noto Sans;font-size : 12px;font-weight : 700" << 0.0;
    QTest::newRow("check box") << 12 << "font-family : Noto Sans;font-size : 10px;font-weight : 600" << 0.0;
    QTest::newRow("progress text") << 11 << "font-family : Noto Sans;font-size : 12px;font-weight : 500" << 0.0;
    QTest::newRow("dialog text") << 6 << "font-family : Noto Sans;font-size : 12px;font-weight : 400" << 16.0;
    QTest::newRow("dialog line height") << 5 << "font-family : Noto Sans;font-size : 14px;font-weight : 400" << 18.0;
    QTest::newRow("first") << 0 << "font-family : Noto Sans;font-size : 20px;font-weight : 700" << 0.0;
    QTest::newRow("smallest with line height")
        << 9 << "font-family : Noto Sans;font-size : 9px;font-weight : 500" << 10.0;
}

void tst_DesignTokens::fontFragments()
{
    QFETCH(int, style);
    QFETCH(QString, fragment);
    QFETCH(double, lineHeight);
    const FontData font = Typography::instance().font(style);
    QCOMPARE(font.styleSheet(), fragment);
    QCOMPARE(font.lineHeight(), lineHeight);
    // The template supplies the semicolon after the fragment.
    QVERIFY(!fragment.endsWith(QLatin1Char(';')));
}

void tst_DesignTokens::everyAliasResolvesToAPaletteColour()
{
    const QRegularExpression hex(QStringLiteral("^#[0-9A-F]{8}$"));
    const QRegularExpression rgba(QStringLiteral("^rgba\\((\\d{1,3}), (\\d{1,3}), (\\d{1,3}), (\\d{1,3})\\)$"));
    for (int i = 0; i < AliasToken::Count; ++i) {
        const AliasToken& tokens = AliasToken::instance();
        QVERIFY2(tokens.token(i).hex != nullptr, qPrintable(QString::number(i)));
        QVERIFY2(hex.match(tokens.token(i).hexString()).hasMatch(), qPrintable(tokens.token(i).hexString()));
        const QRegularExpressionMatch m = rgba.match(tokens.rgba(i));
        QVERIFY2(m.hasMatch(), qPrintable(tokens.rgba(i)));
        // No leading zeros: each number reads back as itself.
        for (int part = 1; part <= 4; ++part)
            QCOMPARE(QString::number(m.captured(part).toInt()), m.captured(part));
    }
}

void tst_DesignTokens::fontIsACopy()
{
    FontData copy = Typography::instance().font(3);
    copy.setPixelSize(99);
    copy.setFamily(QStringLiteral("Other"));
    QCOMPARE(Typography::instance().font(3).pixelSize(), 12);
    QCOMPARE(Typography::instance().font(3).family(), QStringLiteral("Noto Sans"));
}

QTEST_APPLESS_MAIN(tst_DesignTokens)
#include "tst_DesignTokens.moc"
