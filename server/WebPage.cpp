#include "server/WebPage.h"

#include "server/Reply.h"

namespace webpage {
namespace {

// System fonts at sizes a phone can read, light and dark after the visitor's own choice. A
// listing is one card of rows, each row a single link (a large target for a finger): name, size
// and time in columns on a wide screen; below 36rem the size and time go under the name, which
// wraps however long it is.
constexpr std::string_view kHead = R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="color-scheme" content="light dark">
<title>)";

constexpr std::string_view kStyle = R"(</title>
<style>
:root{color-scheme:light dark;--fg:#1d1d1f;--bg:#f5f5f7;--card:#fff;--muted:#6e6e73;
--line:#e6e6ea;--link:#0b5fd0;--folder:#3b82f6;--image:#0f9f6e;--video:#8b5cf6;--audio:#e08a00;
--hover:#f1f5fd}
@media (prefers-color-scheme:dark){:root{--fg:#f2f2f4;--bg:#101012;--card:#1b1b1e;
--muted:#9e9ea6;--line:#2b2b30;--link:#7cb8ff;--folder:#60a5fa;--image:#34d399;--video:#a78bfa;
--audio:#fbbf24;--hover:#23262d}}
*{box-sizing:border-box}
body{margin:0;font:16px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,sans-serif;
color:var(--fg);background:var(--bg);-webkit-text-size-adjust:100%;text-size-adjust:100%}
main{max-width:58rem;margin:0 auto;padding:1.5rem 1rem 1rem}
h1{font-size:1.375rem;font-weight:650;letter-spacing:-.01em;margin:0 0 1rem;
overflow-wrap:anywhere}
a{color:var(--link);text-decoration:none}
p{color:var(--muted)}
footer{max-width:58rem;margin:0 auto;padding:.5rem 1rem 2rem;color:var(--muted);
font-size:.75rem;letter-spacing:.08em}
.ls{list-style:none;margin:0;padding:0;background:var(--card);border:1px solid var(--line);
border-radius:12px;overflow:hidden}
.ls li+li{border-top:1px solid var(--line)}
.ls a,.ls .hd{display:grid;grid-template-columns:1.25rem minmax(0,1fr) 5.5rem 9.5rem;
grid-template-areas:"i n s t";column-gap:.75rem;align-items:center;padding:.625rem 1rem}
.ls a{color:var(--fg)}
.ls a:hover{background:var(--hover)}
.ls a:hover .n{color:var(--link)}
.ls a::before{content:"";grid-area:i;width:1.25rem;height:1.25rem;background:var(--muted);
-webkit-mask:var(--icon) center/contain no-repeat;mask:var(--icon) center/contain no-repeat}
.ls .f{--icon:url("data:image/svg+xml,<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24' fill='none' stroke='black' stroke-width='1.7' stroke-linejoin='round'><path d='M6 2.8h8.2L19 7.6v13.6H6z'/><path d='M14 3v4.8h4.8'/></svg>")}
.ls .d{--icon:url("data:image/svg+xml,<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24'><path d='M2.5 6.2A2.2 2.2 0 0 1 4.7 4h4.6l2.2 2.4h7.8a2.2 2.2 0 0 1 2.2 2.2v9.2a2.2 2.2 0 0 1-2.2 2.2H4.7a2.2 2.2 0 0 1-2.2-2.2z'/></svg>")}
.ls .up{--icon:url("data:image/svg+xml,<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24' fill='none' stroke='black' stroke-width='2' stroke-linecap='round' stroke-linejoin='round'><path d='M12 19V5M5.5 11.5 12 5l6.5 6.5'/></svg>")}
.ls .im{--icon:url("data:image/svg+xml,<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24' fill='none' stroke='black' stroke-width='1.7' stroke-linejoin='round'><rect x='3' y='4.5' width='18' height='15' rx='2.5'/><path d='m3.5 17 5-5 4 4 2.5-2.5 5.5 5'/><circle cx='15.5' cy='9' r='1.6'/></svg>")}
.ls .vi{--icon:url("data:image/svg+xml,<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24' fill='none' stroke='black' stroke-width='1.7' stroke-linejoin='round'><rect x='3' y='5' width='18' height='14' rx='2.5'/><path d='M10 9.2v5.6l4.6-2.8z' fill='black'/></svg>")}
.ls .au{--icon:url("data:image/svg+xml,<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24' fill='none' stroke='black' stroke-width='1.7' stroke-linejoin='round'><path d='M9 17.5V6l10-2.2v11.7'/><circle cx='6.6' cy='17.5' r='2.4'/><circle cx='16.6' cy='15.5' r='2.4'/></svg>")}
.ls .d a::before{background:var(--folder)}
.ls .im a::before{background:var(--image)}
.ls .vi a::before{background:var(--video)}
.ls .au a::before{background:var(--audio)}
.ls .n{grid-area:n;overflow-wrap:anywhere}
.ls .d .n{font-weight:600}
.ls .s,.ls .t{color:var(--muted);font-size:.875rem;font-variant-numeric:tabular-nums;
white-space:nowrap}
.ls .s{grid-area:s;text-align:right}
.ls .t{grid-area:t}
.ls .hd{padding-top:.5rem;padding-bottom:.5rem;color:var(--muted);font-size:.75rem;
font-weight:600;text-transform:uppercase;letter-spacing:.06em}
.ls .hd .n,.ls .hd .s,.ls .hd .t{font-size:inherit;color:inherit;font-weight:inherit}
.sum{font-size:.875rem;margin:.75rem .25rem 0}
@media (max-width:36rem){
main{padding:1rem .75rem .5rem}
h1{font-size:1.25rem}
.ls a{grid-template-columns:1.25rem minmax(0,1fr) auto;grid-template-areas:"i n n" "i t s";
row-gap:.125rem;padding:.625rem .875rem}
.ls a::before{align-self:start;margin-top:.125rem}
.ls .s{text-align:right}
.ls .hd{display:none}
.ls .hd+li{border-top:0}
}
</style></head>
<body><main>
<h1>)";

constexpr std::string_view kTail = "\n</main><footer>KORU</footer></body></html>\n";

constexpr std::string_view kListStart =
    R"(<ul class="ls">
<li class="hd" aria-hidden="true"><span></span><span class="n">Name</span><span class="s">Size</span><span class="t">Modified</span></li>
)";
constexpr std::string_view kParentRow =
    R"(<li class="up"><a href="../"><span class="n">Parent folder</span></a></li>
)";

std::string Count(size_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + ' ' + std::string(n == 1 ? one : many);
}

std::string_view RowStart(const ListingRow& row) {
    if (row.folder)
        return R"(<li class="d"><a href=")";
    switch (row.kind) {
    case FileKind::Image:
        return R"(<li class="f im"><a href=")";
    case FileKind::Video:
        return R"(<li class="f vi"><a href=")";
    case FileKind::Audio:
        return R"(<li class="f au"><a href=")";
    case FileKind::Other:
        break;
    }
    return R"(<li class="f"><a href=")";
}

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

void AppendListingStart(std::string& body, bool withParent) {
    body.append(kListStart);
    if (withParent)
        body.append(kParentRow);
}

void AppendListingRow(std::string& body, const ListingRow& row) {
    body.append(RowStart(row));
    body.append(row.href).append(R"("><span class="n">)").append(row.nameHtml);
    body.append(R"(</span><span class="s">)").append(row.size);
    body.append(R"(</span><span class="t">)").append(row.time).append("</span></a></li>\n");
}

void AppendListingEnd(std::string& body, size_t folders, size_t files) {
    body.append("</ul>\n<p class=\"sum\">");
    if (folders == 0 && files == 0)
        body.append("This folder is empty.");
    else
        body.append(Count(folders, "folder", "folders") + ", " + Count(files, "file", "files"));
    body.append("</p>");
}

} // namespace webpage
