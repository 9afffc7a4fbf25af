#pragma once
// Reader of the resource tree of a Windows executable (PE file, 32- or 64-bit).
//
// TExeImage reads the whole file into memory when it is constructed and checks that it is a PE
// file. Resources() gives the top-level TResourceList: one TResourceItem per resource type; the
// List() of a type item holds one item per resource of that type, whose RawData() are its bytes
// (of the first language stored). Lists and items are made on first request and owned by the
// object that made them: the image owns the top-level list, a list owns its items, an item owns
// its list. References handed out stay valid as long as the image lives and must not outlive it.
//
// Nothing in the file is trusted: every offset, size and count is checked against the file before
// it is followed. A fault raises EExeError with a message that says what is wrong.

#include "scan/memory_stream.h"
#include "text/byte_reader.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara {

class EExeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The standard resource type identifiers; a top-level item with one of these numeric identifiers
// is named by the value's name without "rt" ("RCData" for 10).
enum TResourceType : int {
    rtUnknown0 = 0,
    rtCursorEntry = 1,
    rtBitmap = 2,
    rtIconEntry = 3,
    rtMenu = 4,
    rtDialog = 5,
    rtString = 6,
    rtFontDir = 7,
    rtFont = 8,
    rtAccelerators = 9,
    rtRCData = 10,
    rtMessageTable = 11,
    rtCursor = 12,
    rtUnknown13 = 13,
    rtIcon = 14,
    rtUnknown15 = 15,
    rtVersion = 16,
};

// "Unknown0" ... "Version" for 0 to 16; empty text for any other value.
std::string_view ResourceTypeName(std::int64_t type);

// One 40-byte section header, the fields the reader uses.
struct TSectionHeader {
    std::string Name; // up to 8 characters, without the padding zeros
    std::uint32_t VirtualSize = 0;
    std::uint32_t VirtualAddress = 0; // the section's RVA
    std::uint32_t SizeOfRawData = 0;
    std::uint32_t PointerToRawData = 0;
};

class TExeImage;
class TResourceItem;

// One resource directory.
class TResourceList {
public:
    TResourceList(const TResourceList&) = delete;
    TResourceList& operator=(const TResourceList&) = delete;
    virtual ~TResourceList();

    // Number of entries of the directory. Builds the item list on first use; raises EExeError
    // when the directory or its entries lie outside the file.
    int Count();
    // The item at index 0 .. Count() - 1; std::out_of_range for any other index.
    TResourceItem& Items(int index);

    // 0 for the top-level list; for the list of a top-level item, that item's 32-bit Name field
    // (the type identifier, negative for a string-named type); 0 below that.
    std::int64_t ResourceType() const { return FResourceType; }
    // 1 for the top-level list, 2 for the list of a type item.
    int Depth() const { return FDepth; }
    TExeImage& Image() const { return FImage; }

private:
    friend class TExeImage;
    friend class TResourceItem;
    TResourceList(TExeImage& image, const TResourceList* parent, std::uint32_t directory,
                  std::int64_t resourceType);
    void BuildItems();

    TExeImage& FImage;
    const TResourceList* FParent;
    std::uint32_t FDirectory; // offset of the directory from the resource section's start
    std::int64_t FResourceType;
    int FDepth;
    bool FBuilt = false;
    std::vector<std::unique_ptr<TResourceItem>> FItems;
};

// One directory entry.
class TResourceItem {
public:
    TResourceItem(const TResourceItem&) = delete;
    TResourceItem& operator=(const TResourceItem&) = delete;
    virtual ~TResourceItem();

    // A top-level item with a numeric identifier 0 to 16: the type's name ("RCData"); a
    // string-named entry: its name, converted from UTF-16 to UTF-8; otherwise the identifier in
    // decimal.
    virtual std::string Name() const;
    // True when the item's subdirectory holds further directories (a type item); false for a
    // resource. An empty subdirectory of a type item is an empty list.
    virtual bool IsList() const;
    // The list over the item's subdirectory, made once. Raises EExeError "ResourceItem is not a
    // list" when IsList() is false.
    virtual TResourceList& List();
    // The item's bytes inside the image (Size() of them); empty when IsList().
    std::span<const std::uint8_t> RawData() const;
    // Byte count of the data; 0 when IsList().
    std::uint32_t Size() const;
    // Writes the Size() bytes of RawData() at the stream's position.
    virtual void SaveToStream(TMemoryStream& stream) const;

    // The entry's 32-bit Name field, as stored.
    std::uint32_t NameField() const { return FNameField; }
    // The resource type of the list that holds the item.
    std::int64_t ResourceType() const { return FOwner.ResourceType(); }

private:
    friend class TResourceList;
    TResourceItem(TResourceList& owner, std::uint32_t entry);
    // Offset of the subdirectory, checked for faults (no subdirectory, loop, depth).
    std::uint32_t Subdirectory() const;
    // Offset of the first entry of the subdirectory, or none when it is empty.
    std::optional<std::uint32_t> FirstChildEntry() const;

    TResourceList& FOwner;
    std::uint32_t FEntry; // offset of the directory entry from the resource section's start
    std::uint32_t FNameField;
    std::uint32_t FOffsetField;
    std::unique_ptr<TResourceList> FList;
};

// The opened executable.
class TExeImage {
public:
    // Reads and checks the file. Raises EExeError "Couldn't open: " + fileName when it cannot be
    // opened, "CreateFileMapping failed" when its size cannot be taken or it is empty,
    // "MapViewOfFile failed" when its bytes cannot be read, "unrecognized file format" unless it
    // begins with "MZ", "Not a PE (WIN32 Executable) file" when the NT headers (signature, file
    // header, optional header and section table) do not lie in the file or their signature is not
    // "PE\0\0". fileName is UTF-8.
    explicit TExeImage(std::string fileName);
    // Builds an image over bytes already in memory (for callers that hold the file), checked as
    // above; displayName stands for the file name.
    TExeImage(std::vector<std::uint8_t> bytes, std::string displayName);
    TExeImage(const TExeImage&) = delete;
    TExeImage& operator=(const TExeImage&) = delete;
    ~TExeImage();

    const std::string& FileName() const { return FFileName; }
    // The top-level list, made on first call. Raises EExeError "No resources in this file." when
    // the file has no ".rsrc" section.
    TResourceList& Resources();
    // The first section header whose name equals name ignoring ASCII letter case.
    std::optional<TSectionHeader> FindSection(std::string_view name) const;
    // Whether the image is a 64-bit (PE32+) executable.
    bool Is64Bit() const { return FIs64Bit; }

    // The whole file.
    const ByteReader& View() const { return FView; }
    // File offset of the resource section's bytes, and its RVA; valid after Resources().
    std::uint32_t ResourceBase() const { return FResourceBase; }
    std::uint32_t ResourceRva() const { return FResourceRva; }

private:
    friend class TResourceList;
    friend class TResourceItem;
    void CheckHeaders();

    std::string FFileName;
    std::vector<std::uint8_t> FBytes;
    ByteReader FView;
    std::uint32_t FNtHeaders = 0;
    std::uint32_t FSectionTable = 0;
    std::uint16_t FNumberOfSections = 0;
    bool FIs64Bit = false;
    std::uint32_t FResourceBase = 0;
    std::uint32_t FResourceRva = 0;
    std::unique_ptr<TResourceList> FResources;
    // The top-level items of types 1 and 3, set aside instead of listed.
    std::unique_ptr<TResourceItem> FCursorEntryItem;
    std::unique_ptr<TResourceItem> FIconEntryItem;
};

} // namespace kelvara
