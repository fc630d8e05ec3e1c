#pragma once

#include <QString>

// The stored text (as MimeTable::GetMIME writes it, "@" after each pair) of the types that
// browsers and phones expect today, with their registered content types. Text types carry
// "; charset=utf-8": without it a browser guesses the encoding of a page or a script that has
// no marker of its own. Formats that define their own encoding (JSON, XML, SVG) carry none: for
// XML a charset would override the document's own declaration.
const QString& TodaysMimeText();
