// Replies with nothing: a null Reply for "null", otherwise a large buffer holding an empty text,
// so that a buffer the host fails to free shows in the heap statistics.
#include "TestModule.h"

#include <cstdlib>
#include <cstring>

KORUPG_EXPORT void KORUPGInit(int32_t param, tpgInfo* info) {
    Register(info, param, "empty", "Empty replies");
}
KORUPG_EXPORT void KORUPGQuery(tpgQuery* query) {
    if (std::strcmp(query->Request, "null") == 0) {
        query->Reply = nullptr;
        return;
    }
    query->Reply = static_cast<char*>(std::calloc(1024 * 1024, 1));
}
