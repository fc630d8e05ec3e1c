// Fills Name and Title to their last byte, without a NUL.
#include "TestModule.h"

#include <cstring>

KORUPG_EXPORT void KORUPGInit(int32_t param, tpgInfo* info) {
    Report("init", info->Path, param);
    std::memcpy(info->Name, "abcdefghijklmnopqrstuvwxyz012345", 32);
    std::memset(info->Title, 'x', 255);
    info->Title[255] = 'y';
    info->InitResult = 5;
}
