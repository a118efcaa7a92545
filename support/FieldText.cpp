#include "support/FieldText.h"

namespace tallimer {

std::vector<std::string_view> SplitFields(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

std::string PercentEscaped(std::string_view text, bool (*escaped)(unsigned char)) {
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (!escaped(u)) {
            out += c;
            continue;
        }
        out += '%';
        out += hex[u >> 4];
        out += hex[u & 15];
    }
    return out;
}

std::optional<std::string> PercentUnescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        unsigned v = 0;
        if (i + 3 > text.size()) return std::nullopt;
        auto r = std::from_chars(text.data() + i + 1, text.data() + i + 3, v, 16);
        if (r.ec != std::errc() || r.ptr != text.data() + i + 3) return std::nullopt;
        out += static_cast<char>(v);
        i += 2;
    }
    return out;
}

}  // namespace tallimer
