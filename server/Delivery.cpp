#include "server/Delivery.h"

#include "platform/FileCalls.h"
#include "server/ByteRange.h"
#include "server/Reply.h"
#include "server/WebPage.h"

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

namespace delivery {
namespace {

// A range that starts past the end: the reply names the file's size, so that the client can ask
// again for what is there.
std::string unsatisfiable(int64_t size) {
    const std::string sizeText = std::to_string(size);
    const std::string page =
        webpage::Page(reply::ReasonPhrase(416),
                      "<p>The range asked for starts past the end of this file, which holds " +
                          sizeText + (size == 1 ? " byte" : " bytes") + ".</p>");
    return webpage::Reply(416, page, "Content-Range: bytes */" + sizeText + "\r\n");
}

std::string contentRange(const byterange::Answer& range, int64_t size) {
    return "Content-Range: bytes " + std::to_string(range.first) + "-" +
           std::to_string(range.last) + "/" + std::to_string(size) + "\r\n";
}

} // namespace

FileReply OpenForReply(const std::string& fileName, const std::function<std::string()>& contentType,
                       std::string_view requestHeader) {
    FileReply reply{
        .file = platform::FileHandle(platform::OpenFile(fileName.c_str(), O_RDONLY | O_NONBLOCK))};
    const int64_t size =
        reply.file.valid() ? platform::RegularFileSize(reply.file.get()).value_or(-1) : -1;
    const bool found = reply.file.valid() ? size >= 0 : platform::IsRegularFile(fileName);
    const auto refuse = [](std::string message) {
        FileReply refused;
        refused.status = 404;
        refused.message = std::move(message);
        return refused;
    };
    if (!found)
        return refuse("<h2>File not really found</h2>");
    if (size < 0 || !platform::LockSharedNow(reply.file.get()))
        return refuse("Unable to open this file for read");
    const byterange::Answer range = byterange::ForRequest(requestHeader, size);
    switch (range.kind) {
    case byterange::Kind::Whole:
        reply.size = size;
        reply.head = reply::StatusLine(200) +
                     reply::FileHeader(reply::DefaultContentType(contentType()), size);
        break;
    case byterange::Kind::Partial:
        reply.status = 206;
        reply.size = range.length();
        reply.start = range.first;
        reply.head =
            reply::StatusLine(206) + reply::FileHeader(reply::DefaultContentType(contentType()),
                                                       range.length(), contentRange(range, size));
        break;
    case byterange::Kind::Unsatisfiable:
        reply.status = 416;
        reply.head = unsatisfiable(size);
        break;
    }
    return reply;
}

int64_t SendFile(Connection& connection, std::string_view head, int fd, int64_t start,
                 int64_t length, const std::function<void(size_t)>& afterChunk) {
    length = std::max<int64_t>(length, 0);
    start = std::max<int64_t>(start, 0);
    const size_t blockSize = static_cast<size_t>(std::min<int64_t>(length, kBlockSize));
    // The header rides with the first block: a small file is a single hand-over. A small reply
    // is put together on the stack, saving an allocation per request.
    const size_t bufferSize = head.size() + blockSize;
    std::array<char, kSmallReply> small;
    std::unique_ptr<char[]> large;
    if (bufferSize > small.size())
        large = std::make_unique_for_overwrite<char[]>(bufferSize);
    char* const data = large ? large.get() : small.data();
    std::memcpy(data, head.data(), head.size());
    size_t headLeft = head.size();
    int64_t sent = 0;
    for (;;) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(length - sent, blockSize));
        size_t got = platform::ReadFully(fd, data + headLeft, want, start + sent);
        const bool shrank = got < want;
        if (shrank)
            got -= got % kChunkSize;
        if (headLeft + got > 0 && !connection.Write(data, headLeft + got))
            return sent;
        for (size_t at = 0; afterChunk && at < got; at += kChunkSize)
            afterChunk(std::min(kChunkSize, got - at));
        sent += static_cast<int64_t>(got);
        headLeft = 0;
        if (shrank) {
            connection.Close();
            return sent;
        }
        if (sent >= length || !connection.Drain())
            return sent;
    }
}

} // namespace delivery
