// Leaves InitResult at 0: it must be released again and never called.
#include "TestModule.h"

KORUPG_EXPORT void KORUPGInit(int32_t param, tpgInfo* info) {
    Report("init", info->Path, param);
    webtext::SetField(info->Name, "declines");
}
KORUPG_EXPORT void KORUPGQuery(tpgQuery* query) {
    Report("query", query->Request);
}
KORUPG_EXPORT void KORUPGDone(int32_t reason) {
    Report("done", "", reason);
}
