#include "platform/SystemLocale.h"

#include <QLocale>

namespace tallimer {

Locale SystemLocale() {
    QLocale q;
    Locale l;
    l.decimalSeparator = q.decimalPoint().toStdString();
    for (int m = 1; m <= 12; ++m)
        l.shortMonths[m - 1] = q.monthName(m, QLocale::ShortFormat).toStdString();
    return l;
}

}  // namespace tallimer
