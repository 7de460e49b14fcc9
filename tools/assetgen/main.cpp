// Draws the program's pictures into assets/, and its menu icon at the sizes
// the icon theme gets into dist/icons/ (the same drawing as the scalable
// dist/icons/com.ulvaren.KelvaroHelper.svg). Run once after changing a
// drawing; the PNG files are kept in the repository.
//   tools/assetgen/assetgen [ASSETS_DIR [ICONS_DIR]]
#include <QApplication>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

const QColor Crimson(0xb0, 0x1c, 0x32);
const QColor CrimsonDark(0x7a, 0x10, 0x22);
const QColor CrimsonLight(0xd9, 0x4a, 0x5c);
const QColor Paper(0xf7, 0xf3, 0xf3);
constexpr int TitleBandRows = 92;

// The title band's colour from the window's top edge down; the banner uses
// the same gradient shifted by its own top (16) so that it blends in.
QLinearGradient titleGradient(qreal top = 0)
{
    QLinearGradient band(0, -top, 0, TitleBandRows - top);
    band.setColorAt(0, CrimsonLight);
    band.setColorAt(1, Crimson);
    return band;
}

QFont chineseFont(qreal pixelSize, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("微软雅黑"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(qRound(pixelSize));
    font.setBold(bold);
    return font;
}

QImage canvas(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// 13 x 101: title band (rows 0-99), edges (rows 68-95), bottom edge (rows 96-100).
// The band is crimson down to row 91, so the banner (drawn at y 16..86) sits on
// it; rows 92-99 are the client colour. The bottom edge's last row is the only
// crimson one across, because the title band's stretch column also shows rows
// 96-99 just under the title.
QImage frameSkin()
{
    QImage image = canvas(13, 101);
    QPainter p(&image);
    p.fillRect(0, 0, 13, 101, Paper);
    p.fillRect(0, 0, 13, TitleBandRows, titleGradient());
    p.fillRect(0, TitleBandRows - 2, 13, 2, CrimsonDark); // a dark seam under the title
    p.fillRect(0, 68, 3, 33, Crimson);                      // left edge, down into the bottom corner
    p.fillRect(10, 68, 3, 33, Crimson);                     // right edge
    p.fillRect(0, 0, 1, 101, CrimsonDark);                  // outer rim
    p.fillRect(12, 0, 1, 101, CrimsonDark);
    p.fillRect(0, 100, 13, 1, CrimsonDark);                 // bottom line
    return image;
}

void drawTitleButton(QPainter &p, QRect r, bool close, int look)
{
    const QColor fill = look == 0 ? QColor(255, 255, 255, 28) : (look == 1 ? QColor(255, 255, 255, 70) : QColor(0, 0, 0, 60));
    QColor base = look == 2 && close ? QColor(0xe8, 0x11, 0x23) : Crimson;
    if (look == 1 && close)
        base = QColor(0xe0, 0x3a, 0x48);
    p.fillRect(r, base);
    p.fillRect(r, fill);
    p.setPen(QPen(Qt::white, 1.6));
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c = QRectF(r).center();
    if (close) {
        p.drawLine(c + QPointF(-4, -4), c + QPointF(4, 4));
        p.drawLine(c + QPointF(-4, 4), c + QPointF(4, -4));
    } else {
        p.drawLine(c + QPointF(-5, 3), c + QPointF(5, 3));
    }
    p.setRenderHint(QPainter::Antialiasing, false);
}

// 70 x 69: minimise in columns 0-28, close in 29-69; looks from rows 0, 21, 41/42.
QImage titleButtons()
{
    QImage image = canvas(70, 69);
    QPainter p(&image);
    const int minimiseRows[3] = {0, 21, 41};
    const int closeRows[3] = {0, 21, 42};
    for (int look = 0; look < 3; ++look) {
        drawTitleButton(p, QRect(0, minimiseRows[look], 29, 20), false, look);
        drawTitleButton(p, QRect(29, closeRows[look], 41, 20), true, look);
    }
    return image;
}

// 400 x 70: product name, version and slogan on the frame colour.
QImage titleBanner()
{
    QImage image(400, 70, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.fillRect(image.rect(), titleGradient(16)); // continues the band it sits on (y 16..86)
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    // a small note mark
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(4, 22, 14, 11));
    p.fillRect(QRectF(15, 4, 3, 24), Qt::white);
    p.drawRect(QRectF(15, 4, 12, 4));
    p.setPen(Qt::white);
    p.setFont(chineseFont(24, true));
    p.drawText(QRect(36, 0, 360, 36), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Kelvaro辅助工具 V3.0"));
    p.setPen(QColor(255, 255, 255, 210));
    p.setFont(chineseFont(12, false));
    p.drawText(QRect(38, 36, 360, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("解析 · 试听 · 下载  Ulvaren出品"));
    return image;
}

// 90 x 90: the default singer picture, a plain silhouette.
QImage defaultSinger()
{
    QImage image(90, 90, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(image.rect(), QColor(0xec, 0xe4, 0xe5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xc9, 0xb8, 0xbb));
    p.drawEllipse(QRectF(29, 16, 32, 34));
    QPainterPath body;
    body.addRoundedRect(QRectF(14, 54, 62, 50), 28, 28);
    p.drawPath(body);
    return image;
}

// 48 x 48: the lookup button, a magnifier on a crimson disc.
QImage lookupButton()
{
    QImage image = canvas(48, 48);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient disc(QPointF(18, 16), 34);
    disc.setColorAt(0, CrimsonLight);
    disc.setColorAt(1, CrimsonDark);
    p.setBrush(disc);
    p.setPen(QPen(QColor(255, 255, 255, 200), 2));
    p.drawEllipse(QRectF(2, 2, 44, 44));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawEllipse(QRectF(13, 12, 16, 16));
    p.drawLine(QPointF(27, 26), QPointF(35, 34));
    return image;
}

// 30 x 16: the "MV" tag.
QImage mvBadge()
{
    QImage image = canvas(30, 16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0xf0, 0x8c, 0x1a));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0.5, 0.5, 29, 15), 4, 4);
    p.setPen(Qt::white);
    QFont font = chineseFont(11, true);
    p.setFont(font);
    p.drawText(QRect(0, 0, 30, 16), Qt::AlignCenter, QStringLiteral("MV"));
    return image;
}

// 16 x 16: the download panel's close image.
QImage panelClose()
{
    QImage image = canvas(16, 16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Crimson);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    p.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5, 5), QPointF(11, 11));
    p.drawLine(QPointF(5, 11), QPointF(11, 5));
    return image;
}

// 164 x 164: a rounded frame drawn over the singer picture.
QImage pictureFrame()
{
    QImage image = canvas(164, 164);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath outer;
    outer.addRect(0, 0, 164, 164);
    QPainterPath inner;
    inner.addRoundedRect(QRectF(3, 3, 158, 158), 12, 12);
    p.fillPath(outer.subtracted(inner), Qt::white);
    p.setPen(QPen(QColor(0xd6, 0xc6, 0xc9), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(3, 3, 158, 158), 12, 12);
    return image;
}

// 20 x 20: the crimson strip behind the status row.
QImage statusStrip()
{
    QImage image(20, 20, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    QLinearGradient strip(0, 0, 0, 20);
    strip.setColorAt(0, CrimsonLight);
    strip.setColorAt(1, CrimsonDark);
    p.fillRect(image.rect(), strip);
    return image;
}

// The menu icon, drawn on the scalable icon's 256 x 256 grid.
QImage programIcon(int size)
{
    QImage image = canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    QLinearGradient band(0, 12, 0, 244);
    band.setColorAt(0, QColor(0xd4, 0x20, 0x3c));
    band.setColorAt(1, QColor(0x8a, 0x0c, 0x22));
    p.setPen(QPen(QColor(0x5e, 0x06, 0x16), 4));
    p.setBrush(band);
    p.drawRoundedRect(QRectF(12, 12, 232, 232), 48, 48);

    // The microphone.
    QLinearGradient head(88, 44, 152, 152);
    head.setColorAt(0, Qt::white);
    head.setColorAt(1, QColor(0xd9, 0xdd, 0xe3));
    p.setPen(Qt::NoPen);
    p.setBrush(head);
    p.drawRoundedRect(QRectF(88, 44, 64, 108), 32, 32);
    p.setPen(QPen(QColor(0xb8, 0xbe, 0xc7), 4));
    p.drawLine(QLineF(88, 96, 152, 96));
    p.drawLine(QLineF(88, 112, 152, 112));
    p.setPen(QPen(Qt::white, 12, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(70, 66, 100, 100), 180 * 16, 180 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(114, 166, 12, 32));
    p.drawRoundedRect(QRectF(84, 196, 72, 14), 7, 7);

    // A note beside it.
    const QColor gold(0xff, 0xd2, 0x4a);
    p.setPen(QPen(gold, 9, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QLineF(196, 60, 196, 122));
    QPainterPath flag(QPointF(196, 60));
    flag.quadTo(218, 68, 220, 90);
    p.drawPath(flag);
    p.setPen(Qt::NoPen);
    p.setBrush(gold);
    p.translate(184, 124);
    p.rotate(-20);
    p.drawEllipse(QRectF(-16, -12, 32, 24));
    return image;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("assets");
    const std::pair<const char *, QImage> pictures[] = {
        {"frame-skin.png", frameSkin()},       {"title-buttons.png", titleButtons()},
        {"title-banner.png", titleBanner()},   {"default-singer.png", defaultSinger()},
        {"lookup-button.png", lookupButton()}, {"mv-badge.png", mvBadge()},
        {"panel-close.png", panelClose()},     {"picture-frame.png", pictureFrame()},
        {"status-strip.png", statusStrip()},
    };
    for (const auto &[name, image] : pictures) {
        if (!image.save(out + QLatin1Char('/') + QLatin1String(name)))
            return 1;
    }
    const QString icons = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("dist/icons");
    for (const int size : {48, 128, 256}) {
        if (!programIcon(size).save(icons + QStringLiteral("/com.ulvaren.KelvaroHelper-%1.png").arg(size)))
            return 1;
    }
    return 0;
}
