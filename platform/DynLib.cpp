#include "platform/DynLib.h"

#include "platform/FilePath.h"

#include <QFile>

#include <cstring>

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {

namespace {

// This machine's own kind of shared library.
constexpr unsigned char kOwnClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
constexpr unsigned char kOwnByteOrder =
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
#if defined(__x86_64__)
constexpr uint16_t kOwnMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr uint16_t kOwnMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr uint16_t kOwnMachine = EM_386;
#elif defined(__arm__)
constexpr uint16_t kOwnMachine = EM_ARM;
#elif defined(__riscv)
constexpr uint16_t kOwnMachine = EM_RISCV;
#else
#error "the machine type of this platform's shared libraries is not known here"
#endif

bool readAt(int fd, void* data, size_t size, off_t offset) {
    return ::pread(fd, data, size, offset) == static_cast<ssize_t>(size);
}

std::optional<QString> elfProblem(int fd, off_t fileSize) {
    ElfW(Ehdr) header{};
    if (!readAt(fd, &header, sizeof header, 0) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
        return QStringLiteral("not a shared library");
    if (header.e_ident[EI_CLASS] != kOwnClass || header.e_ident[EI_DATA] != kOwnByteOrder ||
        header.e_machine != kOwnMachine)
        return QStringLiteral("a library for another kind of machine");
    if (header.e_type != ET_DYN)
        return QStringLiteral("not a shared library");
    const off_t tableEnd =
        static_cast<off_t>(header.e_phoff) + off_t(header.e_phnum) * off_t(sizeof(ElfW(Phdr)));
    if (header.e_phentsize != sizeof(ElfW(Phdr)) || header.e_phnum == 0 || tableEnd > fileSize)
        return QStringLiteral("cut short (a copy still in progress?)");
    std::vector<ElfW(Phdr)> segments(header.e_phnum);
    if (!readAt(fd, segments.data(), segments.size() * sizeof(ElfW(Phdr)),
                static_cast<off_t>(header.e_phoff)))
        return QStringLiteral("cut short (a copy still in progress?)");
    for (const ElfW(Phdr) & segment : segments)
        if (segment.p_type == PT_LOAD &&
            (segment.p_offset > static_cast<uint64_t>(fileSize) ||
             segment.p_filesz > static_cast<uint64_t>(fileSize) - segment.p_offset))
            return QStringLiteral("cut short (a copy still in progress?)");
    return std::nullopt;
}

QByteArray LoaderPath(const QString& fileName) {
    const QString path = ToFsPath(fileName);
    // dlopen searches the library path for a bare name; a module file named without a folder
    // lies in the current folder.
    return QFile::encodeName(path.contains(QLatin1Char('/')) ? path : QStringLiteral("./") + path);
}

} // namespace

std::optional<QString> LibraryFileProblem(const QString& fileName) {
    const int fd = ::open(LoaderPath(fileName).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return QStringLiteral("cannot be read");
    struct stat info {};
    std::optional<QString> problem;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        problem = QStringLiteral("not a file");
    else
        problem = elfProblem(fd, info.st_size);
    ::close(fd);
    return problem;
}

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
