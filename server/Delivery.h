#pragma once

#include "platform/FileCalls.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Sending a file as a reply: the header, then exactly the length it announced, in whole chunks.
// Apart from the connection it only reads the file, so tests drive it with a connection of their
// own.
namespace delivery {

inline constexpr size_t kChunkSize = 4096;
// A read block holds this many chunks and goes to the connection in one hand-over: the memory a
// delivery holds, whatever the file's size.
inline constexpr size_t kChunksPerBlock = 16;
inline constexpr size_t kBlockSize = kChunkSize * kChunksPerBlock;
// Replies up to this size (header and body) are put together on the stack.
inline constexpr size_t kSmallReply = 4096;

// What a delivery needs of the connection.
class Connection {
public:
    virtual ~Connection() = default;
    // Hands bytes over; what the transport does not take now is kept and sent later. False when
    // the connection is gone.
    virtual bool Write(const char* data, size_t size) = 0;
    // Returns once nothing is kept back any more, at once when nothing is; false when the
    // connection went or the peer stopped taking anything.
    virtual bool Drain() = 0;
    // Ends the reply short: a peer must not take a cut body for a whole one.
    virtual void Close() = 0;
};

// A file opened for a reply: the open file, the part of it to send (`size` bytes from `start`)
// and the reply's status line and header; or, when the file is not valid, the error page's status
// and text. A range past the end is a valid file whose `head` is the whole 416 reply, with
// nothing of the file to send.
struct FileReply {
    platform::FileHandle file;
    int64_t size = 0;
    int64_t start = 0;
    std::string head{};
    int status = 200;
    std::string message{};
};

// Opens `fileName` for a reply: without blocking (a pipe put in the base folder must not hold
// the worker at its open), a regular file only (else 404 "<h2>File not really found</h2>"), with
// a shared lock taken at once (a writer holding the file means it is not ready to be read: 404
// "Unable to open this file for read"). `contentType` gives the file's type from the MIME table,
// asked only for a file that will be sent. `requestHeader` (the request up to its blank line)
// may ask for a byte range (byterange::ForRequest): a 206 reply of that part, with its
// Content-Range, or a 416 reply for a range past the end; without a usable range the reply is
// the whole file's 200.
FileReply OpenForReply(const std::string& fileName, const std::function<std::string()>& contentType,
                       std::string_view requestHeader = {});

// Sends `head`, then `length` bytes of the open file `fd` from offset `start`. The body leaves in
// chunks of kChunkSize (the last one may be shorter), a block of them per hand-over; the delivery
// waits only while the connection keeps bytes back. A file that holds less than `length` when it
// is read (it shrank) ends the reply after the last whole chunk read, with Close. `afterChunk`,
// when set, runs after each chunk was handed over, with its size. Returns the body bytes handed
// over.
int64_t SendFile(Connection& connection, std::string_view head, int fd, int64_t start,
                 int64_t length, const std::function<void(size_t)>& afterChunk);

// The same from the file's start.
inline int64_t SendFile(Connection& connection, std::string_view head, int fd, int64_t length,
                        const std::function<void(size_t)>& afterChunk = {}) {
    return SendFile(connection, head, fd, 0, length, afterChunk);
}

} // namespace delivery
