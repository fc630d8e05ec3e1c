#include "server/ModuleCall.h"

#include "config/KORUPlugin.h"
#include "platform/WorkerPool.h"
#include "server/Reply.h"

namespace modulecall {
namespace {

class Loaded : public Modules {
public:
    bool Has(const std::string& name) override { return FindPlugin(name) >= 0; }
    int Run(const std::string& name, const std::string& peer, const std::string& request,
            std::string& query, std::string& body, std::string& header, int32_t& status) override {
        return RunPlugin(name, peer, request, query, body, header, status);
    }
};

} // namespace

Modules& LoadedModules() {
    // Stateless: the module list it reaches is guarded by its own unit.
    static Loaded modules;
    return modules;
}

std::string Reply(Modules& modules, Call call, const std::function<void()>& beforeRun) {
    if (!modules.Has(call.module))
        return reply::PageReply(500, "Cannot create temporary file. CGI fail.");
    if (beforeRun)
        beforeRun();
    int32_t status = 200;
    std::string header;
    std::string body;
    // A module may take its time: other requests need not wait for it.
    const platform::BlockingScope blocking;
    if (modules.Run(call.module, call.peer, call.request, call.query, body, header, status) < 0)
        return reply::PageReply(405, "Cannot run plugin (" +
                                         reply::EscapeHtml(call.requestPath + "?" + call.query) +
                                         ")");
    return reply::PluginReply(status, header, call.pageHeader() + body + call.pageFooter());
}

} // namespace modulecall
