#pragma once
// A list of same-sized pictures (32 x 32 here) that windows and the tray icon pick from by index.
// A QObject, so holders can keep a QPointer that clears when the list goes away.
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPixmap>

class TImageList : public QObject {
    Q_OBJECT

  public:
    explicit TImageList(QObject* owner = nullptr);
    TImageList(QList<QPixmap> images, QObject* owner = nullptr);

    int count() const { return static_cast<int>(images_.size()); }
    void add(const QPixmap& image);
    void clear();
    const QList<QPixmap>& images() const { return images_; }

    // A null pixmap or icon for an index outside the list.
    QPixmap pixmap(int index) const;
    QIcon icon(int index) const;

  private:
    QList<QPixmap> images_;
    // One icon per image, made once: the same image keeps the same icon, so the tray can
    // tell an unchanged picture from a new one.
    QList<QIcon> icons_;
};

namespace tallimer {
using ::TImageList;
}
