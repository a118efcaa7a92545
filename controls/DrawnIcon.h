#pragma once
// An icon whose pictures are drawn the first time a size is asked for, then kept. It answers
// as an icon holding one picture per size would: the same sizes, the same choice of picture
// for a size in between, the same scaling and greyed forms.
#include <QIcon>
#include <QImage>
#include <functional>
#include <vector>

namespace tallimer {

// draw(size, on) paints the picture of `size` pixels; `on` only when withOnState. The sizes
// come in ascending order.
using DrawPicture = std::function<QImage(int size, bool on)>;
QIcon DrawnIcon(std::vector<int> sizes, bool withOnState, DrawPicture draw);

}  // namespace tallimer
