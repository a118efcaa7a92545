#include "controls/RatePictures.h"

#include "controls/DrawnIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <cmath>

namespace {

// Dark edging around light strokes, so white lines still read on a light panel.
const QColor kEdge(28, 34, 44);
const QColor kWhite(255, 255, 255);

QImage Blank(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A painter drawing on a grid of `units` units, whatever the pixel size.
void Begin(QPainter& p, int size, double units) {
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / units, size / units);
}

void Stroke(QPainter& p, const QPainterPath& path, const QColor& color, double width, double edge) {
    if (edge > 0) {
        p.setPen(QPen(kEdge, width + 2 * edge, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(path);
    }
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

// ---- rate pictures, 32-unit grid ----

void DrawComputer(QPainter& p) {
    const QRectF monitor(2.5, 9.5, 19, 13.5);
    // A tinted screen gives the line drawing some body on any background.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 60, 90, 120));
    p.drawRoundedRect(monitor, 1.5, 1.5);

    QPainterPath lines;
    lines.addRoundedRect(monitor, 1.5, 1.5);
    lines.moveTo(12, 23.2);
    lines.lineTo(12, 27);
    lines.moveTo(6.5, 28.5);
    lines.lineTo(17.5, 28.5);
    Stroke(p, lines, kWhite, 2.0, 0.9);
}

void DrawGlobe(QPainter& p) {
    const QPointF c(24.5, 7.5);
    const double r = 6.0;
    p.setPen(QPen(kEdge, 1.6));
    p.setBrush(QColor(30, 80, 170));
    p.drawEllipse(c, r, r);

    QPainterPath grid;
    grid.addEllipse(c, r * 0.42, r);  // meridian
    grid.moveTo(c.x() - r, c.y());    // equator
    grid.lineTo(c.x() + r, c.y());
    grid.moveTo(c.x() - r * 0.82, c.y() - r * 0.5);  // parallels
    grid.lineTo(c.x() + r * 0.82, c.y() - r * 0.5);
    grid.moveTo(c.x() - r * 0.82, c.y() + r * 0.5);
    grid.lineTo(c.x() + r * 0.82, c.y() + r * 0.5);
    p.save();
    QPainterPath clip;
    clip.addEllipse(c, r, r);
    p.setClipPath(clip);
    Stroke(p, grid, QColor(255, 255, 255, 220), 0.9, 0);
    p.restore();
    p.setPen(QPen(kWhite, 1.3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, r, r);
}

void DrawDot(QPainter& p, const QColor& color) {
    p.setPen(QPen(kEdge, 1.3));
    p.setBrush(color);
    p.drawEllipse(QPointF(26, 26), 5, 5);
}

QImage ComputerImage(int size, bool globe, const QColor& dot) {
    QImage image = Blank(size);
    QPainter p(&image);
    Begin(p, size, 32);
    DrawComputer(p);
    if (globe) DrawGlobe(p);
    if (dot.isValid()) DrawDot(p, dot);
    return image;
}

// ---- toolbar glyphs, 24-unit grid ----

const QColor kInk(45, 55, 72);

void FillOutlined(QPainter& p, const QPainterPath& path, const QColor& fill, double width = 1.2) {
    p.setPen(QPen(kInk, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(fill);
    p.drawPath(path);
}

void Disc(QPainter& p, const QColor& fill) {
    QPainterPath disc;
    disc.addEllipse(QPointF(12, 12), 10, 10);
    FillOutlined(p, disc, fill);
}

void DrawGo(QPainter& p, bool on) {
    QPainterPath shape;
    if (on) {
        shape.addRoundedRect(QRectF(5.5, 5.5, 13, 13), 1.5, 1.5);
        FillOutlined(p, shape, QColor(205, 50, 45), 1.4);
    } else {
        shape.moveTo(6.5, 3.5);
        shape.lineTo(20, 12);
        shape.lineTo(6.5, 20.5);
        shape.closeSubpath();
        FillOutlined(p, shape, QColor(40, 165, 70), 1.4);
    }
}

void DrawSettings(QPainter& p) {
    const QPointF c(12, 12);
    QPainterPath gear;
    gear.addEllipse(c, 7, 7);
    for (int i = 0; i < 8; ++i) {
        QPainterPath tooth;
        tooth.addRoundedRect(QRectF(-2, -10.5, 4, 6), 0.8, 0.8);
        QTransform t;
        t.translate(c.x(), c.y());
        t.rotate(i * 45.0);
        gear = gear.united(t.map(tooth));
    }
    QPainterPath hole;
    hole.addEllipse(c, 3, 3);
    gear = gear.subtracted(hole);
    FillOutlined(p, gear, QColor(120, 135, 155));
}

void DrawInvoices(QPainter& p) {
    QPainterPath sheet;
    sheet.moveTo(4.5, 2);
    sheet.lineTo(14.5, 2);
    sheet.lineTo(19.5, 7);
    sheet.lineTo(19.5, 22);
    sheet.lineTo(4.5, 22);
    sheet.closeSubpath();
    FillOutlined(p, sheet, QColor(252, 252, 248));
    QPainterPath fold;
    fold.moveTo(14.5, 2);
    fold.lineTo(14.5, 7);
    fold.lineTo(19.5, 7);
    FillOutlined(p, fold, QColor(215, 220, 228));
    QPainterPath lines;
    // Few lines, well apart, so they stay lines at 16 pixels.
    for (double y : {10.5, 14.5}) {
        lines.moveTo(7.5, y);
        lines.lineTo(16.5, y);
    }
    lines.moveTo(11.5, 18.5);
    lines.lineTo(16.5, 18.5);
    p.setPen(QPen(QColor(60, 100, 170), 1.5, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(lines);
}

void DrawAbout(QPainter& p) {
    Disc(p, QColor(40, 110, 200));
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawEllipse(QPointF(12, 7), 1.9, 1.9);
    p.drawRoundedRect(QRectF(10.4, 10.2, 3.2, 8.8), 0.8, 0.8);
}

void DrawHelp(QPainter& p) {
    Disc(p, QColor(30, 140, 120));
    QPainterPath mark;
    const QRectF arc(8.2, 4.6, 7.6, 7.6);
    mark.arcMoveTo(arc, 160);
    mark.arcTo(arc, 160, -250);
    mark.lineTo(12, 14.6);
    p.setPen(QPen(kWhite, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(mark);
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawEllipse(QPointF(12, 18.3), 1.7, 1.7);
}

void DrawStayOnTop(QPainter& p) {
    p.translate(12, 12);
    p.rotate(40);
    // Needle, then the body and the head of the pin.
    p.setPen(QPen(QColor(90, 95, 105), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(0, 2), QPointF(0, 11));
    QPainterPath body;
    body.moveTo(-6, 2.5);
    body.lineTo(6, 2.5);
    body.lineTo(3, -1);
    body.lineTo(3, -6);
    body.lineTo(-3, -6);
    body.lineTo(-3, -1);
    body.closeSubpath();
    FillOutlined(p, body, QColor(215, 55, 50));
    QPainterPath head;
    head.addRoundedRect(QRectF(-4.5, -10, 9, 4), 1.5, 1.5);
    FillOutlined(p, head, QColor(235, 90, 80));
}

void DrawReduce(QPainter& p) {
    QPainterPath arrow;
    arrow.moveTo(10, 2.5);
    arrow.lineTo(14, 2.5);
    arrow.lineTo(14, 9.5);
    arrow.lineTo(18.5, 9.5);
    arrow.lineTo(12, 16.5);
    arrow.lineTo(5.5, 9.5);
    arrow.lineTo(10, 9.5);
    arrow.closeSubpath();
    FillOutlined(p, arrow, QColor(60, 120, 200));
    QPainterPath bar;
    bar.addRoundedRect(QRectF(4, 18.5, 16, 3.5), 1, 1);
    FillOutlined(p, bar, QColor(120, 135, 155));
}

void DrawClose(QPainter& p) {
    QPainterPath cross;
    cross.moveTo(6, 6);
    cross.lineTo(18, 18);
    cross.moveTo(18, 6);
    cross.lineTo(6, 18);
    p.setPen(QPen(kInk, 5.6, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cross);
    p.setPen(QPen(QColor(215, 50, 45), 3.6, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cross);
}

}  // namespace

QImage RateImage(int rateIcon, int size) {
    switch (rateIcon) {
        case 1:
            return ComputerImage(size, true, QColor(230, 30, 30));
        case 2:
            return ComputerImage(size, true, QColor(30, 200, 45));
        case 3:
            return ComputerImage(size, true, QColor(0, 225, 235));
        default:
            return ComputerImage(size, false, QColor());
    }
}

QList<QPixmap> RatePictures() {
    QList<QPixmap> pictures;
    for (int i = 0; i < kRatePictureCount; ++i) pictures.append(QPixmap::fromImage(RateImage(i)));
    return pictures;
}

TImageList* MakeRateImages(QObject* owner) {
    return new TImageList(RatePictures(), owner);
}

QImage ToolbarImage(ToolbarGlyph glyph, int size, bool on) {
    QImage image = Blank(size);
    QPainter p(&image);
    Begin(p, size, 24);
    switch (glyph) {
        case ToolbarGlyph::Go:
            DrawGo(p, on);
            break;
        case ToolbarGlyph::Settings:
            DrawSettings(p);
            break;
        case ToolbarGlyph::Invoices:
            DrawInvoices(p);
            break;
        case ToolbarGlyph::About:
            DrawAbout(p);
            break;
        case ToolbarGlyph::StayOnTop:
            DrawStayOnTop(p);
            break;
        case ToolbarGlyph::Help:
            DrawHelp(p);
            break;
        case ToolbarGlyph::Reduce:
            DrawReduce(p);
            break;
        case ToolbarGlyph::Close:
            DrawClose(p);
            break;
    }
    return image;
}

QIcon ToolbarIcon(ToolbarGlyph glyph) {
    // The toolbar shows one size; the others are drawn only if something asks for them.
    return tallimer::DrawnIcon(
        {16, 20, 24, 32, 48}, glyph == ToolbarGlyph::Go,
        [glyph](int size, bool on) { return ToolbarImage(glyph, size, on); });
}

QImage AppImage(int size) {
    return ComputerImage(size, true, QColor());
}

QIcon AppIcon() {
    // One icon for the application, its windows and the notification area; never destroyed,
    // so its pictures do not outlive the application's end in a static destructor.
    static const QIcon* const icon = new QIcon(tallimer::DrawnIcon(
        {16, 22, 24, 32, 48, 64, 128}, false, [](int size, bool) { return AppImage(size); }));
    return *icon;
}
