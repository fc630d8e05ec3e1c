#pragma once

#include <cstdint>
#include <functional>
#include <string>

// A request answered by a loaded module: the module's page between the page header and footer,
// or the error page when the module is missing or fails to run.
namespace modulecall {

// What a call needs of the loaded modules; tests give modules of their own.
class Modules {
public:
    virtual ~Modules() = default;
    virtual bool Has(const std::string& name) = 0;
    // Runs the module, which may set the body, extra header lines and the status; below 0 when it
    // could not run (then `query` is as it was). A module with only the basic query may write
    // into the buffer of `query`. May throw when the module raises.
    virtual int Run(const std::string& name, const std::string& peer, const std::string& request,
                    std::string& query, std::string& body, std::string& header,
                    int32_t& status) = 0;
};

// The modules the server has loaded.
Modules& LoadedModules();

// A POST's body is in `request` and in `query`, and nowhere else on its way to the module.
struct Call {
    std::string module;
    std::string query;
    std::string peer;           // the caller's dotted address
    const std::string& request; // the whole request as received
    // The target before its first "?": the error page names requestPath + "?" + query.
    std::string requestPath;
    // Read when the module has run, so that an edit made meanwhile applies.
    std::function<std::string()> pageHeader;
    std::function<std::string()> pageFooter;
};

// The whole reply to send. `beforeRun`, when set, runs between finding the module and running it.
// The query goes to the module as it is (a basic module may write into it).
std::string Reply(Modules& modules, Call call, const std::function<void()>& beforeRun = {});

} // namespace modulecall
