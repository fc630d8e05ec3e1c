// The stored MIME text as anything a settings file could hold: the loader never throws, leaves a
// table the stored format can carry, and its own text loads back to itself; adding its pairs
// takes the same extensions and changes none a table has.
#include "FuzzCheck.h"
#include "config/MimeTable.h"

namespace {

// Odd first byte: the rest as UTF-16 code units (lone surrogates included); even: as UTF-8, the
// way the settings store reads it.
QString textOf(const uint8_t* data, size_t size) {
    if (size == 0)
        return {};
    const auto* rest = reinterpret_cast<const char*>(data + 1);
    const auto n = static_cast<qsizetype>(size - 1);
    if ((data[0] & 1) == 0)
        return QString::fromUtf8(rest, n);
    QString text(n / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] =
            QChar(static_cast<char16_t>(uint8_t(rest[2 * i]) | uint8_t(rest[2 * i + 1]) << 8));
    return text;
}

// Tokens only ever come from between two quotes, and each call takes something off the front.
void checkTokens(const QString& text) {
    QString rest = text;
    while (!rest.isEmpty()) {
        const QString before = rest;
        const QString token = MimeTable::NextQuoted(rest);
        FUZZ_REQUIRE(rest.size() < before.size());
        FUZZ_REQUIRE(before.endsWith(rest));
        FUZZ_REQUIRE(!token.contains(QLatin1Char('"')));
        if (!token.isEmpty())
            FUZZ_REQUIRE(before.contains(QLatin1Char('"') + token + QLatin1Char('"')));
    }
}

void checkTable(const MimeTable& table) {
    const QStringList& extensions = table.Extensions();
    const QStringList& types = table.ContentTypes();
    const qsizetype n = extensions.size();
    FUZZ_REQUIRE(types.size() == n && table.Lines().size() == n);
    for (qsizetype i = 0; i < n; ++i) {
        for (const QString& text : {extensions[i], types[i]})
            FUZZ_REQUIRE(!text.isEmpty() && !text.contains(QLatin1Char('"')));
        // The pairwise check is quadratic; the loader is too, so it stays in proportion.
        for (qsizetype j = 0; j < i; ++j)
            FUZZ_REQUIRE(extensions[j].compare(extensions[i], Qt::CaseInsensitive) != 0);
    }
    FUZZ_REQUIRE(table.Selected() == (n > 0 ? 0 : -1));
    FUZZ_REQUIRE(table.Edit5() == (n > 0 ? types[0] : QString()));
    FUZZ_REQUIRE(table.DropEnabled() == (n > 0) && !table.ChangeEnabled());
}

// Adding the pairs of a text takes the same extensions as loading it, each with its first type
// rather than its last, and adds nothing to a table that already has them.
void checkAddMissing(const QString& text, const MimeTable& loaded) {
    MimeTable added;
    FUZZ_REQUIRE(added.AddMissing(text) == loaded.Extensions().size());
    FUZZ_REQUIRE(added.Extensions() == loaded.Extensions());
    FUZZ_REQUIRE(added.Lines().size() == added.Extensions().size());
    for (const QString& type : added.ContentTypes())
        FUZZ_REQUIRE(!type.isEmpty() && !type.contains(QLatin1Char('"')));
    const QString before = added.GetMIME();
    FUZZ_REQUIRE(added.AddMissing(text) == 0 && added.GetMIME() == before);
    MimeTable copy = loaded;
    FUZZ_REQUIRE(copy.AddMissing(text) == 0 && copy.GetMIME() == loaded.GetMIME());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = textOf(data, size);
    checkTokens(text);

    MimeTable table;
    int changes = 0;
    table.OnChanged = [&changes] { ++changes; };
    table.LoadMIME(text);
    checkTable(table);
    FUZZ_REQUIRE(changes > 0);

    const QString stored = table.GetMIME();
    MimeTable again;
    again.LoadMIME(stored);
    checkTable(again);
    FUZZ_REQUIRE(again.GetMIME() == stored);
    FUZZ_REQUIRE(again.Extensions() == table.Extensions());
    FUZZ_REQUIRE(again.ContentTypes() == table.ContentTypes());
    for (qsizetype i = 0; i < again.Extensions().size(); ++i) {
        const QString& extension = again.Extensions()[i];
        FUZZ_REQUIRE(again.Lines()[i] ==
                     extension + QStringLiteral(" --> ") + again.ContentTypes()[i]);
        FUZZ_REQUIRE(again.LookupMIME(extension) == again.ContentTypes()[i]);
    }
    checkAddMissing(text, table);
    return 0;
}
