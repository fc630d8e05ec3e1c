// A small calculator over the basic query call: /calc?a=2&b=3&op=add answers "2 + 3 = 5".
// Without a complete query it shows its form. It keeps no state, so any number of workers may
// call it at once.
#include "plugins/KORUPG.h"
#include "plugins/common/WebText.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

namespace {

struct Operation {
    std::string_view name;
    std::string_view symbol;
};

constexpr Operation kOperations[] = {{"add", "+"}, {"sub", "-"}, {"mul", "*"}, {"div", "/"}};

const Operation* FindOperation(std::string_view op) {
    for (const Operation& operation : kOperations)
        if (op == operation.name || op == operation.symbol)
            return &operation;
    return nullptr;
}

// from_chars, unlike strtod, ignores the process locale, which the server sets from the desktop.
std::optional<double> ParseNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string FormatNumber(double value) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return error == std::errc() ? std::string(buffer, end) : std::string("?");
}

std::string Form(const std::string& a, const std::string& b, std::string_view op) {
    std::string form = "<form method=\"get\" action=\"/calc\">"
                       "<input name=\"a\" size=\"10\" value=\"" +
                       webtext::EscapeHtml(a) + "\"> <select name=\"op\">";
    for (const Operation& operation : kOperations) {
        form += "<option value=\"" + std::string(operation.name) + "\"";
        if (operation.name == op)
            form += " selected";
        form += ">" + webtext::EscapeHtml(operation.symbol) + "</option>";
    }
    return form + "</select> <input name=\"b\" size=\"10\" value=\"" + webtext::EscapeHtml(b) +
           "\"> <input type=\"submit\" value=\"=\"></form>";
}

std::string Calculate(const std::string& a, const std::string& b, const Operation& operation) {
    const std::optional<double> x = ParseNumber(a);
    const std::optional<double> y = ParseNumber(b);
    if (!x || !y)
        return "Both a and b must be numbers.";
    if (operation.name == "div" && *y == 0)
        return "Division by zero.";
    double result = 0;
    if (operation.name == "add")
        result = *x + *y;
    else if (operation.name == "sub")
        result = *x - *y;
    else if (operation.name == "mul")
        result = *x * *y;
    else
        result = *x / *y;
    if (!std::isfinite(result))
        return "The result is out of range.";
    return FormatNumber(*x) + " " + std::string(operation.symbol) + " " + FormatNumber(*y) + " = " +
           FormatNumber(result);
}

std::string Page(std::string_view query) {
    const webtext::FormFields fields = webtext::ParseFormFields(query);
    const std::string a = webtext::FieldValue(fields, "a");
    const std::string b = webtext::FieldValue(fields, "b");
    const std::string op = webtext::FieldValue(fields, "op", "add");
    std::string page = "<h2>Calculator</h2>";
    const Operation* operation = FindOperation(op);
    if (operation == nullptr)
        page += "<p>Unknown operation. Use add, sub, mul or div.</p>";
    else if (!a.empty() || !b.empty())
        page += "<p>" + webtext::EscapeHtml(Calculate(a, b, *operation)) + "</p>";
    return page + Form(a, b, operation != nullptr ? operation->name : "add");
}

} // namespace

KORUPG_EXPORT void KORUPGInit(int32_t, tpgInfo* info) {
    webtext::SetField(info->Name, "calc");
    webtext::SetField(info->Title, "Calculator: /calc?a=2&b=3&op=add (add, sub, mul, div)");
    info->InitResult = 1;
}

KORUPG_EXPORT void KORUPGQuery(tpgQuery* query) {
    // Nothing may escape into the server's worker: a page that cannot be built is an empty one.
    try {
        query->Reply = webtext::MallocText(Page(query->Request));
    } catch (...) {
        query->Reply = nullptr;
    }
}
