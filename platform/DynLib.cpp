#include "platform/DynLib.h"

#include "platform/FilePath.h"

#include <QFile>

#include <dlfcn.h>
#include <utility>

namespace platform {

namespace {

QByteArray LoaderPath(const QString& fileName) {
    const QString path = ToFsPath(fileName);
    // dlopen searches the library path for a bare name; a module file named without a folder
    // lies in the current folder.
    return QFile::encodeName(path.contains(QLatin1Char('/')) ? path : QStringLiteral("./") + path);
}

} // namespace

DynLib::DynLib(const QString& fileName) {
    // RTLD_NOW: a module with unresolved symbols fails here, not at its first call on a worker.
    // RTLD_LOCAL: one module's symbols never satisfy another's.
    handle_ = ::dlopen(LoaderPath(fileName).constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = ::dlerror();
        error_ = reason != nullptr ? QString::fromLocal8Bit(reason) : QStringLiteral("not loaded");
    }
}

DynLib::~DynLib() {
    Close();
}

DynLib::DynLib(DynLib&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

DynLib& DynLib::operator=(DynLib&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, nullptr);
        error_ = std::move(other.error_);
    }
    return *this;
}

void* DynLib::Symbol(const char* name) const {
    return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

void DynLib::Close() {
    if (handle_ != nullptr)
        ::dlclose(std::exchange(handle_, nullptr));
}

} // namespace platform
