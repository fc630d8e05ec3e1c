// Raises inside its only query call.
#include "TestModule.h"

#include <stdexcept>

namespace {
struct QueryFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};
} // namespace

KORUPG_EXPORT void KORUPGInit(int32_t param, tpgInfo* info) {
    Register(info, param, "querythrows", "Raises in queries");
}
KORUPG_EXPORT void KORUPGQuery(tpgQuery* query) {
    Report("query", query->Request);
    throw QueryFault("basic query refused");
}
KORUPG_EXPORT void KORUPGDone(int32_t reason) {
    Report("done", "", reason);
}
