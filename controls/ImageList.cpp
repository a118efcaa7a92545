#include "controls/ImageList.h"

TImageList::TImageList(QObject* owner) : QObject(owner) {}

TImageList::TImageList(QList<QPixmap> images, QObject* owner) : QObject(owner) {
    for (const QPixmap& image : images) add(image);
}

void TImageList::add(const QPixmap& image) {
    images_.append(image);
    icons_.append(image.isNull() ? QIcon() : QIcon(image));
}

void TImageList::clear() {
    images_.clear();
    icons_.clear();
}

QPixmap TImageList::pixmap(int index) const {
    if (index < 0 || index >= count()) return QPixmap();
    return images_.at(index);
}

QIcon TImageList::icon(int index) const {
    if (index < 0 || index >= count()) return QIcon();
    return icons_.at(index);
}
