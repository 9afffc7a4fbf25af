#include "engine/paradox_table.h"
#include "engine/platform.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <thread>
#include <windows.h>

namespace kelvara::paradox::platform {
namespace {

// Both locks are byte ranges beyond any table's end: LockFileEx locks are mandatory, so a lock on
// data bytes would stop other processes from reading them.
constexpr std::uint64_t kOpenLockOffset = std::uint64_t{1} << 40;
constexpr std::uint64_t kCommitLockOffset = kOpenLockOffset + 1;

std::string SystemMessage(DWORD error) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(error);
    if (text != nullptr) {
        LocalFree(text);
    }
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

[[noreturn]] void Fail(const std::filesystem::path& path, const char* what, DWORD error) {
    throw EParadoxError(path.string() + ": " + what + ": " + SystemMessage(error));
}

HANDLE Handle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return overlapped;
}

bool LockRange(HANDLE file, std::uint64_t offset, LockKind kind) {
    OVERLAPPED overlapped = At(offset);
    const DWORD flags =
        LOCKFILE_FAIL_IMMEDIATELY | (kind == LockKind::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    return LockFileEx(file, flags, 0, 1, 0, &overlapped) != 0;
}

std::int64_t Ticks(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}

} // namespace

// Large pages need a privilege ordinary users lack; images use the ordinary heap here.
void* AllocateImage(std::size_t bytes) {
    return ::operator new(bytes);
}

void FreeImage(void* memory, std::size_t) noexcept {
    ::operator delete(memory);
}

File::File(const std::filesystem::path& path, Mode mode) : path_(path), mode_(mode) {
    const DWORD access = mode == Mode::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD creation = mode == Mode::CreateReadWrite ? CREATE_ALWAYS : OPEN_EXISTING;
    const HANDLE file = CreateFileW(path.wstring().c_str(), access,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    creation, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Fail(path, "cannot open", GetLastError());
    }
    handle_ = reinterpret_cast<std::intptr_t>(file);
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
    if (handle_ != -1) {
        CloseHandle(Handle(handle_));
        handle_ = -1;
    }
}

FileStatus File::Status() const {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(Handle(handle_), &info)) {
        Fail(path_, "cannot read the file status", GetLastError());
    }
    FileStatus status;
    status.exists = true;
    status.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    status.modified = Ticks(info.ftLastWriteTime);
    return status;
}

std::uint64_t File::Size() const {
    return Status().size;
}

FileId File::Id() const {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(Handle(handle_), &info)) {
        Fail(path_, "cannot read the file status", GetLastError());
    }
    return FileId{info.dwVolumeSerialNumber,
                  (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

void File::ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        OVERLAPPED overlapped = At(offset + done);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 30));
        DWORD got = 0;
        if (!ReadFile(Handle(handle_), bytes.data() + done, want, &got, &overlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_HANDLE_EOF) {
                Fail(path_, "cannot read", error);
            }
        }
        if (got == 0) {
            throw EParadoxError(path_.string() + ": cannot read: the file ends early");
        }
        done += got;
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
        OVERLAPPED overlapped = At(offset + done);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 30));
        DWORD put = 0;
        if (!WriteFile(Handle(handle_), bytes.data() + done, want, &put, &overlapped)) {
            Fail(path_, "cannot write", GetLastError());
        }
        if (put == 0) {
            Fail(path_, "cannot write", ERROR_DISK_FULL);
        }
        done += put;
    }
}

void File::Resize(std::uint64_t size) {
    FailurePoint("resize");
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(Handle(handle_), FileEndOfFileInfo, &info, sizeof info)) {
        Fail(path_, "cannot change the file size", GetLastError());
    }
}

void File::Reserve(std::uint64_t, std::uint64_t) {
    // NTFS gives a file its space when it is written, and reports a full disk then.
    FailurePoint("reserve");
}

void File::Sync() {
    FailurePoint("sync");
    if (!FlushFileBuffers(Handle(handle_))) {
        Fail(path_, "cannot flush to disk", GetLastError());
    }
}

bool File::TryLockOpen(LockKind kind) {
    if (LockRange(Handle(handle_), kOpenLockOffset, kind)) {
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
        return false;
    }
    Fail(path_, "cannot lock", error);
}

bool File::LockCommit(LockKind kind, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!LockRange(Handle(handle_), kCommitLockOffset, kind)) {
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
            Fail(path_, "cannot lock", error);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void File::UnlockCommit() {
    OVERLAPPED overlapped = At(kCommitLockOffset);
    UnlockFileEx(Handle(handle_), 0, 1, 0, &overlapped);
}

FileStatus StatusOf(const std::filesystem::path& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.wstring().c_str(), GetFileExInfoStandard, &data)) {
        return FileStatus{};
    }
    FileStatus status;
    status.exists = true;
    status.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status.modified = Ticks(data.ftLastWriteTime);
    return status;
}

void RemoveFile(const std::filesystem::path& path) {
    FailurePoint("remove");
    if (!DeleteFileW(path.wstring().c_str())) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            Fail(path, "cannot delete", error);
        }
    }
}

void MoveFileOver(const std::filesystem::path& from, const std::filesystem::path& to) {
    FailurePoint("replace");
    if (!MoveFileExW(from.wstring().c_str(), to.wstring().c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Fail(to, "cannot replace", GetLastError());
    }
}

void SyncDirectory(const std::filesystem::path&) {}

} // namespace kelvara::paradox::platform
