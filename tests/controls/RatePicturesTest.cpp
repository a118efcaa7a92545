#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <cstdlib>
#include <initializer_list>
#include <string>

#include "controls/RatePictures.h"

namespace {

enum class Hue { None, Red, Green, Cyan };

// The colour that dominates the strongly coloured pixels of a square.
Hue DominantHue(const QImage& image, QRect area) {
    int red = 0, green = 0, cyan = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            QColor c = image.pixelColor(x, y);
            if (c.alpha() < 200 || c.hsvSaturation() < 150 || c.value() < 150) continue;
            int h = c.hsvHue();
            if (h < 20 || h > 340)
                ++red;
            else if (h > 90 && h < 150)
                ++green;
            else if (h > 170 && h < 200)
                ++cyan;
        }
    int best = std::max({red, green, cyan});
    if (best < 12) return Hue::None;  // a dot, not a stray edge pixel
    return best == red ? Hue::Red : best == green ? Hue::Green : Hue::Cyan;
}

int Differences(const QImage& a, const QImage& b) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

// Enlarged copies for people to look at; only when the build folder is known.
void SaveEnlarged(const QImage& image, const QString& name, int factor) {
    const char* build = std::getenv("TALLIMER_BUILD_DIR");
    if (!build) return;
    QDir dir(QString::fromLocal8Bit(build));
    ASSERT_TRUE(dir.mkpath("artefacts"));
    // A checkered ground shows what is transparent.
    QImage shot(image.size() * factor, QImage::Format_ARGB32);
    QPainter p(&shot);
    const int cell = 4 * factor;
    for (int y = 0; y < shot.height(); y += cell)
        for (int x = 0; x < shot.width(); x += cell)
            p.fillRect(x, y, cell, cell, ((x + y) / cell) % 2 ? QColor(205, 205, 205) : Qt::white);
    p.drawImage(shot.rect(), image);
    p.end();
    EXPECT_TRUE(shot.save(dir.filePath("artefacts/" + name)));
}

}  // namespace

TEST(RatePictures, FourDistinctPicturesWithTransparentCornersAndTheirDots) {
    QList<QPixmap> pictures = RatePictures();
    ASSERT_EQ(pictures.size(), 4);
    std::vector<QImage> images;
    for (const QPixmap& p : pictures) {
        ASSERT_EQ(p.size(), QSize(32, 32));
        images.push_back(p.toImage().convertToFormat(QImage::Format_ARGB32));
    }
    for (const QImage& image : images)
        for (QPoint corner : {QPoint(0, 0), QPoint(31, 0), QPoint(0, 31), QPoint(31, 31)})
            EXPECT_EQ(qAlpha(image.pixel(corner)), 0) << corner.x() << "," << corner.y();
    for (size_t i = 0; i < images.size(); ++i)
        for (size_t j = i + 1; j < images.size(); ++j)
            EXPECT_GT(Differences(images[i], images[j]), 40) << i << " vs " << j;

    const QRect lowerRight(20, 20, 12, 12);
    EXPECT_EQ(DominantHue(images[0], lowerRight), Hue::None);
    EXPECT_EQ(DominantHue(images[1], lowerRight), Hue::Red);
    EXPECT_EQ(DominantHue(images[2], lowerRight), Hue::Green);
    EXPECT_EQ(DominantHue(images[3], lowerRight), Hue::Cyan);
    // The dot stays in its corner: the rest of the picture has none of its colour.
    for (int i = 1; i < 4; ++i) EXPECT_EQ(DominantHue(images[i], QRect(0, 0, 20, 32)), Hue::None);

    // The drawing is light with a dark edge, so it reads on dark and light panels alike.
    int light = 0, dark = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            QColor c = images[0].pixelColor(x, y);
            if (c.alpha() < 200) continue;
            if (c.lightness() > 220) ++light;
            if (c.lightness() < 60) ++dark;
        }
    EXPECT_GT(light, 30);
    EXPECT_GT(dark, 30);

    const char* names[] = {"rate0-offline.png", "rate1-normal.png", "rate2-reduced.png",
                           "rate3-package.png"};
    for (int i = 0; i < 4; ++i) SaveEnlarged(images[i], names[i], 4);
}

TEST(RatePictures, ImageListHoldsThemAndClearsReferencesWhenDestroyed) {
    QObject owner;
    QPointer<TImageList> list = MakeRateImages(&owner);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->count(), 4);
    EXPECT_EQ(list->pixmap(2).toImage(), RatePictures()[2].toImage());
    EXPECT_TRUE(list->pixmap(4).isNull());
    EXPECT_TRUE(list->icon(-1).isNull());
    EXPECT_FALSE(list->icon(3).isNull());
    delete list.data();
    EXPECT_TRUE(list.isNull());
}

TEST(RatePictures, ToolbarGlyphsAreDistinctAtToolbarSize) {
    const ToolbarGlyph glyphs[] = {ToolbarGlyph::Go,        ToolbarGlyph::Settings,
                                   ToolbarGlyph::Invoices,  ToolbarGlyph::About,
                                   ToolbarGlyph::StayOnTop, ToolbarGlyph::Help,
                                   ToolbarGlyph::Reduce,    ToolbarGlyph::Close};
    std::vector<QImage> images;
    for (ToolbarGlyph g : glyphs) {
        QIcon icon = ToolbarIcon(g);
        ASSERT_FALSE(icon.isNull());
        QImage image = icon.pixmap(24, 24).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(24, 24));
        int inked = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x) inked += qAlpha(image.pixel(x, y)) > 128;
        EXPECT_GT(inked, 40);
        images.push_back(image);
    }
    for (size_t i = 0; i < images.size(); ++i)
        for (size_t j = i + 1; j < images.size(); ++j)
            EXPECT_GT(Differences(images[i], images[j]), 40) << i << " vs " << j;
    // The toggle shows another glyph while it is down.
    QIcon go = ToolbarIcon(ToolbarGlyph::Go);
    EXPECT_GT(Differences(go.pixmap(24, 24, QIcon::Normal, QIcon::On).toImage(),
                          go.pixmap(24, 24, QIcon::Normal, QIcon::Off).toImage()),
              40);

    QImage sheet(24 * 9 * 4, 24 * 4, QImage::Format_ARGB32);
    sheet.fill(Qt::transparent);
    QPainter p(&sheet);
    for (size_t i = 0; i < images.size(); ++i)
        p.drawImage(QRect(int(i) * 96, 0, 96, 96), images[i]);
    p.drawImage(QRect(8 * 96, 0, 96, 96), go.pixmap(24, 24, QIcon::Normal, QIcon::On).toImage());
    p.end();
    SaveEnlarged(sheet, "toolbar-icons.png", 1);
}

TEST(RatePictures, AppIconHasTheUsualSizes) {
    QIcon icon = AppIcon();
    ASSERT_FALSE(icon.isNull());
    for (int size : {16, 32, 48}) EXPECT_EQ(icon.pixmap(size, size).size(), QSize(size, size));
    QImage image = icon.pixmap(32, 32).toImage();
    EXPECT_EQ(DominantHue(image, QRect(20, 20, 12, 12)), Hue::None);
    SaveEnlarged(image, "app-icon.png", 4);
}

namespace {

// The icon as it was built before pictures were drawn on demand: every size up front.
template <typename Draw>
QIcon DrawnUpFront(std::initializer_list<int> sizes, bool withOn, Draw draw) {
    QIcon icon;
    for (int size : sizes) {
        icon.addPixmap(QPixmap::fromImage(draw(size, false)), QIcon::Normal, QIcon::Off);
        if (withOn) icon.addPixmap(QPixmap::fromImage(draw(size, true)), QIcon::Normal, QIcon::On);
    }
    return icon;
}

void ExpectSamePictures(const QIcon& lazy, const QIcon& full, const std::string& name) {
    // Mixed order: a size asked before the larger and smaller ones around it are drawn.
    const QSize asked[] = {{40, 40}, {8, 8},     {128, 128}, {20, 20}, {17, 17},
                           {16, 16}, {24, 24},   {22, 22},   {32, 32}, {48, 48},
                           {64, 64}, {200, 200}, {20, 32},   {48, 16}, {0, 0}};
    for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Active, QIcon::Selected})
        for (QIcon::State state : {QIcon::On, QIcon::Off}) {
            SCOPED_TRACE(name + " mode " + std::to_string(mode) + " state " +
                         std::to_string(state));
            EXPECT_EQ(lazy.availableSizes(mode, state), full.availableSizes(mode, state));
            for (QSize size : asked) {
                SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
                EXPECT_EQ(lazy.actualSize(size, mode, state), full.actualSize(size, mode, state));
                EXPECT_EQ(lazy.pixmap(size, mode, state).toImage(),
                          full.pixmap(size, mode, state).toImage());
            }
            EXPECT_EQ(lazy.pixmap(QSize(20, 20), 2.0, mode, state).toImage(),
                      full.pixmap(QSize(20, 20), 2.0, mode, state).toImage());
            QImage a(40, 30, QImage::Format_ARGB32_Premultiplied), b = a;
            a.fill(Qt::white);
            b.fill(Qt::white);
            QPainter pa(&a), pb(&b);
            lazy.paint(&pa, QRect(3, 2, 30, 21), Qt::AlignCenter, mode, state);
            full.paint(&pb, QRect(3, 2, 30, 21), Qt::AlignCenter, mode, state);
            pa.end();
            pb.end();
            EXPECT_EQ(a, b);
        }
}

}  // namespace

TEST(RatePictures, IconsDrawnOnDemandGiveThePicturesOfIconsDrawnUpFront) {
    const ToolbarGlyph glyphs[] = {ToolbarGlyph::Go,        ToolbarGlyph::Settings,
                                   ToolbarGlyph::Invoices,  ToolbarGlyph::About,
                                   ToolbarGlyph::StayOnTop, ToolbarGlyph::Help,
                                   ToolbarGlyph::Reduce,    ToolbarGlyph::Close};
    for (ToolbarGlyph glyph : glyphs) {
        const bool go = glyph == ToolbarGlyph::Go;
        ExpectSamePictures(
            ToolbarIcon(glyph),
            DrawnUpFront({16, 20, 24, 32, 48}, go,
                         [glyph](int size, bool on) { return ToolbarImage(glyph, size, on); }),
            "glyph " + std::to_string(int(glyph)));
    }
    ExpectSamePictures(AppIcon(),
                       DrawnUpFront({16, 22, 24, 32, 48, 64, 128}, false,
                                    [](int size, bool) { return AppImage(size); }),
                       "application");
    // Shared: the second call hands out the pictures the first one drew.
    EXPECT_EQ(AppIcon().cacheKey(), AppIcon().cacheKey());
}
