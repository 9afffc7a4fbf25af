#include "scan/exe_image.h"

#include "text/ascii.h"
#include "text/unicode.h"
#include "text/utf8_path.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <new>

namespace kelvara {
namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint32_t kPeSignature = 0x00004550u; // "PE\0\0"
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint64_t kDirectorySize = 16;
constexpr std::uint64_t kEntrySize = 8;
constexpr std::uint64_t kDataEntrySize = 16;
constexpr std::uint64_t kSectionHeaderSize = 40;
// Type, name and language: the lists a caller can reach are the type list and the name lists.
constexpr int kDeepestList = 2;

constexpr std::array<std::string_view, 17> kTypeNames = {
    "Unknown0", "CursorEntry", "Bitmap", "IconEntry",    "Menu",   "Dialog",
    "String",   "FontDir",     "Font",   "Accelerators", "RCData", "MessageTable",
    "Cursor",   "Unknown13",   "Icon",   "Unknown15",    "Version"};

std::vector<std::uint8_t> ReadWholeFile(const std::string& fileName) {
    const std::filesystem::path path = Utf8ToPath(fileName);
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw EExeError("Couldn't open: " + fileName);
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw EExeError("Couldn't open: " + fileName);
    }
    // An empty file cannot be mapped, nor can one whose size cannot be taken.
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size == 0) {
        throw EExeError("CreateFileMapping failed");
    }
    std::vector<std::uint8_t> bytes;
    try {
        if (size > bytes.max_size()) {
            throw std::bad_alloc();
        }
        bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        throw EExeError("MapViewOfFile failed");
    }
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::uintmax_t>(in.gcount()) != size) {
        throw EExeError("MapViewOfFile failed");
    }
    return bytes;
}

} // namespace

std::string_view ResourceTypeName(std::int64_t type) {
    if (type < 0 || type >= static_cast<std::int64_t>(kTypeNames.size())) {
        return {};
    }
    return kTypeNames[static_cast<std::size_t>(type)];
}

// ---- TExeImage

TExeImage::TExeImage(std::string fileName) : FFileName(std::move(fileName)) {
    FBytes = ReadWholeFile(FFileName);
    FView = ByteReader(FBytes);
    CheckHeaders();
}

TExeImage::TExeImage(std::vector<std::uint8_t> bytes, std::string displayName)
    : FFileName(std::move(displayName)), FBytes(std::move(bytes)), FView(FBytes) {
    if (FBytes.empty()) {
        throw EExeError("CreateFileMapping failed");
    }
    CheckHeaders();
}

TExeImage::~TExeImage() = default;

void TExeImage::CheckHeaders() {
    if (!FView.Has(0, 2) || FView.Chars(0, 2) != "MZ") {
        throw EExeError("unrecognized file format");
    }
    const EExeError notPe("Not a PE (WIN32 Executable) file");
    if (!FView.Has(60, 4)) {
        throw notPe;
    }
    // Signature (4), file header (20), optional header of its own stated size, then the section
    // table: all of it must lie in the file.
    const std::uint32_t ntHeaders = FView.U32LE(60);
    if (!FView.Has(ntHeaders, 24) || FView.U32LE(ntHeaders) != kPeSignature) {
        throw notPe;
    }
    const std::uint16_t sections = FView.U16LE(ntHeaders + 6);
    const std::uint16_t optionalHeaderSize = FView.U16LE(ntHeaders + 20);
    const std::uint64_t sectionTable = std::uint64_t{ntHeaders} + 24 + optionalHeaderSize;
    if (!FView.Has(sectionTable, kSectionHeaderSize * sections)) {
        throw notPe;
    }
    FNtHeaders = ntHeaders;
    FSectionTable = static_cast<std::uint32_t>(sectionTable);
    FNumberOfSections = sections;
    FIs64Bit = optionalHeaderSize >= 2 && FView.U16LE(ntHeaders + 24) == kPe32PlusMagic;
}

std::optional<TSectionHeader> TExeImage::FindSection(std::string_view name) const {
    for (std::uint32_t i = 0; i < FNumberOfSections; ++i) {
        const std::uint64_t header = FSectionTable + kSectionHeaderSize * i;
        std::string_view stored = FView.Chars(header, 8);
        stored = stored.substr(0, stored.find('\0'));
        if (AsciiEqualIgnoringCase(stored, name)) {
            TSectionHeader section;
            section.Name = std::string(stored);
            section.VirtualSize = FView.U32LE(header + 8);
            section.VirtualAddress = FView.U32LE(header + 12);
            section.SizeOfRawData = FView.U32LE(header + 16);
            section.PointerToRawData = FView.U32LE(header + 20);
            return section;
        }
    }
    return std::nullopt;
}

TResourceList& TExeImage::Resources() {
    if (!FResources) {
        const std::optional<TSectionHeader> section = FindSection(".rsrc");
        if (!section) {
            throw EExeError("No resources in this file.");
        }
        FResourceBase = section->PointerToRawData;
        FResourceRva = section->VirtualAddress;
        FResources.reset(new TResourceList(*this, nullptr, 0, 0));
    }
    return *FResources;
}

// ---- TResourceList

TResourceList::TResourceList(TExeImage& image, const TResourceList* parent, std::uint32_t directory,
                             std::int64_t resourceType)
    : FImage(image), FParent(parent), FDirectory(directory), FResourceType(resourceType),
      FDepth(parent == nullptr ? 1 : parent->FDepth + 1) {
    const ByteReader& view = FImage.View();
    const std::uint64_t at = std::uint64_t{FImage.ResourceBase()} + FDirectory;
    if (!view.Has(at, kDirectorySize)) {
        throw EExeError("Resource directory lies outside the file");
    }
    const std::uint64_t entries =
        std::uint64_t{view.U16LE(at + 12)} + std::uint64_t{view.U16LE(at + 14)};
    if (!view.Has(at + kDirectorySize, entries * kEntrySize)) {
        throw EExeError("Resource directory entries lie outside the file");
    }
}

TResourceList::~TResourceList() = default;

void TResourceList::BuildItems() {
    if (FBuilt) {
        return;
    }
    const ByteReader& view = FImage.View();
    const std::uint64_t at = std::uint64_t{FImage.ResourceBase()} + FDirectory;
    const std::uint32_t entries = std::uint32_t{view.U16LE(at + 12)} + view.U16LE(at + 14);
    FItems.reserve(entries);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const auto entry = static_cast<std::uint32_t>(FDirectory + kDirectorySize + kEntrySize * i);
        std::unique_ptr<TResourceItem> item(new TResourceItem(*this, entry));
        // The individual cursor and icon images are held by the image, not listed: only their
        // groups are.
        if (FDepth == 1 && item->NameField() == rtCursorEntry) {
            if (!FImage.FCursorEntryItem) {
                FImage.FCursorEntryItem = std::move(item);
            }
        } else if (FDepth == 1 && item->NameField() == rtIconEntry) {
            if (!FImage.FIconEntryItem) {
                FImage.FIconEntryItem = std::move(item);
            }
        } else {
            FItems.push_back(std::move(item));
        }
    }
    FBuilt = true;
}

int TResourceList::Count() {
    BuildItems();
    return static_cast<int>(FItems.size());
}

TResourceItem& TResourceList::Items(int index) {
    BuildItems();
    if (index < 0 || index >= static_cast<int>(FItems.size())) {
        throw std::out_of_range("Resource list index out of range");
    }
    return *FItems[static_cast<std::size_t>(index)];
}

// ---- TResourceItem

TResourceItem::TResourceItem(TResourceList& owner, std::uint32_t entry)
    : FOwner(owner), FEntry(entry) {
    const ByteReader& view = FOwner.Image().View();
    const std::uint64_t at = std::uint64_t{FOwner.Image().ResourceBase()} + FEntry;
    FNameField = view.U32LE(at);
    FOffsetField = view.U32LE(at + 4);
}

TResourceItem::~TResourceItem() = default;

std::string TResourceItem::Name() const {
    if ((FNameField & kHighBit) == 0) {
        if (FOwner.Depth() == 1 && FNameField <= rtVersion) {
            return std::string(ResourceTypeName(FNameField));
        }
        return std::to_string(FNameField);
    }
    const ByteReader& view = FOwner.Image().View();
    const std::uint64_t at =
        std::uint64_t{FOwner.Image().ResourceBase()} + (FNameField & ~kHighBit);
    if (!view.Has(at, 2) || !view.Has(at + 2, std::uint64_t{view.U16LE(at)} * 2)) {
        throw EExeError("Resource name lies outside the file");
    }
    const auto bytes = view.Bytes(at + 2, std::uint64_t{view.U16LE(at)} * 2);
    std::u16string wide(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < wide.size(); ++i) {
        wide[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return WideToUtf8String(wide);
}

std::uint32_t TResourceItem::Subdirectory() const {
    if ((FOffsetField & kHighBit) == 0) {
        throw EExeError("Resource entry does not lead to a directory");
    }
    const std::uint32_t directory = FOffsetField & ~kHighBit;
    for (const TResourceList* list = &FOwner; list != nullptr; list = list->FParent) {
        if (list->FDirectory == directory) {
            throw EExeError("Resource directory loops back on itself");
        }
    }
    return directory;
}

std::optional<std::uint32_t> TResourceItem::FirstChildEntry() const {
    const std::uint32_t directory = Subdirectory();
    const ByteReader& view = FOwner.Image().View();
    const std::uint64_t at = std::uint64_t{FOwner.Image().ResourceBase()} + directory;
    if (!view.Has(at, kDirectorySize)) {
        throw EExeError("Resource directory lies outside the file");
    }
    if (view.U16LE(at + 12) == 0 && view.U16LE(at + 14) == 0) {
        return std::nullopt;
    }
    if (!view.Has(at + kDirectorySize, kEntrySize)) {
        throw EExeError("Resource directory entries lie outside the file");
    }
    return static_cast<std::uint32_t>(directory + kDirectorySize);
}

bool TResourceItem::IsList() const {
    const std::optional<std::uint32_t> first = FirstChildEntry();
    if (!first) {
        return FOwner.Depth() == 1; // a type without resources is an empty list
    }
    const ByteReader& view = FOwner.Image().View();
    const std::uint64_t at = std::uint64_t{FOwner.Image().ResourceBase()} + *first;
    return (view.U32LE(at + 4) & kHighBit) != 0;
}

TResourceList& TResourceItem::List() {
    if (!IsList()) {
        throw EExeError("ResourceItem is not a list");
    }
    if (!FList) {
        if (FOwner.Depth() >= kDeepestList) {
            throw EExeError("Resource directories nest deeper than an executable's can");
        }
        const std::int64_t type =
            FOwner.Depth() == 1 ? std::int64_t{static_cast<std::int32_t>(FNameField)} : 0;
        FList.reset(new TResourceList(FOwner.Image(), &FOwner, Subdirectory(), type));
    }
    return *FList;
}

std::span<const std::uint8_t> TResourceItem::RawData() const {
    if (IsList()) {
        return {};
    }
    const std::optional<std::uint32_t> first = FirstChildEntry();
    if (!first) {
        return {};
    }
    const TExeImage& image = FOwner.Image();
    const ByteReader& view = image.View();
    const std::uint64_t entryAt = std::uint64_t{image.ResourceBase()} + *first;
    const std::uint64_t dataEntry = std::uint64_t{image.ResourceBase()} + view.U32LE(entryAt + 4);
    if (!view.Has(dataEntry, kDataEntrySize)) {
        throw EExeError("Resource data entry lies outside the file");
    }
    const std::uint32_t rva = view.U32LE(dataEntry);
    const std::uint32_t size = view.U32LE(dataEntry + 4);
    const std::uint64_t data = std::uint64_t{image.ResourceBase()} + rva - image.ResourceRva();
    if (rva < image.ResourceRva() || !view.Has(data, size)) {
        throw EExeError("Resource data lies outside the file");
    }
    return view.Bytes(data, size);
}

std::uint32_t TResourceItem::Size() const {
    return static_cast<std::uint32_t>(RawData().size());
}

void TResourceItem::SaveToStream(TMemoryStream& stream) const {
    stream.Write(RawData());
}

} // namespace kelvara
