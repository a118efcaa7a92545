#include "controls/ImageList.h"

#include <utility>

TImageList::TImageList(QObject* owner) : QObject(owner) {}

TImageList::TImageList(QList<QPixmap> images, QObject* owner)
    : QObject(owner), images_(std::move(images)) {}

QPixmap TImageList::pixmap(int index) const {
    if (index < 0 || index >= count()) return QPixmap();
    return images_.at(index);
}

QIcon TImageList::icon(int index) const {
    QPixmap p = pixmap(index);
    return p.isNull() ? QIcon() : QIcon(p);
}
