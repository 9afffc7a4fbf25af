#include "scan/pe_builder.h"

#include <map>

namespace kelvara::test::pe {
namespace {

constexpr std::uint32_t kNtHeaders = 0x80;
constexpr std::uint32_t kResourceRva = 0x3000;
constexpr std::uint32_t kHighBit = 0x80000000u;

void Put(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t value, int bytes) {
    if (out.size() < at + static_cast<std::size_t>(bytes)) {
        out.resize(at + static_cast<std::size_t>(bytes));
    }
    for (int i = 0; i < bytes; ++i) {
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void Align(std::vector<std::uint8_t>& out, std::size_t alignment) {
    out.resize((out.size() + alignment - 1) / alignment * alignment);
}

// Groups resources by type and name, keeping first appearance order, named entries first.
struct NameGroup {
    ResId name;
    std::vector<Language> languages;
};
struct TypeGroup {
    ResId type;
    std::vector<NameGroup> names;
};

bool SameId(const ResId& a, const ResId& b) {
    return a.id == b.id && a.name == b.name;
}

template <typename T, typename Key>
std::vector<T> NamedFirst(const std::vector<T>& groups, Key key) {
    std::vector<T> ordered;
    for (const T& group : groups) {
        if (!key(group).id) {
            ordered.push_back(group);
        }
    }
    for (const T& group : groups) {
        if (key(group).id) {
            ordered.push_back(group);
        }
    }
    return ordered;
}

std::vector<TypeGroup> Group(const std::vector<Resource>& resources) {
    std::vector<TypeGroup> types;
    for (const Resource& resource : resources) {
        TypeGroup* type = nullptr;
        for (TypeGroup& candidate : types) {
            if (SameId(candidate.type, resource.type)) {
                type = &candidate;
            }
        }
        if (type == nullptr) {
            type = &types.emplace_back(TypeGroup{resource.type, {}});
        }
        type->names.push_back(NameGroup{resource.name, resource.languages});
    }
    types = NamedFirst(types, [](const TypeGroup& g) { return g.type; });
    for (TypeGroup& type : types) {
        type.names = NamedFirst(type.names, [](const NameGroup& g) { return g.name; });
    }
    return types;
}

// The resource section: directories, then name strings, then data entries, then data.
std::vector<std::uint8_t> ResourceSection(const std::vector<TypeGroup>& types, Layout& layout) {
    std::vector<std::uint8_t> section;
    auto directory = [&](std::size_t named, std::size_t ids) {
        const auto at = static_cast<std::uint32_t>(section.size());
        Put(section, at + 12, named, 2);
        Put(section, at + 14, ids, 2);
        section.resize(at + 16 + 8 * (named + ids));
        return at;
    };
    auto countNamed = [](const auto& groups, auto key) {
        std::size_t named = 0;
        for (const auto& group : groups) {
            named += key(group).id ? 0 : 1;
        }
        return named;
    };
    struct PendingName {
        std::uint32_t entry;
        std::u16string name;
    };
    std::vector<PendingName> names;
    struct PendingData {
        std::uint32_t entry;
        const std::vector<std::uint8_t>* data;
    };
    std::vector<PendingData> data;
    auto writeId = [&](std::uint32_t entry, const ResId& id) {
        if (id.id) {
            Put(section, entry, *id.id, 4);
        } else {
            names.push_back({entry, id.name});
        }
    };

    const std::size_t namedTypes = countNamed(types, [](const TypeGroup& g) { return g.type; });
    const std::uint32_t root = directory(namedTypes, types.size() - namedTypes);
    for (std::size_t t = 0; t < types.size(); ++t) {
        layout.typeEntries.push_back(root + 16 + 8 * static_cast<std::uint32_t>(t));
    }
    layout.nameEntries.resize(types.size());
    layout.nameDirectories.resize(types.size());
    layout.languageEntries.resize(types.size());
    layout.dataEntries.resize(types.size());
    for (std::size_t t = 0; t < types.size(); ++t) {
        const TypeGroup& type = types[t];
        const std::size_t named = countNamed(type.names, [](const NameGroup& g) { return g.name; });
        const std::uint32_t typeDirectory = directory(named, type.names.size() - named);
        layout.typeDirectories.push_back(typeDirectory);
        writeId(layout.typeEntries[t], type.type);
        Put(section, layout.typeEntries[t] + 4, kHighBit | typeDirectory, 4);
        for (std::size_t n = 0; n < type.names.size(); ++n) {
            const NameGroup& name = type.names[n];
            const std::uint32_t nameEntry = typeDirectory + 16 + 8 * static_cast<std::uint32_t>(n);
            const std::uint32_t nameDirectory = directory(0, name.languages.size());
            layout.nameEntries[t].push_back(nameEntry);
            layout.nameDirectories[t].push_back(nameDirectory);
            writeId(nameEntry, name.name);
            Put(section, nameEntry + 4, kHighBit | nameDirectory, 4);
            layout.languageEntries[t].emplace_back();
            for (std::size_t l = 0; l < name.languages.size(); ++l) {
                const std::uint32_t languageEntry =
                    nameDirectory + 16 + 8 * static_cast<std::uint32_t>(l);
                Put(section, languageEntry, name.languages[l].language, 4);
                layout.languageEntries[t].back().push_back(languageEntry);
                data.push_back({languageEntry, &name.languages[l].data});
            }
        }
    }
    for (const PendingName& name : names) {
        Align(section, 2);
        const auto at = static_cast<std::uint32_t>(section.size());
        Put(section, name.entry, kHighBit | at, 4);
        Put(section, at, name.name.size(), 2);
        for (std::size_t i = 0; i < name.name.size(); ++i) {
            Put(section, at + 2 + 2 * i, name.name[i], 2);
        }
        section.resize(at + 2 + 2 * name.name.size());
    }
    Align(section, 4);
    std::map<std::uint32_t, std::uint32_t> dataEntryOf;
    for (const PendingData& item : data) {
        const auto at = static_cast<std::uint32_t>(section.size());
        section.resize(at + 16);
        Put(section, item.entry + 4, at, 4);
        dataEntryOf[item.entry] = at;
    }
    for (const PendingData& item : data) {
        Align(section, 4);
        const auto at = static_cast<std::uint32_t>(section.size());
        Put(section, dataEntryOf[item.entry], kResourceRva + at, 4);
        Put(section, dataEntryOf[item.entry] + 4, item.data->size(), 4);
        section.insert(section.end(), item.data->begin(), item.data->end());
    }
    for (std::size_t t = 0; t < layout.languageEntries.size(); ++t) {
        layout.dataEntries[t].resize(layout.languageEntries[t].size());
        for (std::size_t n = 0; n < layout.languageEntries[t].size(); ++n) {
            for (const std::uint32_t entry : layout.languageEntries[t][n]) {
                layout.dataEntries[t][n].push_back(dataEntryOf[entry]);
            }
        }
    }
    Align(section, 0x200);
    return section;
}

} // namespace

void Built::Put16(std::uint32_t fileOffset, std::uint16_t value) {
    Put(bytes, fileOffset, value, 2);
}
void Built::Put32(std::uint32_t fileOffset, std::uint32_t value) {
    Put(bytes, fileOffset, value, 4);
}

Built Build(const Image& image) {
    Built built;
    Layout& layout = built.layout;
    std::vector<std::uint8_t>& out = built.bytes;
    const std::uint16_t optionalSize =
        image.optionalHeaderSize != 0 ? image.optionalHeaderSize : (image.is64Bit ? 240 : 224);
    const std::size_t sections = image.sectionsBefore.size() + (image.withResourceSection ? 1 : 0);

    out.assign(kNtHeaders, 0);
    out[0] = 'M';
    out[1] = 'Z';
    Put(out, 60, kNtHeaders, 4);
    layout.ntHeaders = kNtHeaders;
    Put(out, kNtHeaders, 0x00004550, 4);
    Put(out, kNtHeaders + 4, image.is64Bit ? 0x8664 : 0x14C, 2);
    Put(out, kNtHeaders + 6, sections, 2);
    Put(out, kNtHeaders + 20, optionalSize, 2);
    Put(out, kNtHeaders + 22, 0x0102, 2);
    out.resize(kNtHeaders + 24 + optionalSize);
    if (optionalSize >= 2) {
        Put(out, kNtHeaders + 24, image.is64Bit ? 0x20B : 0x10B, 2);
    }
    layout.sectionTable = static_cast<std::uint32_t>(out.size());
    out.resize(out.size() + 40 * sections);
    Align(out, 0x200);

    std::uint32_t header = layout.sectionTable;
    std::uint32_t rva = 0x1000;
    for (const std::string& name : image.sectionsBefore) {
        for (std::size_t i = 0; i < name.size() && i < 8; ++i) {
            out[header + i] = static_cast<std::uint8_t>(name[i]);
        }
        Put(out, header + 12, rva, 4);
        rva += 0x1000;
        header += 40;
    }
    if (image.withResourceSection) {
        const std::vector<std::uint8_t> section = ResourceSection(Group(image.resources), layout);
        layout.resourceBase = static_cast<std::uint32_t>(out.size());
        layout.resourceRva = kResourceRva;
        for (std::size_t i = 0; i < image.resourceSectionName.size() && i < 8; ++i) {
            out[header + i] = static_cast<std::uint8_t>(image.resourceSectionName[i]);
        }
        Put(out, header + 8, section.size(), 4);
        Put(out, header + 12, kResourceRva, 4);
        Put(out, header + 16, section.size(), 4);
        Put(out, header + 20, layout.resourceBase, 4);
        out.insert(out.end(), section.begin(), section.end());
    }
    return built;
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

} // namespace kelvara::test::pe
