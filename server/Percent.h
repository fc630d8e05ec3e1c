#pragma once

#include <string>
#include <string_view>

// The "%XX" form of bytes in a target, as browsers write names with blanks and accents. Pure
// functions over bytes: names are bytes here, used as they are once decoded.
namespace percent {

// Every "%XX" (either case of hex digit) replaced by its byte; a "%" not followed by two hex
// digits stays as it is.
std::string Decode(std::string_view text);

// True when Decode would change the text.
bool HasEscapes(std::string_view text);

// The text with every byte that is not unreserved in a path ("A-Z a-z 0-9 - . _ ~" and "/")
// written as "%XX" (upper-case hex), so that a link built from a file name always reaches it.
std::string EncodePath(std::string_view text);

} // namespace percent
