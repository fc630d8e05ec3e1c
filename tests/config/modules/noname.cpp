// Registers without touching the name and the title.
#include "TestModule.h"

KORUPG_EXPORT void KORUPGInit(int32_t param, tpgInfo* info) {
    Register(info, param, nullptr, nullptr);
}
KORUPG_EXPORT void KORUPGQuery(tpgQuery* query) {
    Report("query", query->Request);
    query->Reply = webtext::MallocText(std::string("noname:") + query->Request);
}
KORUPG_EXPORT void KORUPGDone(int32_t reason) {
    Report("done", "", reason);
}
