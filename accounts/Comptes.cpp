#include "accounts/Comptes.h"

namespace tallimer {

namespace {

bool Weekend(const CalendarReading& r) {
    return r.dayOfWeek == 1 || r.dayOfWeek == 7;
}

}  // namespace

bool InPackageHours(const Account& account, const CalendarReading& r) {
    switch (account.packageType) {
        case 0:
            return true;
        case 1:
            return r.hour < 8 || r.hour > 18 || Weekend(r);  // night from 19:00
        case 2:
            return Weekend(r);
        default:
            return false;
    }
}

bool InOffPeakHours(const Account& account, const CalendarReading& r) {
    switch (account.reductionType) {
        case 0:
            return r.hour < 8 || r.hour > 19 || Weekend(r);  // evening from 20:00
        case 1:
            return Weekend(r);
        default:
            return false;
    }
}

}  // namespace tallimer
