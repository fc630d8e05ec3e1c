// Shared by the test modules: they report every call to the test program through KoruTestEvent
// (exported by the test executable, weak here so that the modules also load into any host), and
// report "fini" when the library is really unmapped.
#pragma once

#include "plugins/KORUPG.h"
#include "plugins/common/WebText.h"

extern "C" __attribute__((weak, visibility("default"))) void
KoruTestEvent(const char* module, const char* event, const char* text, int32_t value);

inline void Report(const char* event, const char* text = "", int32_t value = 0) {
    if (KoruTestEvent != nullptr)
        KoruTestEvent(MODULE_ID, event, text, value);
}

__attribute__((destructor)) static void ReportUnloaded() {
    Report("fini");
}

inline void Register(tpgInfo* info, int32_t param, const char* name, const char* title) {
    Report("init", info->Path, param);
    if (name != nullptr)
        webtext::SetField(info->Name, name);
    if (title != nullptr)
        webtext::SetField(info->Title, title);
    info->InitResult = 1;
}
