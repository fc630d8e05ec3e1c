// A plug-in module whose calls take a while ("nap=<ms>"), so that the server can be stopped
// while calls are running in it. It counts the calls running at each moment and tells the test,
// through KoruLoadEvent (exported by the test executable, weak here), how many were still running
// when it was shut down and when its library was really unmapped: both must be 0.
#include "plugins/KORUPG.h"
#include "plugins/common/WebText.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

extern "C" __attribute__((weak, visibility("default"))) void KoruLoadEvent(const char* event,
                                                                           int value);

namespace {

std::atomic<int> running{0};

void Report(const char* event, int value) {
    if (KoruLoadEvent != nullptr)
        KoruLoadEvent(event, value);
}

__attribute__((destructor)) void ReportUnmapped() {
    Report("unmapped", running.load());
}

} // namespace

KORUPG_EXPORT void KORUPGInit(int32_t, tpgInfo* info) {
    webtext::SetField(info->Name, "nap");
    webtext::SetField(info->Title, "Nap: answers after the time asked for");
    info->InitResult = 1;
    Report("init", running.load());
}

KORUPG_EXPORT void KORUPGQuery2(const std::string&, const std::string&, const std::string& query,
                                std::string& body, std::string&, int32_t&) {
    ++running;
    const int ms = query.starts_with("nap=") ? std::atoi(query.c_str() + 4) : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    body = "napped " + std::to_string(ms);
    Report("call", 0);
    --running;
}

KORUPG_EXPORT void KORUPGDone(int32_t) {
    Report("done", running.load());
}
