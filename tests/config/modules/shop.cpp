// Offers both query calls; the extended one reports everything it was given, sets all three
// results, and raises on request. Its name holds a letter outside a to z.
#include "TestModule.h"

#include <stdexcept>

namespace {
// Defined in the module: its type information goes away with the library.
struct ShopFault : std::runtime_error {
    using std::runtime_error::runtime_error;
};
} // namespace

KORUPG_EXPORT void KORUPGInit(int32_t param, tpgInfo* info) {
    Register(info, param, "Shop_\xC3\xA4", "Test shop");
}
KORUPG_EXPORT void KORUPGQuery(tpgQuery* query) {
    Report("query", query->Request);
    query->Reply = webtext::MallocText(std::string("basic:") + query->Request);
}
KORUPG_EXPORT void KORUPGQuery2(const std::string& peer, const std::string& request,
                                const std::string& query, std::string& body, std::string& header,
                                int32_t& status) {
    Report("query2", query.c_str());
    if (query == "throw")
        throw ShopFault("shop refused");
    if (query == "throw-int")
        throw 7;
    body = "peer=" + peer + ";request=" + request + ";query=" + query + ";body=" + body;
    header += "X-Shop: 1\r\n";
    status = 201;
}
KORUPG_EXPORT void KORUPGDone(int32_t reason) {
    Report("done", "", reason);
}
