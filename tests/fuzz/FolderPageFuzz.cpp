// Folder listings rendered for any names, request paths, sizes and times, with and without the
// upload area, checked the way a browser reads them: a name never turns into markup, every link
// leads back to its bytes, and the area sends files to the folder it was given.
#include "FuzzCheck.h"
#include "server/FolderPage.h"
#include "server/Percent.h"

#include <QString>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using folderpage::Entry;

namespace {

size_t count(std::string_view text, char c) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// The text between `open` (first found from `from`) and the next `close`; `from` moves past it.
std::string_view between(std::string_view text, std::string_view open, std::string_view close,
                         size_t& from) {
    const size_t start = text.find(open, from);
    FUZZ_REQUIRE(start != std::string_view::npos);
    const size_t end = text.find(close, start + open.size());
    FUZZ_REQUIRE(end != std::string_view::npos);
    from = end + close.size();
    return text.substr(start + open.size(), end - start - open.size());
}

// Reverses the page's escaping; aborts on a markup character or an unknown entity.
std::string unescape(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}};
    std::string plain;
    for (size_t at = 0; at < text.size();) {
        FUZZ_REQUIRE(text[at] != '<' && text[at] != '>' && text[at] != '"');
        if (text[at] != '&') {
            plain += text[at++];
            continue;
        }
        bool known = false;
        for (const auto& [entity, c] : kEntities)
            if (text.substr(at).starts_with(entity)) {
                plain += c;
                at += entity.size();
                known = true;
                break;
            }
        FUZZ_REQUIRE(known);
    }
    return plain;
}

bool hasControl(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

bool wellFormedUtf8(const std::string& text) {
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

void checkRow(const Entry& entry) {
    std::string row;
    folderpage::AppendRow(row, entry);
    // The markup is the same as for a plain name: nothing in the name added or removed any.
    Entry plain = entry;
    plain.name = "x";
    std::string plainRow;
    folderpage::AppendRow(plainRow, plain);
    for (const char c : {'<', '>', '"'})
        FUZZ_REQUIRE(count(row, c) == count(plainRow, c));

    size_t from = 0;
    const std::string_view href = between(row, "<a href=\"", "\"", from);
    for (size_t at = 0; at < href.size(); ++at)
        if (href[at] == '%')
            FUZZ_REQUIRE(at + 2 < href.size() && isHex(href[at + 1]) && isHex(href[at + 2]));
    FUZZ_REQUIRE(percent::Decode(href) == entry.name + (entry.folder ? "/" : ""));

    const std::string text = unescape(between(row, "<span class=\"n\">", "</span>", from));
    FUZZ_REQUIRE(wellFormedUtf8(text));
    FUZZ_REQUIRE(!hasControl(text));
    if (wellFormedUtf8(entry.name) && !hasControl(entry.name))
        FUZZ_REQUIRE(text == entry.name);
    FUZZ_REQUIRE(unescape(between(row, "<span class=\"s\">", "</span>", from)).size() < 16);
    FUZZ_REQUIRE(unescape(between(row, "<span class=\"t\">", "</span>", from)).size() < 32);
}

void checkPage(std::string_view requestPath, const std::vector<Entry>& entries,
               std::optional<std::string_view> uploadTo) {
    const std::string page = folderpage::Render(requestPath, entries, uploadTo);
    std::vector<Entry> plain = entries;
    for (Entry& entry : plain)
        entry.name = "x";
    const std::optional<std::string_view> plainUploadTo =
        uploadTo ? std::optional<std::string_view>("/x/") : std::nullopt;
    const std::string plainPage = folderpage::Render("/x/", plain, plainUploadTo);
    const bool top = requestPath.empty() || requestPath == "/";
    constexpr size_t kParentRowTags = 6; // li, a, span and their ends
    FUZZ_REQUIRE(count(page, '<') + (top ? kParentRowTags : 0) == count(plainPage, '<'));
    size_t titleAt = 0;
    const std::string title = unescape(between(page, "<title>", "</title>", titleAt));
    FUZZ_REQUIRE(wellFormedUtf8(title) && !hasControl(title));
    FUZZ_REQUIRE(page.starts_with("<!DOCTYPE html>") && page.ends_with("</html>\n"));
    size_t areaAt = 0;
    if (uploadTo) {
        const std::string_view to = between(page, "data-to=\"", "\"", areaAt);
        FUZZ_REQUIRE(unescape(to) == std::string(to)); // percent-encoded: nothing to escape
        FUZZ_REQUIRE(percent::Decode(to) == *uploadTo);
    } else {
        FUZZ_REQUIRE(page.find("<section class=\"up\"") == std::string::npos);
    }
    // Every entry's link is there once sorted, each decoding back to one entry's name.
    std::vector<std::string> expected;
    for (const Entry& entry : entries)
        expected.push_back(entry.name + (entry.folder ? "/" : ""));
    std::vector<std::string> found;
    size_t from = page.find("<ul class=\"ls\">");
    FUZZ_REQUIRE(from != std::string::npos);
    if (!top)
        FUZZ_REQUIRE(between(page, "<a href=\"", "\"", from) == "../");
    for (size_t i = 0; i < entries.size(); ++i)
        found.push_back(percent::Decode(between(page, "<a href=\"", "\"", from)));
    FUZZ_REQUIRE(page.find("<a href=\"", from) == std::string::npos);
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    FUZZ_REQUIRE(found == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string requestPath = input.ConsumeRandomLengthString(64);
    const bool withArea = input.ConsumeBool();
    const std::string uploadTo = input.ConsumeRandomLengthString(64);
    const size_t entryCount = input.ConsumeIntegralInRange<size_t>(0, 8);
    std::vector<Entry> entries;
    for (size_t i = 0; i < entryCount && input.remaining_bytes() > 0; ++i) {
        Entry entry;
        entry.name = input.ConsumeRandomLengthString(256);
        entry.folder = input.ConsumeBool();
        entry.size = input.ConsumeIntegral<int64_t>();
        entry.modified = input.ConsumeIntegral<std::time_t>();
        checkRow(entry);
        entries.push_back(std::move(entry));
    }
    checkPage(requestPath, entries,
              withArea ? std::optional<std::string_view>(uploadTo) : std::nullopt);
    return 0;
}
