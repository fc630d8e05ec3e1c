// The interface between the KORU server and a plug-in module. A module is a shared library
// (built with -fPIC -shared against the same C++ standard library as the server) that exports
// some of the four functions below by their exact names; any of them may be missing. This header
// needs nothing but the standard library.
//
// Order of calls per module: KORUPGInit once, right after loading; then any number of query calls,
// several at the same time on different threads; then KORUPGDone once, when the server stops or
// ends; then the library is released. The server never releases a module while a call into it is
// running.
//
// Query calls run on the server's worker threads, each with the platform's ordinary 8 MiB stack.
// A module runs inside the server's process: a module that crashes (a bad pointer, a stack
// overflow, an abort) ends the whole program, and every connection with it. An exception that
// leaves a query call only ends that request, without a reply; one that leaves KORUPGInit has
// the module skipped.
#pragma once

#include <cstdint>
#include <string>

// Marks one of the four exports; modules may build with hidden visibility for everything else.
#define KORUPG_EXPORT extern "C" __attribute__((visibility("default")))

#pragma pack(push, 1)
// Filled by the server before KORUPGInit, answered by the module in the same record.
struct tpgInfo {
    // 0 on entry; set it above 0 to be registered, anything else has the module released at once.
    int32_t InitResult;
    // "noname" on entry; the name that requests use ("/name?query"), matched without regard to
    // the case of a to z. NUL-terminated unless all 32 bytes are used.
    char Name[32];
    // "untitled" on entry; one line shown in the server's list of modules. NUL-terminated unless
    // all 256 bytes are used.
    char Title[256];
    // The full path of the module file, NUL-terminated. Read it, do not write it.
    char Path[256];
};
#pragma pack(pop)
static_assert(sizeof(tpgInfo) == 548, "tpgInfo is a fixed binary record");

// Handed to KORUPGQuery.
struct tpgQuery {
    // The query text, NUL-terminated. Owned by the server and valid only during the call; the
    // module may write into it, up to its NUL.
    char* Request;
    // The module's reply text, NUL-terminated. Always set it: allocate it with malloc(); the
    // server releases it with free(). Left null, the reply is empty.
    char* Reply;
};
static_assert(sizeof(tpgQuery) == 2 * sizeof(void*), "tpgQuery holds two addresses");

// The first argument of KORUPGInit: 16384 when the server loads its modules.
inline constexpr int32_t KORUPG_INIT_PARAM = 16384;

// The reason handed to KORUPGDone.
inline constexpr int32_t KORUPG_DONE_SERVER_STOPPED = 2;
inline constexpr int32_t KORUPG_DONE_PROGRAM_ENDS = 3;

// Called once on the server's main thread with a record the server owns; valid only during the
// call.
KORUPG_EXPORT void KORUPGInit(int32_t param, tpgInfo* info);

// The basic query call, used when the module lacks KORUPGQuery2. Called on worker threads,
// several at once. The reply becomes the page body.
KORUPG_EXPORT void KORUPGQuery(tpgQuery* query);

// The extended query call, on worker threads, several at once. The inputs are the client's IPv4
// address in dotted form, the whole request as received (header, blank line, body) and the text
// after the first "?" of the target, undecoded (for a POST the request body follows a further
// "?"). `body` (the page content) and `header` (extra header lines, each ending in CR LF) start
// empty, `status` starts at 200; the module may set all three. The strings belong to the server;
// assigning to them uses the shared C++ library's allocator, which is why such a module must be
// built against the server's C++ standard library.
KORUPG_EXPORT void KORUPGQuery2(const std::string& peer, const std::string& request,
                                const std::string& query, std::string& body, std::string& header,
                                int32_t& status);

// Called once on the server's main thread after the last query call has returned, with
// KORUPG_DONE_SERVER_STOPPED or KORUPG_DONE_PROGRAM_ENDS.
KORUPG_EXPORT void KORUPGDone(int32_t reason);
