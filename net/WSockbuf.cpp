#include "net/WSockbuf.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int32_t size) {
    SetCapacity(size);
}

void TBuffer::SetCapacity(int32_t size) {
    capacity_ = size <= 0 ? kDefaultSize : size;
    data_ = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(capacity_));
}

int32_t TBuffer::Write(const void* data, int32_t length) {
    const int32_t room = capacity_ - writePos_;
    if (room <= 0 || length <= 0)
        return 0;
    const int32_t n = std::min(room, length);
    std::memcpy(data_.get() + writePos_, data, static_cast<size_t>(n));
    writePos_ += n;
    return n;
}

const char* TBuffer::Peek(int32_t& length) const {
    length = writePos_ - readPos_;
    if (length > 0)
        return data_.get() + readPos_;
    length = 0;
    return nullptr;
}

int32_t TBuffer::Remove(int32_t length) {
    const int32_t available = writePos_ - readPos_;
    if (available <= 0 || length <= 0)
        return 0;
    const int32_t n = std::min(length, available);
    readPos_ += n;
    if (readPos_ == writePos_)
        readPos_ = writePos_ = 0;
    return n;
}
