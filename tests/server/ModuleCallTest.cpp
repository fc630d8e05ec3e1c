// A module call with modules of the test's own: the page around the module's body, and the error
// pages when the module is missing or does not run.
#include "server/ModuleCall.h"
#include "server/Reply.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

class FakeModules : public modulecall::Modules {
public:
    bool Has(const std::string& name) override {
        asked.push_back(name);
        return name == "SHOP" || name == "BROKEN" || name == "THROWS";
    }
    int Run(const std::string& name, const std::string& peer, const std::string& request,
            std::string& query, std::string& body, std::string& header, int32_t& status) override {
        ran.push_back(name + "|" + peer + "|" + request + "|" + query);
        if (name == "THROWS")
            throw std::runtime_error("module raised");
        if (name == "BROKEN")
            return -1;
        body = "<p>" + query + "</p>";
        header = "X-Shop: yes\r\n";
        status = 201;
        return 0;
    }
    std::vector<std::string> asked;
    std::vector<std::string> ran;
};

// `target` is the whole target, split at its first "?" as the router splits it.
modulecall::Call call(const std::string& module, const std::string& request,
                      const std::string& target) {
    const size_t mark = target.find('?');
    return {module,
            target.substr(mark + 1),
            "10.0.0.7",
            request,
            target.substr(0, mark),
            [] { return std::string("<html>"); },
            [] { return std::string("</html>"); }};
}

} // namespace

TEST(ModuleCall, TheModulesPageGoesBetweenThePageHeaderAndFooter) {
    FakeModules modules;
    const std::string request = "GET /SHOP?a=1 HTTP/1.0\r\n\r\n";
    int before = 0;
    EXPECT_EQ(modulecall::Reply(modules, call("SHOP", request, "/SHOP?a=1"), [&] { ++before; }),
              reply::PluginReply(201, "X-Shop: yes\r\n", "<html><p>a=1</p></html>"));
    EXPECT_EQ(before, 1);
    EXPECT_EQ(modules.ran, std::vector<std::string>{"SHOP|10.0.0.7|" + request + "|a=1"});
}

TEST(ModuleCall, MissingOrFailingModulesGetTheirErrorPages) {
    FakeModules modules;
    const std::string request = "GET /X HTTP/1.0\r\n\r\n";
    int before = 0;
    EXPECT_EQ(modulecall::Reply(modules, call("NONE", request, "/NONE?a=1"), [&] { ++before; }),
              reply::PageReply(500, "Cannot create temporary file. CGI fail."));
    EXPECT_EQ(before, 0) << "nothing runs for a module that is not there";
    EXPECT_TRUE(modules.ran.empty());

    EXPECT_EQ(modulecall::Reply(modules, call("BROKEN", request, "/BROKEN?<b>")),
              reply::PageReply(405, "Cannot run plugin (/BROKEN?&lt;b&gt;)"))
        << "the target is escaped in the page";

    EXPECT_THROW(modulecall::Reply(modules, call("THROWS", request, "/THROWS?")),
                 std::runtime_error)
        << "a module that raises ends the request without a page";
}
