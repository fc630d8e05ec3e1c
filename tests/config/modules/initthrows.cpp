// Raises inside KORUPGInit.
#include "TestModule.h"

#include <stdexcept>

namespace {
struct InitFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};
} // namespace

KORUPG_EXPORT void KORUPGInit(int32_t param, tpgInfo* info) {
    Report("init", info->Path, param);
    throw InitFault("init refused");
}
KORUPG_EXPORT void KORUPGDone(int32_t reason) {
    Report("done", "", reason);
}
