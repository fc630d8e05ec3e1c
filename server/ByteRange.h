#pragma once

#include <cstdint>
#include <string_view>

// Which part of a file a GET asks for with its "Range:" field. A pure function of the request's
// header and the file's size, so that every rule is tested from one table and fuzzed.
namespace byterange {

enum class Kind {
    Whole,        // no usable range: today's 200 reply with the whole file
    Partial,      // a 206 reply with the bytes first..last (inclusive)
    Unsatisfiable // a 416 reply: the range starts at or past the end of the file
};

struct Answer {
    Kind kind = Kind::Whole;
    int64_t first = 0;
    int64_t last = -1;
    int64_t length() const { return last - first + 1; }
    bool operator==(const Answer&) const = default;
};

// `header` is the request up to its first CR LF CR LF, `size` the file's size. The field is found
// like the Content-Length field (request::FieldValue). Only a single range of the unit "bytes"
// is served: "a-b" (b clipped to the last byte), "a-" (to the end) or "-n" (the last n bytes,
// the whole file when n reaches its size). Anything the server cannot serve exactly (a malformed
// value, another unit, several ranges, a number that overflows, a > b, an If-Range validator
// that cannot be checked) asks for the whole file: ignoring a range is always a correct answer.
Answer ForRequest(std::string_view header, int64_t size);

// The same for the field's value alone (the text after "Range:", up to the end of its line).
Answer ForValue(std::string_view value, int64_t size);

} // namespace byterange
