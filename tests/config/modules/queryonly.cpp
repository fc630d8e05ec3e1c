// Offers only the basic query call.
#include "TestModule.h"

KORUPG_EXPORT void KORUPGInit(int32_t param, tpgInfo* info) {
    Register(info, param, "queryonly", "Basic query only");
}
KORUPG_EXPORT void KORUPGQuery(tpgQuery* query) {
    Report("query", query->Request);
    query->Reply = webtext::MallocText(std::string("q:") + query->Request);
}
KORUPG_EXPORT void KORUPGDone(int32_t reason) {
    Report("done", "", reason);
}
