#pragma once

#include <QString>

#include <optional>

namespace platform {

// Why the file at `fileName` must not be handed to the loader, or nullopt when it may be: it must
// be a regular file, a shared library (ELF) of this machine's class, byte order, machine and type,
// whose program headers and loadable segments lie inside the file. The loader maps a file cut
// short (a copy in progress) all the same, and the process dies of SIGBUS at the first touch of
// a page past its end.
std::optional<QString> LibraryFileProblem(const QString& fileName);

// One open dynamic library. Closing it (Close or the destructor) unmaps the library, so nothing
// may still run inside it or hold an address taken from it. Move-only; owned by one thread at a
// time.
class DynLib {
public:
    DynLib() = default;
    // Opens the library at `fileName` ("\" counts as a folder separator). A name without a folder
    // means the current folder, never the loader's search path. On failure IsOpen() is false and
    // ErrorText() holds the loader's reason.
    explicit DynLib(const QString& fileName);
    ~DynLib();
    DynLib(DynLib&& other) noexcept;
    DynLib& operator=(DynLib&& other) noexcept;
    DynLib(const DynLib&) = delete;
    DynLib& operator=(const DynLib&) = delete;

    bool IsOpen() const { return handle_ != nullptr; }
    const QString& ErrorText() const { return error_; }

    // The exported function `name` as a `FunctionPointer`, or nullptr when the library lacks it.
    template <class FunctionPointer> FunctionPointer Entry(const char* name) const {
        return reinterpret_cast<FunctionPointer>(Symbol(name));
    }
    void* Symbol(const char* name) const;

    void Close();

private:
    void* handle_ = nullptr;
    QString error_;
};

} // namespace platform
