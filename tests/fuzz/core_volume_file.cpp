// The volume tariffs' reader and the typed volumes on any bytes. What is read writes out and
// reads back the same; a volume typed is one the text of the statistics can show. A process's
// cgroup file read for its application's name is taken on the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "metering/AppVolume.h"
#include "metering/Volume.h"

using namespace tallimer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const VolumeBook book = ParseVolumeBook(bytes);
    const std::string once = VolumeBookBytes(book);
    if (ParseVolumeBook(once) != book || VolumeBookBytes(ParseVolumeBook(once)) != once)
        std::abort();
    if (const auto volume = ParseVolumeText(bytes)) {
        if (VolumeText(*volume, Locale::french()).empty()) std::abort();
        if (!VolumeRefusal(bytes).empty()) std::abort();
    }
    if (ParsePricePerMo(bytes) && !PricePerMoRefusal(bytes).empty()) std::abort();
    if (AppIdOfCgroup(bytes).size() > bytes.size()) std::abort();
    return 0;
}
