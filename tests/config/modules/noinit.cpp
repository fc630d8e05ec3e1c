// Lacks KORUPGInit: it must be released again and never called.
#include "TestModule.h"

KORUPG_EXPORT void KORUPGQuery(tpgQuery* query) {
    Report("query", query->Request);
}
KORUPG_EXPORT void KORUPGDone(int32_t reason) {
    Report("done", "", reason);
}
