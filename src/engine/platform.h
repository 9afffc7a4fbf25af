#pragma once
// The operating system underneath the table storage: files with positioned reads and writes,
// the two locks every table file carries, and the few directory operations a commit needs. One
// implementation per system (platform_posix.cpp, platform_windows.cpp).
//
// Locks. Each .db file carries an open lock (shared for a normal open, exclusive for an exclusive
// one) and a commit lock (exclusive while a commit writes, shared while a table loads its
// snapshot). Both belong to the File object that took them, conflict with every other File object
// of the same file in this process and in others, and vanish when the File is closed or the
// process dies. (POSIX record locks would neither conflict within a process nor survive closing
// another descriptor of the file; the POSIX side uses flock and open-file-description locks.)

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace kelvara::paradox::platform {

// Memory for file images. Large blocks come straight from the system, in huge pages where it
// offers them: a table file read whole and then walked costs far fewer page faults and TLB misses
// that way. AllocateImage throws std::bad_alloc; FreeImage takes the same size back.
void* AllocateImage(std::size_t bytes);
void FreeImage(void* memory, std::size_t bytes) noexcept;

// An allocator that leaves new bytes uninitialised, for buffers that are read into at once.
template <typename T> struct UninitialisedAllocator : std::allocator<T> {
    template <typename U> struct rebind { using other = UninitialisedAllocator<U>; };
    UninitialisedAllocator() = default;
    template <typename U> UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    T* allocate(std::size_t count) { return static_cast<T*>(AllocateImage(count * sizeof(T))); }
    void deallocate(T* memory, std::size_t count) noexcept { FreeImage(memory, count * sizeof(T)); }
    template <typename U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <typename U, typename... Args> void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
// File contents in memory.
using ByteBuffer = std::vector<std::uint8_t, UninitialisedAllocator<std::uint8_t>>;

// Identity of a file independent of the path that named it.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileId&) const = default;
    bool operator<(const FileId& other) const {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};

struct FileStatus {
    bool exists = false;
    std::uint64_t size = 0;
    std::int64_t modified = 0; // nanoseconds (POSIX) or 100 ns units (Windows)
};

enum class LockKind { Shared, Exclusive };

// Failures of the operating system, with the path and the system's reason in the message.
// Thrown as kelvara::paradox::EParadoxError.
class File {
public:
    enum class Mode { Read, ReadWrite, CreateReadWrite };

    // Throws EParadoxError ("<path>: cannot open: <reason>").
    File(const std::filesystem::path& path, Mode mode);
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    bool Writable() const { return mode_ != Mode::Read; }
    std::uint64_t Size() const;
    FileId Id() const;
    FileStatus Status() const;
    // Reads exactly size bytes at offset; throws when the file is shorter.
    void ReadAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const;
    ByteBuffer ReadAll() const;
    // Writes, truncations and syncs are the points where a test can make the system fail.
    void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
    void Resize(std::uint64_t size);
    // Sets disk space aside for length bytes at offset (beyond the end, the size unchanged), so
    // that a later write there does not fail for want of space. Throws when the disk is full;
    // does nothing where the file system cannot do it.
    void Reserve(std::uint64_t offset, std::uint64_t length);
    void Sync();

    // False when another File holds a conflicting lock.
    bool TryLockOpen(LockKind kind);
    // Waits up to timeoutMs for the lock; false when it did not come.
    bool LockCommit(LockKind kind, int timeoutMs);
    void UnlockCommit();

private:
    void Close() noexcept;

    std::filesystem::path path_;
    Mode mode_ = Mode::Read;
    std::intptr_t handle_ = -1;
};

FileStatus StatusOf(const std::filesystem::path& path);
// Removes a file; a missing file is not an error. A failure point for tests.
void RemoveFile(const std::filesystem::path& path);
// Replaces to with from. A failure point for tests.
void MoveFileOver(const std::filesystem::path& from, const std::filesystem::path& to);
// Makes the directory entries of a folder durable (no-op where the system has no such call).
void SyncDirectory(const std::filesystem::path& folder);

// Test hook: called before every write, resize, sync, removal and replacement with a short name of
// the operation; it may throw (an injected failure) or end the process (an injected crash).
// Process-wide; empty by default.
void SetFailurePointHook(std::function<void(const char* operation)> hook);
void FailurePoint(const char* operation);

} // namespace kelvara::paradox::platform
