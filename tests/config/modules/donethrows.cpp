// Raises inside KORUPGDone.
#include "TestModule.h"

#include <stdexcept>

namespace {
struct DoneFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};
} // namespace

KORUPG_EXPORT void KORUPGInit(int32_t param, tpgInfo* info) {
    Register(info, param, "donethrows", "Raises in done");
}
KORUPG_EXPORT void KORUPGDone(int32_t reason) {
    Report("done", "", reason);
    throw DoneFault("done refused");
}
