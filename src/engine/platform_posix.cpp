#include "engine/paradox_table.h"
#include "engine/platform.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#ifdef __linux__
#include <linux/falloc.h>
#endif
#include <new>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kelvara::paradox::platform {
namespace {

// The commit lock is a byte range far beyond any table's end, so it never covers data.
constexpr off_t kCommitLockOffset = off_t{1} << 40;

[[noreturn]] void Fail(const std::filesystem::path& path, const char* what, int error) {
    throw EParadoxError(path.string() + ": " + what + ": " + std::strerror(error));
}

int Descriptor(std::intptr_t handle) {
    return static_cast<int>(handle);
}

FileStatus FromStat(const struct stat& info) {
    FileStatus status;
    status.exists = true;
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.modified =
        static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return status;
}

// Under AddressSanitizer every block goes through its allocator, which guards the ends.
#if defined(__SANITIZE_ADDRESS__)
#define KELVARA_IMAGE_FROM_SYSTEM 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELVARA_IMAGE_FROM_SYSTEM 0
#endif
#endif
#ifndef KELVARA_IMAGE_FROM_SYSTEM
#define KELVARA_IMAGE_FROM_SYSTEM 1
#endif

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t MappedSize(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

} // namespace

void* AllocateImage(std::size_t bytes) {
    if (!KELVARA_IMAGE_FROM_SYSTEM || bytes < kHugePage) {
        return ::operator new(bytes);
    }
    // Huge pages need an aligned range: map one page more and give back what lies outside it.
    const std::size_t size = MappedSize(bytes);
    void* mapped = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        throw std::bad_alloc();
    }
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) {
        ::munmap(mapped, aligned - start);
    }
    if (const std::uintptr_t end = aligned + size; end < start + size + kHugePage) {
        ::munmap(reinterpret_cast<void*>(end), start + size + kHugePage - end);
    }
    void* memory = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
    ::madvise(memory, size, MADV_HUGEPAGE); // a hint: without it the pages are ordinary ones
#endif
    return memory;
}

void FreeImage(void* memory, std::size_t bytes) noexcept {
    if (!KELVARA_IMAGE_FROM_SYSTEM || bytes < kHugePage) {
        ::operator delete(memory);
        return;
    }
    ::munmap(memory, MappedSize(bytes));
}

File::File(const std::filesystem::path& path, Mode mode) : path_(path), mode_(mode) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Read:
        flags |= O_RDONLY;
        break;
    case Mode::ReadWrite:
        flags |= O_RDWR;
        break;
    case Mode::CreateReadWrite:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        Fail(path, "cannot open", errno);
    }
    handle_ = fd;
}

File::~File() {
    Close();
}

File::File(File&& other) noexcept
    : path_(std::move(other.path_)), mode_(other.mode_), handle_(other.handle_) {
    other.handle_ = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        path_ = std::move(other.path_);
        mode_ = other.mode_;
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

void File::Close() noexcept {
    if (handle_ >= 0) {
        ::close(Descriptor(handle_));
        handle_ = -1;
    }
}

FileStatus File::Status() const {
    struct stat info {};
    if (::fstat(Descriptor(handle_), &info) != 0) {
        Fail(path_, "cannot read the file status", errno);
    }
    return FromStat(info);
}

std::uint64_t File::Size() const {
    return Status().size;
}

FileId File::Id() const {
    struct stat info {};
    if (::fstat(Descriptor(handle_), &info) != 0) {
        Fail(path_, "cannot read the file status", errno);
    }
    return FileId{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

void File::ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(Descriptor(handle_), bytes.data() + done, bytes.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            Fail(path_, "cannot read", errno);
        }
        if (got == 0) {
            throw EParadoxError(path_.string() + ": cannot read: the file ends early");
        }
        done += static_cast<std::size_t>(got);
    }
}

ByteBuffer File::ReadAll() const {
    ByteBuffer bytes(Size());
    ReadAt(0, bytes);
    return bytes;
}

void File::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    FailurePoint("write");
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::pwrite(Descriptor(handle_), bytes.data() + done, bytes.size() - done,
                                     static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            Fail(path_, "cannot write", put < 0 ? errno : ENOSPC);
        }
        done += static_cast<std::size_t>(put);
    }
}

void File::Resize(std::uint64_t size) {
    FailurePoint("resize");
    if (::ftruncate(Descriptor(handle_), static_cast<off_t>(size)) != 0) {
        Fail(path_, "cannot change the file size", errno);
    }
}

void File::Reserve(std::uint64_t offset, std::uint64_t length) {
    FailurePoint("reserve");
#ifdef __linux__
    if (length > 0 &&
        ::fallocate(Descriptor(handle_), FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                    static_cast<off_t>(length)) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS) {
        Fail(path_, "cannot set disk space aside", errno);
    }
#else
    (void)offset;
    (void)length;
#endif
}

void File::Sync() {
    FailurePoint("sync");
    if (::fdatasync(Descriptor(handle_)) != 0) {
        Fail(path_, "cannot flush to disk", errno);
    }
}

bool File::TryLockOpen(LockKind kind) {
    const int operation = (kind == LockKind::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    while (::flock(Descriptor(handle_), operation) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno == EWOULDBLOCK) {
            return false;
        }
        Fail(path_, "cannot lock", errno);
    }
    return true;
}

bool File::LockCommit(LockKind kind, int timeoutMs) {
    struct flock lock {};
    lock.l_type = kind == LockKind::Exclusive ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kCommitLockOffset;
    lock.l_len = 1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (::fcntl(Descriptor(handle_), F_OFD_SETLK, &lock) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EACCES) {
            Fail(path_, "cannot lock", errno);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void File::UnlockCommit() {
    struct flock lock {};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kCommitLockOffset;
    lock.l_len = 1;
    ::fcntl(Descriptor(handle_), F_OFD_SETLK, &lock);
}

FileStatus StatusOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return FileStatus{};
    }
    return FromStat(info);
}

void RemoveFile(const std::filesystem::path& path) {
    FailurePoint("remove");
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        Fail(path, "cannot delete", errno);
    }
}

void MoveFileOver(const std::filesystem::path& from, const std::filesystem::path& to) {
    FailurePoint("replace");
    if (::rename(from.c_str(), to.c_str()) != 0) {
        Fail(to, "cannot replace", errno);
    }
}

void SyncDirectory(const std::filesystem::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace kelvara::paradox::platform
