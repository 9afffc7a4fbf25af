#pragma once
// Writes PE files with a resource section from a short description, for tests:
//
//   using namespace kelvara::test::pe;
//   Image image;
//   image.resources = {{Id(10), Named(u"TFORM1"), {{0x409, Bytes("TPF0...")}}}};
//   Built built = Build(image);   // built.bytes is the file; built.layout says where things are
//
// Types and names are written as given: named entries first (in the order given), then numeric
// ones (in the order given). The resource section's RVA differs from its file offset so that a
// reader that confuses the two fails.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvara::test::pe {

struct ResId {
    std::optional<std::uint32_t> id;
    std::u16string name;
};
inline ResId Id(std::uint32_t id) {
    return ResId{id, {}};
}
inline ResId Named(std::u16string name) {
    return ResId{std::nullopt, std::move(name)};
}

struct Language {
    std::uint16_t language = 0;
    std::vector<std::uint8_t> data;
};

struct Resource {
    ResId type;
    ResId name;
    std::vector<Language> languages;
};

struct Image {
    bool is64Bit = false;
    // Size of the optional header; 0 gives the standard 224 (32-bit) or 240 (64-bit).
    std::uint16_t optionalHeaderSize = 0;
    // Sections written before the resource section (names only, no contents).
    std::vector<std::string> sectionsBefore;
    std::string resourceSectionName = ".rsrc";
    bool withResourceSection = true;
    std::vector<Resource> resources;
};

// Where the builder put things. Offsets marked "file" are from the start of the file; the rest
// are from the start of the resource section.
struct Layout {
    std::uint32_t ntHeaders = 0;    // file
    std::uint32_t sectionTable = 0; // file
    std::uint32_t resourceBase = 0; // file
    std::uint32_t resourceRva = 0;
    // Per type (in written order): its entry in the root directory and its directory.
    std::vector<std::uint32_t> typeEntries;
    std::vector<std::uint32_t> typeDirectories;
    // Per type, per resource: its entry and its (language) directory.
    std::vector<std::vector<std::uint32_t>> nameEntries;
    std::vector<std::vector<std::uint32_t>> nameDirectories;
    // Per type, per resource, per language: its entry and its data entry.
    std::vector<std::vector<std::vector<std::uint32_t>>> languageEntries;
    std::vector<std::vector<std::vector<std::uint32_t>>> dataEntries;
};

struct Built {
    std::vector<std::uint8_t> bytes;
    Layout layout;

    // Little-endian writes into the file at a file offset, for corrupting chosen fields.
    void Put16(std::uint32_t fileOffset, std::uint16_t value);
    void Put32(std::uint32_t fileOffset, std::uint32_t value);
    // The same at an offset from the resource section's start.
    void PutResource32(std::uint32_t offset, std::uint32_t value) {
        Put32(layout.resourceBase + offset, value);
    }
    void PutResource16(std::uint32_t offset, std::uint16_t value) {
        Put16(layout.resourceBase + offset, value);
    }
};

Built Build(const Image& image);

std::vector<std::uint8_t> Bytes(const std::string& text);

} // namespace kelvara::test::pe
