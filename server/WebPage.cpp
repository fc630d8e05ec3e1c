#include "server/WebPage.h"

#include "server/Reply.h"

namespace webpage {
namespace {

// System fonts, sizes a phone can read, light and dark after the visitor's own choice.
constexpr std::string_view kHead =
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<meta name=\"color-scheme\" content=\"light dark\">\n<title>";
constexpr std::string_view kStyle =
    "</title>\n<style>\n"
    ":root{color-scheme:light dark;--fg:#1d1d1f;--bg:#fafafa;--muted:#6e6e73;--line:#e3e3e6;"
    "--link:#0a60d0}\n"
    "@media (prefers-color-scheme:dark){:root{--fg:#f2f2f4;--bg:#161618;--muted:#a1a1a6;"
    "--line:#2c2c30;--link:#6cb2ff}}\n"
    "body{margin:0;font:16px/1.5 system-ui,-apple-system,\"Segoe UI\",Roboto,sans-serif;"
    "color:var(--fg);background:var(--bg)}\n"
    "main{max-width:60rem;margin:0 auto;padding:1rem}\n"
    "h1{font-size:1.35rem;font-weight:600;margin:.5rem 0 1rem;overflow-wrap:anywhere}\n"
    "a{color:var(--link);text-decoration:none}a:hover{text-decoration:underline}\n"
    "p{color:var(--muted)}\n"
    "</style></head>\n<body><main>\n<h1>";
constexpr std::string_view kTail = "\n</main></body></html>\n";

} // namespace

std::string Page(std::string_view title, std::string_view bodyHtml) {
    const std::string escaped = reply::EscapeHtml(title);
    std::string page;
    page.reserve(kHead.size() + kStyle.size() + kTail.size() + 2 * escaped.size() +
                 bodyHtml.size() + 8);
    page.append(kHead).append(escaped).append(kStyle).append(escaped).append("</h1>\n");
    page.append(bodyHtml).append(kTail);
    return page;
}

std::string Reply(int status, std::string_view page, std::string_view extraHeader) {
    std::string text = reply::StatusLine(status);
    text.append(extraHeader);
    text += "Content-Type: text/html; charset=utf-8\r\nContent-Length: ";
    text += std::to_string(page.size());
    text += "\r\n\r\n";
    text.append(page);
    return text;
}

} // namespace webpage
