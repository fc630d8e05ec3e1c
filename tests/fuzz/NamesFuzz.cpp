// A target as any client might send it, percent escapes and all: whatever the bytes, every name
// the router hands on for reading or storing stays inside the base folder and carries no control
// byte once decoded, and a name written into a link always decodes back to itself.
#include "FuzzCheck.h"
#include "server/Percent.h"
#include "server/Router.h"

#include <string>
#include <string_view>

namespace {

constexpr std::string_view kBase = "/srv/base/";

// Worked out apart from the server's own segment walk, so that a slip there cannot hide here.
bool HasDotDotSegment(std::string_view path) {
    return ("/" + std::string(path) + "/").find("/../") != std::string::npos;
}

bool HasControl(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

// A name the worker may open: below the base, no step up, and no control byte where decoding
// could have made one.
void RequireInside(const std::string& name, bool decoded) {
    if (name.empty())
        return;
    FUZZ_REQUIRE(name.starts_with(kBase));
    FUZZ_REQUIRE(name.find('\\') == std::string::npos);
    FUZZ_REQUIRE(!HasDotDotSegment(std::string_view(name).substr(kBase.size())));
    if (decoded)
        FUZZ_REQUIRE(!HasControl(name));
}

void Route(const std::string& header) {
    const route::Decision d = route::Decide({header, {}, "index.htm", kBase});
    const bool reads =
        d.kind == route::Kind::File || (d.kind == route::Kind::Module && d.fileFallback);
    if (reads) {
        RequireInside(d.fileName, false);
        RequireInside(d.decodedFileName, true);
    }
    if (d.kind == route::Kind::Upload)
        RequireInside(d.fileName, true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string target(reinterpret_cast<const char*>(data), size);
    Route("GET " + target + " HTTP/1.0");
    Route("PUT " + target + " HTTP/1.0\r\nContent-Length: 0");

    const std::string encoded = percent::EncodePath(target);
    FUZZ_REQUIRE(percent::Decode(encoded) == target);
    for (const char c : encoded)
        FUZZ_REQUIRE(c > ' ' && c < 0x7F && c != '"' && c != '<' && c != '>' && c != '&' &&
                     c != '?' && c != '#');
    FUZZ_REQUIRE(percent::HasEscapes(target) == (percent::Decode(target) != target));
    return 0;
}
