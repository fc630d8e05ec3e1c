// Registers but offers no query call.
#include "TestModule.h"

KORUPG_EXPORT void KORUPGInit(int32_t param, tpgInfo* info) {
    Register(info, param, "neither", "No query call");
}
KORUPG_EXPORT void KORUPGDone(int32_t reason) {
    Report("done", "", reason);
}
