#pragma once
// The fields of the program's own line files and messages (alertes.inf, volume.inf, the
// hand-over's state): C-locale numbers, fields cut at a separator, and %XX for the bytes a
// field cannot hold. The system's own files keep their own rules (accounts/AccountFiles).
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallimer {

// The shortest C-locale text that reads back as the same value.
template <typename T>
std::string NumberField(T v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// The whole text as a number; out is left as it was when the text is not one.
template <typename T>
bool ReadField(std::string_view text, T& out) {
    T v{};
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
    out = v;
    return true;
}

// The pieces between separators; an empty text is one empty piece.
std::vector<std::string_view> SplitFields(std::string_view text, char separator);

// Every byte `escaped` picks written as %XX (upper-case hexadecimal), the rest as it is.
std::string PercentEscaped(std::string_view text, bool (*escaped)(unsigned char));
// The bytes again; nothing when a % is not followed by two hexadecimal digits.
std::optional<std::string> PercentUnescaped(std::string_view text);

}  // namespace tallimer
