#pragma once
// Inside the table storage: the .mb BLOB file. Reading a value a record's descriptor points to,
// and the allocation of space for the values a commit writes (reusing freed space and giving the
// tail of the file back). docs/formats/paradox.md describes the layout.

#include "engine/paradox_format.h"
#include "text/byte_reader.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::paradox::detail {

constexpr std::uint32_t kMbBlockSize = 4096;
// Values up to this length share blocks (64 slots of 16-byte chunks); longer ones get blocks of
// their own.
constexpr std::uint32_t kSharedValueLimit = 2048;

// The value ref points to in the .mb bytes. Graphic values lose the 8-byte header the file keeps
// before the image. Throws EParadoxError naming fileName and the fault.
std::span<const std::uint8_t> ReadMbValue(ByteReader mb, const BlobRef& ref, FieldType type,
                                          const std::filesystem::path& file);

// The first block of a new .mb file.
std::vector<std::uint8_t> NewMbHeaderBlock();

// Fixed-size pages of a file as a commit changes them: copies of the pages it touched, the rest
// read from the snapshot. Pages beyond the snapshot read as zeros.
using PageReader = std::function<void(std::uint64_t offset, std::span<std::uint8_t> bytes)>;

class PageOverlay {
public:
    // read fills bytes from the file as it is (baseSize bytes long).
    PageOverlay(PageReader read, std::uint64_t baseSize, std::uint64_t start,
                std::uint32_t pageSize)
        : read_(std::move(read)), baseSize_(baseSize), start_(start), pageSize_(pageSize) {}

    std::uint32_t PageSize() const { return pageSize_; }
    std::uint64_t PageOffset(std::uint32_t index) const {
        return start_ + static_cast<std::uint64_t>(index) * pageSize_;
    }
    struct CopiedPage {
        std::vector<std::uint8_t> original; // the file's bytes, zeros beyond its end
        std::vector<std::uint8_t> current;
    };
    // A page to change (copied on first use).
    std::span<std::uint8_t> Page(std::uint32_t index);
    // The current bytes of a page (its changed copy or the file's).
    std::vector<std::uint8_t> Current(std::uint32_t index) const;
    // The file's bytes of a page, zeros beyond its end.
    std::vector<std::uint8_t> Original(std::uint32_t index) const;
    const std::map<std::uint32_t, CopiedPage>& Changed() const { return pages_; }
    void Drop(std::uint32_t index) { pages_.erase(index); }

private:
    PageReader read_;
    std::uint64_t baseSize_;
    std::uint64_t start_;
    std::uint32_t pageSize_;
    std::map<std::uint32_t, CopiedPage> pages_;
};

// The values the records of a table point to in its .mb: which slots of which shared blocks (and
// how many 16-byte chunks their lengths need), which blocks start a value of their own. Space
// nothing points to is free, whatever the file's block headers still say.
class MbReferences {
public:
    explicit MbReferences(std::uint64_t mbSize);
    // Adds a value stored in the file (ref.InMb()). False when it lies outside the file or another
    // value already points there.
    bool Add(const BlobRef& ref);
    // Adds what other holds (gathered from other records of the same file); false when both
    // point to one place.
    bool Merge(const MbReferences& other);

    struct SharedUse {
        std::uint64_t slots = 0; // a bit per slot
        std::uint32_t chunks = 0;
    };
    const std::vector<SharedUse>& Shared() const { return shared_; } // by block
    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& Own() const { return own_; }
    std::size_t BlockCount() const { return shared_.size(); }

private:
    std::vector<SharedUse> shared_;
    std::vector<std::uint8_t> startsOwn_;                      // by block
    std::vector<std::pair<std::uint32_t, std::uint32_t>> own_; // (start block, value length)
};

// Which blocks of a .mb file are free, which shared blocks have room. Built once from the values
// its table's records point to, and carried along by each commit.
//
// Freeing writes nothing: a freed value's slot or blocks stay as they are in the file, and only
// this map knows them free (a fresh one, built from the records, knows it again). So a commit
// writes only the pages that take its new values, and those go together: a shared block takes new
// values only while at least half of it is free, otherwise new values start a fresh block. The
// file stays within about twice the size of the values in it.
class MbSpace {
public:
    // From what the records point to; reads the header block and the first block of each value
    // stored in blocks of its own. Throws EParadoxError when those are damaged or overlap (a commit
    // then refuses to write BLOBs; reading still works value by value).
    static MbSpace Build(const MbReferences& inUse, const PageReader& read, std::uint64_t size,
                         const std::string& fileName);
    static MbSpace Empty(); // a file holding only its header block

    std::uint32_t BlockCount() const { return blockCount_; }

    // Stores a value (longer than 0 bytes) and returns its descriptor (offset, index, length,
    // mod). Pages it changes go to pages. Throws EParadoxError when a block it would share turns
    // out damaged.
    BlobRef Store(std::string_view value, std::uint16_t mod, PageOverlay& pages);
    // Gives back the space of a value stored in the file.
    void Free(const BlobRef& ref);
    // Gives the free blocks at the end of the file back; bumps the header's change count.
    void Finish(PageOverlay& pages);

private:
    static constexpr std::uint32_t kChunks = 235; // of a shared block, for values

    struct Shared {
        std::uint64_t usedSlots = 0;
        std::uint16_t freeChunks = 0;
    };
    // What is known of each block of the file.
    struct Block {
        std::uint64_t usedSlots = 0; // of a shared block
        std::uint32_t ownBlocks = 0; // blocks of the value of its own that starts here, or 0
        std::uint32_t roomyPrev = 0, roomyNext = 0; // among the blocks with as many free chunks
        std::uint16_t freeChunks = 0;
        bool shared = false; // a shared block this map keeps
        bool roomy = false;  // listed by its free chunks (a slot and a chunk free)
    };
    std::uint32_t TakeBlocks(std::uint32_t count);
    void AddFreeRun(std::uint32_t start, std::uint32_t count);
    BlobRef StoreShared(std::string_view value, std::uint16_t mod, PageOverlay& pages);
    std::uint32_t SharedBlockFor(std::uint32_t chunks, PageOverlay& pages);
    bool HasRoom(std::uint32_t block, std::uint32_t chunks) const;
    void SetShared(std::uint32_t block, const Shared& shared);
    void DropShared(std::uint32_t block);
    void Unlist(std::uint32_t block);
    void SetBlockCount(std::uint32_t count);

    std::string fileName_; // for the messages
    std::uint32_t blockCount_ = 1;
    std::map<std::uint32_t, std::uint32_t> freeRuns_; // start block -> block count
    std::vector<Block> blocks_ = std::vector<Block>(1);
    // The first block of each list of shared blocks with so many free chunks (0: none).
    std::array<std::uint32_t, kChunks + 1> roomy_{};
    // The shared blocks that took the last values, the latest first: values of one commit go
    // together, so that the commit changes few pages.
    std::array<std::uint32_t, 8> recent_{};
};

} // namespace kelvara::paradox::detail
