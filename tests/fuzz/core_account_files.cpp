// The account-file and state-file readers on any bytes, and the file-name mapping on any
// name. Whatever is read must write out and read back to the same text.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "accounts/AccountFiles.h"

using namespace tallimer;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);

    Account a;
    ReadAccount(bytes, a);
    for (float v : {a.periodCost, a.pricePerSecond, a.offPeakPrice, a.creditPrice, a.packagePrice})
        Check(std::isfinite(v));
    Check(a.nextInvoice == std::trunc(a.nextInvoice));
    // The first write rounds floats to 6 digits; from there the text is stable.
    std::string once = WriteAccount(a);
    Account b;
    ReadAccount(once, b);
    std::string twice = WriteAccount(b);
    Check(once == twice);
    Account c;
    ReadAccount(twice, c);
    Check(WriteAccount(c) == twice && c.nextInvoice == b.nextInvoice);

    OverallState s;
    ReadState(bytes, s);
    Check(std::isfinite(s.overallCost));
    std::string state = WriteState(s);
    OverallState t;
    ReadState(state, t);
    Check(WriteState(t) == state);

    std::string file = AccountFileName(bytes);
    Check(file.find('/') == std::string::npos && file.find('\0') == std::string::npos);
    Check(file.size() <= 255);
    std::string name;
    Check(AccountNameFromFileName(file, name));
    // A name too long for a file name is shortened; its side file gives it back.
    const std::string whole = FileStem(bytes, std::string::npos);
    if (whole.size() + 4 <= 255) Check(file == whole + ".fai" && name == bytes);
    return 0;
}
