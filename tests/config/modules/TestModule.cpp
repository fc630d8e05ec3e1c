// The one source of every test module; each build picks its exports and behaviour with
// definitions (see CMakeLists.txt). Calls are reported to the test through KoruTestEvent,
// exported by the test executable (weak here, so the modules load into any host), and "fini"
// when the library is really unmapped.
#include "plugins/KORUPG.h"
#include "plugins/common/WebText.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern "C" __attribute__((weak, visibility("default"))) void
KoruTestEvent(const char* module, const char* event, const char* text, int32_t value);

namespace {

void Report(const char* event, const char* text = "", int32_t value = 0) {
    if (KoruTestEvent != nullptr)
        KoruTestEvent(MODULE_ID, event, text, value);
}

__attribute__((destructor)) void ReportUnloaded() {
    Report("fini");
}

// Defined in the module: its type information goes away with the library.
struct ModuleFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace

#ifndef INIT_RESULT
#define INIT_RESULT 1
#endif

#ifndef NO_INIT
KORUPG_EXPORT void KORUPGInit(int32_t param, tpgInfo* info) {
    Report("init", info->Path, param);
#ifdef THROW_IN_INIT
    throw ModuleFault("init refused");
#endif
#ifdef NAME
    webtext::SetField(info->Name, NAME);
    webtext::SetField(info->Title, NAME " title");
#endif
#ifdef FULL_FIELDS
    std::memcpy(info->Name, "abcdefghijklmnopqrstuvwxyz012345", 32);
    std::memset(info->Title, 'x', 255);
    info->Title[255] = 'y';
#endif
    info->InitResult = INIT_RESULT;
}
#endif

#ifdef QUERY
KORUPG_EXPORT void KORUPGQuery(tpgQuery* query) {
    Report("query", query->Request);
#if defined(THROW_IN_QUERY)
    throw ModuleFault("basic query refused");
#elif defined(EMPTY_REPLY)
    // A large buffer holding an empty text, so that one the host fails to free shows plainly.
    query->Reply = std::strcmp(query->Request, "null") == 0
                       ? nullptr
                       : static_cast<char*>(std::calloc(1024 * 1024, 1));
#else
    query->Reply = webtext::MallocText(std::string(QUERY) + query->Request);
#endif
}
#endif

#ifdef DEEP_STACK
#include <regex>
namespace {
// Ordinary code that needs an ordinary thread's stack: a few megabytes of frames.
__attribute__((noinline)) int Descend(int depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    return depth == 0 ? frame[0] : Descend(depth - 1) + frame[0] - static_cast<char>(depth);
}
} // namespace

KORUPG_EXPORT void KORUPGQuery2(const std::string&, const std::string&, const std::string& query,
                                std::string& body, std::string&, int32_t&) {
    const bool matched = std::regex_match(std::string(1000, 'a'), std::regex("(a|b)*"));
    body = (matched ? "matched " : "no match ") + std::to_string(Descend(std::stoi(query)));
}
#elif defined(QUERY2)
KORUPG_EXPORT void KORUPGQuery2(const std::string& peer, const std::string& request,
                                const std::string& query, std::string& body, std::string& header,
                                int32_t& status) {
    Report("query2", query.c_str());
    if (query == "throw")
        throw ModuleFault("extended query refused");
    if (query == "throw-int")
        throw 7;
    body = "peer=" + peer + ";request=" + request + ";query=" + query + ";body=" + body;
    header += "X-Shop: 1\r\n";
    status = 201;
}
#endif

#ifndef NO_DONE
KORUPG_EXPORT void KORUPGDone(int32_t reason) {
    Report("done", "", reason);
#ifdef THROW_IN_DONE
    throw ModuleFault("done refused");
#endif
}
#endif
