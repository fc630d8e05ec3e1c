// Shows a visitor what the server received: their address, the query text and its form fields,
// and the request itself; its form posts back to it and is answered by name. Uses the extended
// query call, so it also sets a header line. Its only shared state is an atomic counter, so any
// number of workers may call it at once.
#include "plugins/KORUPG.h"
#include "plugins/common/WebText.h"

#include <atomic>
#include <string>
#include <string_view>

namespace {

// Long requests (uploads) are shown only in part, so that the page stays small.
constexpr size_t kShownRequestBytes = 16 * 1024;
// Of the query and the form, only this much is repeated: a module's memory for one page must not
// grow with whatever a visitor sends (escaping alone can make a text six times as long).
constexpr size_t kShownQueryBytes = 64 * 1024;

std::atomic<unsigned long> answered{0};

std::string_view RequestBody(std::string_view request) {
    const size_t blank = request.find("\r\n\r\n");
    return blank == std::string_view::npos ? std::string_view() : request.substr(blank + 4);
}

std::string FieldTable(const webtext::FormFields& fields) {
    if (fields.empty())
        return "<p>No form fields.</p>";
    std::string table = "<table border=\"1\"><tr><th>Field</th><th>Value</th></tr>";
    for (const auto& [name, value] : fields)
        table += "<tr><td>" + webtext::EscapeHtml(name) + "</td><td>" + webtext::EscapeHtml(value) +
                 "</td></tr>";
    return table + "</table>";
}

// The first `limit` bytes, escaped, and a note of what was left out.
std::string Shown(std::string_view text, size_t limit, std::string_view separator) {
    std::string shown = webtext::EscapeHtml(text.substr(0, limit));
    if (text.size() > limit)
        shown += std::string(separator) + "... " + std::to_string(text.size() - limit) +
                 " more bytes not shown";
    return shown;
}

constexpr std::string_view kForm =
    "<form method=\"post\" action=\"/echo\">"
    "<p>Name: <input name=\"name\" size=\"30\"></p>"
    "<p>Note: <textarea name=\"note\" rows=\"3\" cols=\"40\"></textarea></p>"
    "<p><input type=\"submit\" value=\"Send\"></p></form>";

} // namespace

KORUPG_EXPORT void KORUPGInit(int32_t, tpgInfo* info) {
    webtext::SetField(info->Name, "echo");
    webtext::SetField(info->Title,
                      "Echo: shows the request, the peer and the query; answers forms");
    info->InitResult = 1;
    answered = 0;
}

KORUPG_EXPORT void KORUPGQuery2(const std::string& peer, const std::string& request,
                                const std::string& query, std::string& body, std::string& header,
                                int32_t&) {
    const bool posted = request.starts_with("POST ");
    // A posted form is the request body; the query text carries it too, after any query of the
    // target itself.
    const std::string_view form = posted ? RequestBody(request) : std::string_view(query);
    const webtext::FormFields fields = webtext::ParseFormFields(form.substr(0, kShownQueryBytes));
    const std::string name = webtext::FieldValue(fields, "name");

    body = "<h2>Echo</h2>";
    if (posted && !name.empty())
        body += "<p>Hello, " + webtext::EscapeHtml(name) + "! Your form arrived.</p>";
    body += "<p>Your address: " + webtext::EscapeHtml(peer) + "</p>";
    body += "<p>Query text: <code>" + Shown(query, kShownQueryBytes, " ") + "</code></p>";
    body += FieldTable(fields);
    body +=
        "<h3>Request as received</h3><pre>" + Shown(request, kShownRequestBytes, "\n") + "</pre>";
    body += kForm;
    body += "<p>Requests answered since loading: " + std::to_string(++answered) + "</p>";
    // The page mirrors one visitor's request: no cache may hand it to anyone else.
    header += "Cache-Control: no-store\r\n";
}
