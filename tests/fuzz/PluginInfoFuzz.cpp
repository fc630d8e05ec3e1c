// The record a module's KORUPGInit fills in, with any bytes a module may leave in it: the host
// reads name and title within their fields only and upper-cases nothing but a to z.
#include "FuzzCheck.h"
#include "config/KORUPlugin.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

namespace {

// A field's text: up to the first NUL, the whole field when there is none.
std::string_view fieldText(const char* field, size_t width) {
    return {field, static_cast<size_t>(std::find(field, field + width, '\0') - field)};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Allocated to its exact size, so that reading past the record is reported; the path field
    // holds no NUL, so that reading into it shows in the title's length.
    auto info = std::make_unique<tpgInfo>();
    std::memset(info.get(), 0, sizeof(tpgInfo));
    std::memcpy(info->Name, "noname", 6);
    std::memcpy(info->Title, "untitled", 8);
    std::memset(info->Path, 'P', sizeof info->Path);
    std::memcpy(info.get(), data, std::min(size, offsetof(tpgInfo, Path)));

    const ModuleLabel label = ReadModuleLabel(*info);
    const std::string_view name = fieldText(info->Name, sizeof info->Name);
    const std::string_view title = fieldText(info->Title, sizeof info->Title);
    FUZZ_REQUIRE(label.title == title);
    FUZZ_REQUIRE(label.name.size() == name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        FUZZ_REQUIRE(label.name[i] == (c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    }
    // Lookups upper-case what a request names the same way, so the name the module reported
    // finds its module in any a-to-z letter case.
    std::string flipped(name);
    for (char& c : flipped)
        if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')
            c ^= 0x20;
    FUZZ_REQUIRE(UpperAZ(flipped) == label.name);
    FUZZ_REQUIRE(UpperAZ(label.name) == label.name);
    return 0;
}
