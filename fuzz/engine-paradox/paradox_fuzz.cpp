// Fuzz target for the Paradox table reader and the BLOB space of the writer: the input is a .db
// and a .mb (a 4-byte little-endian length of the .db, then the .db, then the .mb). The table is
// opened, every value read, and one BLOB changed; anything but EParadoxError is a fault.
#include "engine/paradox_table.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using kelvara::paradox::EParadoxError;
using kelvara::paradox::FieldValue;
using kelvara::paradox::IsBlobType;
using kelvara::paradox::ParadoxTable;
using kelvara::paradox::Transaction;

void Write(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file != nullptr) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
}

const std::filesystem::path& Folder() {
    static const std::filesystem::path folder = [] {
        auto path = std::filesystem::temp_directory_path() /
                    ("kelvara-fuzz-paradox-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::size_t dbSize =
        std::min<std::size_t>(size - 4, data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24);
    const auto db = Folder() / "t.db";
    const auto mb = Folder() / "t.mb";
    std::filesystem::remove(Folder() / "t.px");
    std::filesystem::remove(Folder() / "t.db-journal");
    Write(db, data + 4, dbSize);
    Write(mb, data + 4 + dbSize, size - 4 - dbSize);
    try {
        auto table = ParadoxTable::Open(db);
        int blob = -1;
        for (std::uint32_t r = 0; r < table->RecordCount(); ++r) {
            for (std::size_t f = 0; f < table->Info().fields.size(); ++f) {
                if (IsBlobType(table->Info().fields[f].def.type)) {
                    blob = static_cast<int>(f);
                }
                try {
                    table->Read(r, static_cast<int>(f)).DisplayText();
                } catch (const EParadoxError&) {
                }
            }
        }
        // Commits flush to disk and are slow; a quarter of the inputs take that path.
        if ((size & 3) == 0 && blob >= 0 && table->RecordCount() > 0 &&
            table->Info().fields[blob].def.type != kelvara::paradox::FieldType::Graphic) {
            Transaction batch(*table);
            auto record = table->EditRecord(0);
            record.Set(blob, FieldValue::FromBytes(std::string(3000, 'x')));
            batch.Update(0, std::move(record));
            batch.Delete(table->RecordCount() - 1);
            batch.Commit();
            table->Reload();
        }
    } catch (const EParadoxError&) {
    }
    return 0;
}
