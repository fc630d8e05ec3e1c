#pragma once

namespace platform {

// A base for objects that stand for something held (a scope, a folder, a set of handles) and so
// must not be copied: deriving from it deletes copying and, with that, the implicit moves.
class NoCopy {
public:
    NoCopy(const NoCopy&) = delete;
    NoCopy& operator=(const NoCopy&) = delete;

protected:
    NoCopy() = default;
    ~NoCopy() = default;
};

} // namespace platform
