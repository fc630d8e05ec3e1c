#pragma once

#include "platform/Text.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Interpretation of the bytes a peer sends. Pure functions over bytes, so that they can be
// tested from tables and fuzzed without sockets.
namespace request {

// A header that grows this long without its blank line is refused: a worker's memory must stay
// bounded whatever a peer sends.
inline constexpr size_t kMaxHeaderBytes = 64 * 1024;
// The largest body an upload may declare. It goes to its file as it arrives, so only the free
// space of the file system limits it (phones send videos of several GiB); the ceiling keeps every
// sum of lengths and positions far from overflowing 64 bits.
inline constexpr int64_t kMaxBodyBytes = int64_t{1} << 62;
// The largest body held in memory until the request is whole (a POST's, handed to its module as
// text): a few such requests at once must not exhaust the machine's memory.
inline constexpr int64_t kMaxHeldBodyBytes = 16ll * 1024 * 1024;

enum class Arrival { Incomplete, Complete, TooLarge };

struct Completeness {
    Arrival state = Arrival::Incomplete;
    size_t headerLength = 0; // bytes before the first CR LF CR LF
    size_t bodyStart = 0;    // 1-based position of the first byte after it
};

// The request is complete at the first CR LF CR LF plus the body that its Content-Length field
// declares; a body above kMaxHeldBodyBytes makes it too large.
Completeness CheckComplete(std::string_view received);

// The body length the header declares, or nullopt when it declares none. The field is the first
// header line after the request line that starts with "Content-Length:" (the name in any letter
// case, the colon right after it); the header ends at the first CR LF CR LF. A value that is not
// a number reads as 0; one above kMaxBodyBytes as kMaxBodyBytes + 1.
std::optional<int64_t> DeclaredLength(std::string_view received);

// The value of the header field `upperName` (upper case, the colon included, e.g.
// "CONTENT-LENGTH:"): the text after the colon up to the end of the header, or nullopt when the
// header has no such field. The field is the first header line after the request line that
// starts with the name in any letter case; lines end at CR or LF, the header at the first
// CR LF CR LF.
std::optional<std::string_view> FieldValue(std::string_view received, std::string_view upperName);

// The first line of a header (ended by CR LF, CR or LF; a NUL byte ends the whole text), or
// nullopt when there is no line at all.
std::optional<std::string> RequestLine(std::string_view header);

// For a request line that begins with `method`: the target (method and the one character after
// it removed, then the text before a final "HTTP/1.x", trimmed), empty when the version token is
// missing or malformed. nullopt when the line does not begin with `method`.
std::optional<std::string> MethodTarget(std::string_view line, std::string_view method);

using platform::TrimControls;

// The extension of a request target: the text after its last "." unless a "\" or ":" follows
// that dot; at most 260 characters.
std::string FileExtension(std::string_view requestPath);

// True when a target could leave the base folder: a ".." segment between "/" or "\".
bool EscapesBase(std::string_view requestPath);

// Plug-in name and query of a target that holds a "?": the text from the second character to
// the first "?", and everything after it.
struct PluginTarget {
    std::string name;
    std::string query;
};
PluginTarget SplitPluginTarget(std::string_view requestPath);

// True when the header declares a "Transfer-Encoding:" line (any letter case). A body sent that
// way has no length known in advance.
bool DeclaresTransferEncoding(std::string_view header);

// True when the text holds a byte below 0x20 or 0x7F: such a name would carry terminal control
// sequences into every listing that shows it.
bool HasControlBytes(std::string_view text);

// The text with every byte below 0x20 other than TAB, and 0x7F, written as "\xNN", so that a
// log line cannot act on the terminal that shows it.
std::string EscapeControls(std::string_view text);

} // namespace request
