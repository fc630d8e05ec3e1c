#include "net/PortText.h"

#include "platform/Text.h"

namespace porttext {

std::string_view Trimmed(std::string_view text) {
    return platform::TrimControls(text);
}

std::optional<uint16_t> ParseNumber(std::string_view text) {
    constexpr int32_t kHighest = 65535;
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    int32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kHighest)
            return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

size_t DigitsAtStart(std::string_view trimmed) {
    size_t i = 0;
    while (i < trimmed.size() && trimmed[i] >= '0' && trimmed[i] <= '9')
        ++i;
    return i;
}

} // namespace porttext
