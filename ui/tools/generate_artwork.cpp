// Draws the launcher's built-in raster pictures: the window background and the two default avatars.
// Usage: orvel_artwork <output folder>   (writes "Launcher BG.png", "Launcher User Boy.png", "Launcher User Girl.png")
// The pictures are flat shapes and gradients in the palette's colours, so the PNG files stay small.
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

namespace {

QColor rgb(const char* hex, int alpha = 255)
{
    QColor c(QLatin1Char('#') + QLatin1String(hex));
    c.setAlpha(alpha);
    return c;
}

void softBlob(QPainter& p, QPointF centre, qreal radius, const QColor& colour)
{
    QRadialGradient g(centre, radius);
    g.setColorAt(0.0, colour);
    QColor edge = colour;
    edge.setAlpha(0);
    g.setColorAt(1.0, edge);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(centre, radius, radius);
}

QImage background()
{
    QImage img(2000, 1200, QImage::Format_ARGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient base(0, 0, 2000, 1200);
    base.setColorAt(0.0, rgb("F0F1FF"));
    base.setColorAt(0.55, rgb("DDDEFF"));
    base.setColorAt(1.0, rgb("C2C5FF"));
    p.fillRect(img.rect(), base);

    softBlob(p, {260, 180}, 620, rgb("FFFFFF", 190));
    softBlob(p, {1700, 820}, 760, rgb("A3A7FF", 150));
    softBlob(p, {1250, 120}, 420, rgb("918CFF", 70));

    // A faint drawing-canvas grid.
    p.setPen(QPen(rgb("FFFFFF", 70), 2));
    for (int x = 80; x < 2000; x += 80)
        p.drawLine(x, 0, x, 1200);
    for (int y = 80; y < 1200; y += 80)
        p.drawLine(0, y, 2000, y);

    // A loose composition of design primitives: a tilted card, a ring, a triangle and a curve with handles.
    p.save();
    p.translate(560, 560);
    p.rotate(-8);
    p.setPen(Qt::NoPen);
    p.setBrush(rgb("FFFFFF", 150));
    p.drawRoundedRect(QRectF(-300, -200, 600, 400), 48, 48);
    p.setBrush(rgb("A8ACFF", 200));
    p.drawRoundedRect(QRectF(-240, -140, 220, 22), 11, 11);
    p.setBrush(rgb("C2C5FF", 200));
    p.drawRoundedRect(QRectF(-240, -96, 340, 22), 11, 11);
    p.drawRoundedRect(QRectF(-240, -52, 280, 22), 11, 11);
    p.setBrush(rgb("887DFF", 210));
    p.drawRoundedRect(QRectF(-240, 60, 160, 60), 30, 30);
    p.restore();

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(rgb("887DFF", 170), 14));
    p.drawEllipse(QPointF(1150, 420), 130, 130);
    p.setPen(QPen(rgb("FFFFFF", 200), 10, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath triangle;
    triangle.moveTo(1380, 700);
    triangle.lineTo(1560, 380);
    triangle.lineTo(1740, 700);
    triangle.closeSubpath();
    p.drawPath(triangle);

    QPainterPath curve;
    curve.moveTo(980, 860);
    curve.cubicTo(1120, 620, 1400, 1040, 1560, 860);
    p.setPen(QPen(rgb("FFFFFF", 230), 8, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(curve);
    p.setPen(QPen(rgb("918CFF", 200), 4));
    p.drawLine(QPointF(980, 860), QPointF(1120, 620));
    p.drawLine(QPointF(1560, 860), QPointF(1400, 1040));
    p.setBrush(rgb("FFFFFF"));
    for (QPointF handle : {QPointF(980, 860), QPointF(1120, 620), QPointF(1400, 1040), QPointF(1560, 860)})
        p.drawRect(QRectF(handle - QPointF(12, 12), QSizeF(24, 24)));
    return img;
}

struct AvatarColours
{
    QColor backInner;
    QColor backOuter;
    QColor body;
    QColor hair;
    QColor face;
};

QImage avatar(const AvatarColours& c, bool longHair)
{
    QImage img(1024, 1024, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);

    QRadialGradient back(QPointF(512, 420), 720);
    back.setColorAt(0.0, c.backInner);
    back.setColorAt(1.0, c.backOuter);
    p.fillRect(img.rect(), back);
    p.setPen(Qt::NoPen);

    if (longHair) {
        p.setBrush(c.hair);
        QPainterPath hair;
        hair.moveTo(300, 420);
        hair.cubicTo(300, 170, 724, 170, 724, 420);
        hair.lineTo(748, 780);
        hair.cubicTo(640, 820, 384, 820, 276, 780);
        hair.closeSubpath();
        p.drawPath(hair);
    }

    // Shoulders, neck, head.
    p.setBrush(c.body);
    QPainterPath body;
    body.moveTo(150, 1024);
    body.cubicTo(150, 790, 300, 700, 512, 700);
    body.cubicTo(724, 700, 874, 790, 874, 1024);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(c.face.darker(108));
    p.drawRoundedRect(QRectF(452, 600, 120, 140), 50, 50);
    p.setBrush(c.face);
    p.drawEllipse(QPointF(512, 450), 190, 210);

    p.setBrush(c.hair);
    QPainterPath fringe;
    if (longHair) {
        fringe.moveTo(322, 440);
        fringe.cubicTo(322, 150, 702, 150, 702, 440);
        fringe.cubicTo(620, 330, 460, 300, 322, 440);
    } else {
        fringe.moveTo(318, 430);
        fringe.cubicTo(300, 150, 724, 150, 706, 430);
        fringe.cubicTo(660, 330, 560, 300, 318, 430);
    }
    p.drawPath(fringe);

    // Eyes and a smile.
    p.setBrush(c.hair);
    p.drawEllipse(QPointF(445, 480), 18, 22);
    p.drawEllipse(QPointF(579, 480), 18, 22);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(c.hair, 12, Qt::SolidLine, Qt::RoundCap));
    QPainterPath smile;
    smile.moveTo(460, 560);
    smile.quadTo(512, 600, 564, 560);
    p.drawPath(smile);
    return img;
}

bool save(const QImage& img, const QDir& dir, const QString& name)
{
    QImageWriter writer(dir.filePath(name), "png");
    writer.setQuality(0); // PNG: strongest compression
    if (!writer.write(img)) {
        QTextStream(stderr) << name << ": " << writer.errorString() << '\n';
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: orvel_artwork <output folder>\n";
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const AvatarColours boy{rgb("F0F1FF"), rgb("A8ACFF"), rgb("887DFF"), rgb("666668"), rgb("FAFAFC")};
    const AvatarColours girl{rgb("FAFAFC"), rgb("FF989F"), rgb("918CFF"), rgb("666668"), rgb("FFFFFF")};
    const bool ok = save(background(), dir, QStringLiteral("Launcher BG.png")) &&
                    save(avatar(boy, false), dir, QStringLiteral("Launcher User Boy.png")) &&
                    save(avatar(girl, true), dir, QStringLiteral("Launcher User Girl.png"));
    return ok ? 0 : 1;
}
