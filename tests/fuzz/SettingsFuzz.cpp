// The two readers of stored setting texts: TrimToIntDef against a reference built on
// std::from_chars, and the "CBoxes" flag rule with its writer.
#include "FuzzCheck.h"
#include "config/HomeTool.h"
#include "config/ServerSettings.h"

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace {

// Optional sign, then decimal digits within the signed 32-bit range, or "$" and hexadecimal
// digits of at most 32 bits (taken as a bit pattern, a sign negating it modulo 2^32).
std::optional<int32_t> referenceInt(std::string_view text) {
    while (!text.empty() && fuzzcheck::IsControl(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && fuzzcheck::IsControl(text.back()))
        text.remove_suffix(1);
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+'))
        text.remove_prefix(1);
    const bool hex = text.starts_with('$');
    if (hex)
        text.remove_prefix(1);
    uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, hex ? 16 : 10);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    if (hex) {
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
        const auto bits = static_cast<uint32_t>(value);
        return static_cast<int32_t>(negative ? 0u - bits : bits);
    }
    if (value > (negative ? 0x80000000ull : 0x7FFFFFFFull))
        return std::nullopt;
    return static_cast<int32_t>(negative ? -static_cast<int64_t>(value)
                                         : static_cast<int64_t>(value));
}

void checkTrimToIntDef(std::string_view text) {
    const std::optional<int32_t> expected = referenceInt(text);
    const int32_t a = TrimToIntDef(text, 7);
    const int32_t b = TrimToIntDef(text, -9);
    FUZZ_REQUIRE(a == expected.value_or(7));
    FUZZ_REQUIRE(b == expected.value_or(-9));
    FUZZ_REQUIRE(TrimToIntDef(QString::fromLatin1(text.data(), qsizetype(text.size())), 7) == a);
    FUZZ_REQUIRE(TrimToIntDef(" \t" + std::string(text) + "\r\n", 7) == a);
}

struct Flags {
    bool showPeers, autoClose, logEnabled, hideOnStartup;
    bool operator==(const Flags&) const = default;
};

Flags flagsOf(const ServerSettings& s) {
    return {s.ShowPeers, s.AutoClose, s.LogEnabled, s.HideOnStartup};
}

Flags readFlags(const QString& boxes, bool before) {
    ServerSettings s;
    s.ShowPeers = s.AutoClose = s.LogEnabled = s.HideOnStartup = before;
    ReadFlagBoxes(boxes, s);
    return flagsOf(s);
}

void checkFlagBoxes(const QString& boxes) {
    // Every flag comes from the text, whatever the record held before.
    const Flags flags = readFlags(boxes, false);
    FUZZ_REQUIRE(readFlags(boxes, true) == flags);
    const QString padded = boxes.size() < 4 ? boxes + QStringLiteral("1111") : boxes;
    const auto on = [&padded](int i) { return padded[i] == QLatin1Char('1'); };
    FUZZ_REQUIRE(flags == (Flags{on(0), on(1), on(2), on(3)}));

    ServerSettings s;
    ReadFlagBoxes(boxes, s);
    const QString written = FlagBoxes(s);
    FUZZ_REQUIRE(written.size() == 4);
    for (const QChar c : written)
        FUZZ_REQUIRE(c == QLatin1Char('0') || c == QLatin1Char('1'));
    FUZZ_REQUIRE(readFlags(written, !flags.showPeers) == flags);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    checkTrimToIntDef(text);
    checkFlagBoxes(QString::fromUtf8(text.data(), qsizetype(text.size())));
    return 0;
}
