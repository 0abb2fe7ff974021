#include "gui/dvIcons.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// Every picture is drawn on a 16-unit grid and scaled, so the 16 and 32 pixel sizes stay alike.
using Draw = void (*)(QPainter&);

const QColor kInk(40, 52, 70);
const QColor kBlue(0, 85, 255);
const QColor kGreen(30, 150, 60);
const QColor kRed(205, 40, 40);
const QColor kPaper(250, 250, 250);
const QColor kFolder(232, 180, 60);

QPen pen(const QColor& c, qreal w = 1.2)
{
    return QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void page(QPainter& p)
{
    QPainterPath path;
    path.moveTo(3.5, 1.5);
    path.lineTo(10, 1.5);
    path.lineTo(12.5, 4);
    path.lineTo(12.5, 14.5);
    path.lineTo(3.5, 14.5);
    path.closeSubpath();
    p.setPen(pen(kInk, 1));
    p.setBrush(kPaper);
    p.drawPath(path);
    p.drawLine(QPointF(10, 1.5), QPointF(10, 4));
    p.drawLine(QPointF(10, 4), QPointF(12.5, 4));
}

void disk(QPainter& p)
{
    p.setPen(pen(kInk, 1));
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(2, 2, 12, 12), 1.5, 1.5);
    p.setBrush(kPaper);
    p.drawRect(QRectF(4.5, 2, 7, 4.5));
    p.setBrush(QColor(200, 210, 230));
    p.drawRect(QRectF(5, 9, 6, 5));
}

void drawRunning(QPainter& p)
{
    p.setPen(pen(kBlue, 1.2));
    p.setBrush(QColor(225, 235, 255));
    p.drawEllipse(QRectF(2, 2, 12, 12));
    p.drawLine(QPointF(8, 8), QPointF(8, 4.5));
    p.drawLine(QPointF(8, 8), QPointF(10.5, 9.5));
}

void drawSuccess(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(pen(Qt::white, 1.8));
    p.drawPolyline(QPolygonF({QPointF(4.5, 8.2), QPointF(7, 10.8), QPointF(11.5, 5.2)}));
}

void drawFailure(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(pen(Qt::white, 1.8));
    p.drawLine(QPointF(5.3, 5.3), QPointF(10.7, 10.7));
    p.drawLine(QPointF(10.7, 5.3), QPointF(5.3, 10.7));
}

void drawOpen(QPainter& p)
{
    p.setPen(pen(kInk, 1));
    p.setBrush(kFolder.darker(115));
    p.drawPolygon(QPolygonF({QPointF(1.5, 3), QPointF(6, 3), QPointF(7.5, 4.5), QPointF(13, 4.5),
                             QPointF(13, 13), QPointF(1.5, 13)}));
    p.setBrush(kFolder);
    p.drawPolygon(QPolygonF({QPointF(3.5, 7), QPointF(15, 7), QPointF(13, 13), QPointF(1.5, 13)}));
}

void drawNew(QPainter& p)
{
    page(p);
    p.setPen(pen(kGreen, 1.6));
    p.drawLine(QPointF(8, 7), QPointF(8, 12));
    p.drawLine(QPointF(5.5, 9.5), QPointF(10.5, 9.5));
}

void drawSave(QPainter& p)
{
    disk(p);
}

void drawSaveAs(QPainter& p)
{
    disk(p);
    p.setPen(pen(kRed, 1.8));
    p.drawLine(QPointF(9, 13), QPointF(14.5, 7.5));
}

void drawUpdate(QPainter& p)
{
    p.setPen(pen(kGreen, 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(3, 3, 10, 10), 30 * 16, 280 * 16);
    p.setBrush(kGreen);
    p.setPen(Qt::NoPen);
    p.drawPolygon(QPolygonF({QPointF(10, 1.5), QPointF(14.5, 4.5), QPointF(10, 7)}));
}

void drawHelp(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(pen(Qt::white, 1.7));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(5.5, 4, 5, 4.5), -40 * 16, 220 * 16);
    p.drawLine(QPointF(9.6, 7.4), QPointF(8, 9));
    p.drawLine(QPointF(8, 9), QPointF(8, 9.6));
    p.drawPoint(QPointF(8, 12));
}

void drawHome(QPainter& p)
{
    p.setPen(pen(kInk, 1));
    p.setBrush(kRed);
    p.drawPolygon(QPolygonF({QPointF(8, 1.5), QPointF(15, 8), QPointF(1, 8)}));
    p.setBrush(kPaper);
    p.drawRect(QRectF(3, 8, 10, 6.5));
    p.setBrush(kFolder.darker(130));
    p.drawRect(QRectF(6.5, 10, 3, 4.5));
}

void drawSupport(QPainter& p)
{
    p.setPen(pen(kInk, 1));
    p.setBrush(kPaper);
    p.drawRect(QRectF(1.5, 3.5, 13, 9));
    p.drawPolyline(QPolygonF({QPointF(1.5, 3.5), QPointF(8, 9), QPointF(14.5, 3.5)}));
}

void drawAbout(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(pen(Qt::white, 1.9));
    p.drawLine(QPointF(8, 7.2), QPointF(8, 11.8));
    p.drawPoint(QPointF(8, 4.6));
}

void drawSearch(QPainter& p)
{
    p.setPen(pen(kInk, 1.6));
    p.setBrush(QColor(220, 235, 255));
    p.drawEllipse(QRectF(2, 2, 8, 8));
    p.setPen(pen(kInk, 2.4));
    p.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
}

void drawConvert(QPainter& p)
{
    page(p);
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawRect(QRectF(1.5, 8.5, 10, 4.5));
}

void drawConfig(QPainter& p)
{
    p.setPen(pen(kInk, 1.4));
    for (int i = 0; i < 3; ++i) {
        const qreal y = 3.5 + i * 4.5;
        p.drawLine(QPointF(2, y), QPointF(14, y));
    }
    p.setBrush(kBlue);
    p.setPen(pen(kInk, 1));
    p.drawRect(QRectF(4, 2, 3, 3));
    p.drawRect(QRectF(9.5, 6.5, 3, 3));
    p.drawRect(QRectF(5.5, 11, 3, 3));
}

void drawConverting(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({QPointF(6, 4.5), QPointF(11.5, 8), QPointF(6, 11.5)}));
}

void drawSkipped(QPainter& p)
{
    p.setPen(pen(kGreen, 1.2));
    p.setBrush(QColor(225, 245, 230));
    p.drawEllipse(QRectF(2, 2, 12, 12));
    p.setPen(pen(kGreen, 1.5));
    p.drawPolyline(QPolygonF({QPointF(5, 5.5), QPointF(7.5, 8), QPointF(5, 10.5)}));
    p.drawPolyline(QPolygonF({QPointF(8.5, 5.5), QPointF(11, 8), QPointF(8.5, 10.5)}));
}

void drawNotDone(QPainter& p)
{
    p.setPen(pen(QColor(120, 120, 120), 1.2));
    p.setBrush(QColor(235, 235, 235));
    p.drawEllipse(QRectF(2, 2, 12, 12));
    p.setPen(pen(QColor(120, 120, 120), 1.8));
    p.drawLine(QPointF(5, 8), QPointF(11, 8));
}

QPixmap render(Draw draw, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    draw(p);
    return pixmap;
}

} // namespace

QList<QIcon> makeImageList()
{
    static const Draw draws[imgCount] = {drawRunning,    drawSuccess, drawFailure, drawOpen,    drawNew,
                                         drawSave,       drawSaveAs,  drawUpdate,  drawHelp,    drawHome,
                                         drawSupport,    drawAbout,   drawSearch,  drawConvert, drawConfig,
                                         drawConverting, drawSkipped, drawNotDone};
    QList<QIcon> list;
    for (Draw draw : draws) {
        QIcon icon;
        // Sharp at every scale a desktop may ask for (HiDPI at 150 % and 200 % too).
        for (int size : {16, 24, 32, 48})
            icon.addPixmap(render(draw, size));
        list.append(icon);
    }
    return list;
}

QPixmap productPicture()
{
    QPixmap pixmap(128, 128);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    // Two slides stacked behind a document page with a folded corner and a PDF band.
    p.setPen(QPen(QColor(20, 40, 90), 2));
    p.setBrush(QColor(255, 170, 60));
    p.drawRoundedRect(QRectF(8, 22, 62, 44), 4, 4);
    p.setBrush(QColor(255, 210, 120));
    p.drawRoundedRect(QRectF(16, 32, 62, 44), 4, 4);
    p.setPen(QPen(QColor(20, 40, 90), 2));
    p.drawLine(QPointF(24, 44), QPointF(58, 44));
    p.drawLine(QPointF(24, 54), QPointF(50, 54));

    QPainterPath doc;
    doc.moveTo(52, 30);
    doc.lineTo(98, 30);
    doc.lineTo(118, 50);
    doc.lineTo(118, 120);
    doc.lineTo(52, 120);
    doc.closeSubpath();
    p.setBrush(QColor(250, 250, 250));
    p.drawPath(doc);
    p.setBrush(QColor(220, 226, 240));
    p.drawPolygon(QPolygonF({QPointF(98, 30), QPointF(98, 50), QPointF(118, 50)}));
    p.setPen(QPen(QColor(150, 160, 180), 2));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(62, 62 + i * 9), QPointF(108, 62 + i * 9));

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(205, 40, 40));
    p.drawRoundedRect(QRectF(44, 92, 66, 22), 3, 3);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(16);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(44, 92, 66, 22), Qt::AlignCenter, QStringLiteral("PDF"));

    // The arrow from the slides to the page.
    p.setPen(QPen(QColor(0, 85, 255), 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(20, 96), QPointF(36, 96));
    p.setBrush(QColor(0, 85, 255));
    p.setPen(Qt::NoPen);
    p.drawPolygon(QPolygonF({QPointF(34, 88), QPointF(44, 96), QPointF(34, 104)}));
    return pixmap;
}

QIcon productIcon()
{
    QIcon drawn;
    const QPixmap picture = productPicture();
    for (int size : {16, 24, 32, 48, 64, 128})
        drawn.addPixmap(picture.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return QIcon::fromTheme(QStringLiteral("vellum"), drawn);
}
