#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// How the socket object reads the text of its Port property, in one place so that what the
// window tells the user about a port text is what the socket then does with it.
namespace porttext {

// The text the socket looks at: control characters and blanks at either end removed.
std::string_view Trimmed(std::string_view text);

// A trimmed text that begins with a digit is read as a number, anything else as a service name.
constexpr bool IsNumber(std::string_view trimmed) {
    return !trimmed.empty() && trimmed.front() >= '0' && trimmed.front() <= '9';
}

// Leading spaces, then decimal digits that must make a number from 0 to 65535; whatever follows
// the digits is not looked at. A larger number names no port, and its low bits would quietly name
// another.
std::optional<uint16_t> ParseNumber(std::string_view text);

// How many characters of `trimmed` the number takes: the rest is ignored.
size_t DigitsAtStart(std::string_view trimmed);

} // namespace porttext
