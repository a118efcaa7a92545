#pragma once
// The pictures of the program, drawn at run time: the four rate pictures of the main window
// and the notification area, the toolbar glyphs and the application icon.
#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>

#include "controls/ImageList.h"

// Index = rateIcon: 0 off line, 1 normal rate or time credit (red dot), 2 reduced rate (green
// dot), 3 package time (cyan dot). 32 x 32 on a transparent ground.
constexpr int kRatePictureCount = 4;
constexpr int kRatePictureSize = 32;
QImage RateImage(int rateIcon, int size = kRatePictureSize);
QList<QPixmap> RatePictures();
TImageList* MakeRateImages(QObject* owner);

enum class ToolbarGlyph { Go, Settings, Invoices, About, StayOnTop, Help, Reduce, Close };
// Go has an "on" form (stop) for its checked state.
QImage ToolbarImage(ToolbarGlyph glyph, int size, bool on = false);
QIcon ToolbarIcon(ToolbarGlyph glyph);

// The computer with its globe, at the usual icon sizes.
QImage AppImage(int size);
QIcon AppIcon();

namespace tallimer {
using ::AppIcon;
using ::AppImage;
using ::MakeRateImages;
using ::RateImage;
using ::RatePictures;
using ::ToolbarGlyph;
using ::ToolbarIcon;
using ::ToolbarImage;
}  // namespace tallimer
