#pragma once

#include <cstdint>
#include <memory>

// One block of the socket object's send queue. Not a ring: room freed by taking bytes out is
// reused only once the block has been emptied completely.
// Invariant: 0 <= ReadPos <= WritePos <= Capacity; the unsent bytes are Data[ReadPos, WritePos).
class TBuffer {
public:
    static constexpr int32_t kDefaultSize = 1514;

    // A size <= 0 gives kDefaultSize.
    explicit TBuffer(int32_t size);

    // Copies as much of data as fits; returns the bytes taken.
    int32_t Write(const void* data, int32_t length);
    // The unsent bytes, or nullptr (length 0) when there are none.
    const char* Peek(int32_t& length) const;
    // Marks up to length bytes as sent; returns how many were.
    int32_t Remove(int32_t length);

    int32_t Capacity() const { return capacity_; }
    int32_t WritePos() const { return writePos_; }
    int32_t ReadPos() const { return readPos_; }

private:
    void SetCapacity(int32_t size);

    std::unique_ptr<char[]> data_;
    int32_t capacity_ = 0;
    int32_t writePos_ = 0;
    int32_t readPos_ = 0;
};
