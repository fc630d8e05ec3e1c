// Built twice: both copies report the name "twin" and answer with their own id.
#include "TestModule.h"

KORUPG_EXPORT void KORUPGInit(int32_t param, tpgInfo* info) {
    Register(info, param, "twin", MODULE_ID);
}
KORUPG_EXPORT void KORUPGQuery(tpgQuery* query) {
    Report("query", query->Request);
    query->Reply = webtext::MallocText(MODULE_ID);
}
KORUPG_EXPORT void KORUPGDone(int32_t reason) {
    Report("done", "", reason);
}
