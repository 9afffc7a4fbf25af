#include "pxlib_table_writer.h"

extern "C" {
#include <paradox.h>
}

#include "store/language_catalogue.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace kelvara::testing {
namespace {

struct PxlibError {
    std::string message;
};

void RecordError(pxdoc_t* /*doc*/, int /*type*/, const char* message, void* data) {
    auto* error = static_cast<PxlibError*>(data);
    if (error != nullptr && error->message.empty()) {
        error->message = message != nullptr ? message : "unknown pxlib error";
    }
}

struct DocDeleter {
    void operator()(pxdoc_t* doc) const {
        PX_close(doc);
        PX_delete(doc);
    }
};
using Doc = std::unique_ptr<pxdoc_t, DocDeleter>;

Doc NewDoc(PxlibError& error) {
    Doc doc(PX_new3(RecordError, nullptr, nullptr, nullptr, &error));
    if (!doc) {
        throw std::runtime_error("pxlib: cannot make a document");
    }
    return doc;
}

char PxType(char letter) {
    switch (letter) {
    case 'A':
        return pxfAlpha;
    case '+':
        return pxfAutoInc;
    case 'I':
        return pxfLong;
    case 'S':
        return pxfShort;
    case 'B':
        return pxfBLOb;
    case 'M':
        return pxfMemoBLOb;
    default:
        throw std::invalid_argument(std::string("pxlib writer: unknown field type ") + letter);
    }
}

int PxSize(const PxColumn& column) {
    switch (column.Type) {
    case '+':
    case 'I':
        return 4;
    case 'S':
        return 2;
    case 'B':
    case 'M':
        return column.Size + 10; // the part kept in the record plus the blob descriptor
    default:
        return column.Size;
    }
}

// pxlib keeps the name pointers; the strings must live until the document is closed.
pxfield_t* MakeFields(const std::vector<PxColumn>& columns, std::size_t count) {
    auto* fields = static_cast<pxfield_t*>(std::calloc(count, sizeof(pxfield_t)));
    for (std::size_t i = 0; i < count; ++i) {
        fields[i].px_fname = strdup(columns[i].Name.c_str());
        fields[i].px_ftype = PxType(columns[i].Type);
        fields[i].px_flen = PxSize(columns[i]);
        fields[i].px_fdc = 0;
    }
    return fields;
}

void Check(int result, const PxlibError& error, const char* step) {
    if (result < 0) {
        throw std::runtime_error(std::string("pxlib: ") + step + ": " + error.message);
    }
}

// Composes the record bytes with pxlib's field writers: PX_insert_record leaves BLOB fields
// empty, PX_put_data_blob writes them (in the record's leader or the blob file). A null value
// keeps the field's zero bytes.
void WriteRecord(pxdoc_t* doc, const std::vector<PxColumn>& columns, const PxRecord& record,
                 long& lastNumber, PxlibError& error) {
    if (record.size() != columns.size()) {
        throw std::invalid_argument("pxlib writer: a record needs one value per column");
    }
    std::vector<char> data(static_cast<std::size_t>(PX_get_recordsize(doc)), 0);
    int offset = 0;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const int size = PxSize(columns[i]);
        char* field = data.data() + offset;
        offset += size;
        if (!record[i] && columns[i].Type != '+') {
            continue;
        }
        std::string value = record[i].value_or(std::to_string(lastNumber + 1));
        switch (columns[i].Type) {
        case '+':
            lastNumber = std::max(lastNumber, std::stol(value));
            PX_put_data_long(doc, field, size, static_cast<int>(std::stol(value)));
            break;
        case 'I':
            PX_put_data_long(doc, field, size, static_cast<int>(std::stol(value)));
            break;
        case 'S':
            PX_put_data_short(doc, field, size, static_cast<short>(std::stoi(value)));
            break;
        case 'A':
            PX_put_data_alpha(doc, field, size, value.data());
            break;
        default:
            Check(PX_put_data_blob(doc, field, size, value.data(), static_cast<int>(value.size())),
                  error, "write blob");
        }
    }
    Check(PX_put_record(doc, data.data()), error, "write record");
}

std::string WithExtension(const std::string& path, const char* extension) {
    return std::filesystem::path(path).replace_extension(extension).string();
}

} // namespace

void WritePxlibTable(const std::string& path, const std::vector<PxColumn>& columns,
                     const std::vector<PxRecord>& records, int keyFields) {
    for (const char* extension : {".db", ".mb", ".px"}) {
        std::filesystem::remove(WithExtension(path, extension));
    }
    PxlibError error;
    {
        Doc doc = NewDoc(error);
        Check(PX_create_file(doc.get(), MakeFields(columns, columns.size()),
                             static_cast<int>(columns.size()), path.c_str(),
                             keyFields > 0 ? pxfFileTypIndexDB : pxfFileTypNonIndexDB),
              error, "create table");
        if (keyFields > 0) {
            Check(PX_set_value(doc.get(), "numprimkeys", static_cast<float>(keyFields)), error,
                  "set key");
        }
        const bool hasBlobs = std::any_of(columns.begin(), columns.end(), [](const PxColumn& c) {
            return c.Type == 'B' || c.Type == 'M';
        });
        if (hasBlobs) {
            Check(PX_set_blob_file(doc.get(), WithExtension(path, ".mb").c_str()), error,
                  "create blob file");
        }
        long lastNumber = 0;
        for (const PxRecord& record : records) {
            WriteRecord(doc.get(), columns, record, lastNumber, error);
        }
        if (keyFields > 0) {
            // The index records: the key fields, then block number, count and a zero.
            std::vector<PxColumn> indexColumns(columns.begin(), columns.begin() + keyFields);
            for (const char* name : {"Block", "Count", "Unknown"}) {
                indexColumns.push_back({name, 'S'});
            }
            Doc index = NewDoc(error);
            pxfield_t* fields = MakeFields(indexColumns, indexColumns.size());
            Check(PX_create_file(index.get(), fields, static_cast<int>(indexColumns.size()),
                                 WithExtension(path, ".px").c_str(), pxfFileTypPrimIndex),
                  error, "create primary index");
            Check(PX_write_primary_index(doc.get(), index.get()), error, "write primary index");
        }
    }
    if (!error.message.empty()) {
        throw std::runtime_error("pxlib: " + error.message);
    }
}

std::vector<PxColumn> LanguageTableColumns(const std::vector<std::string>& languages) {
    std::vector<PxColumn> columns{{"Index_No", '+'},
                                  {"Form_Name", 'A', 60},
                                  {"Component_Name", 'A', 60},
                                  {"Property_Name", 'A', 60},
                                  {"Native", 'B', 10}};
    for (const std::string& language : languages) {
        columns.push_back({language, 'B', 10});
    }
    return columns;
}

std::vector<std::string> CreationLanguagesWithout(const std::vector<std::string>& left_out) {
    std::vector<std::string> languages;
    for (std::string_view language : kCreationLanguages) {
        if (std::find(left_out.begin(), left_out.end(), language) == left_out.end()) {
            languages.emplace_back(language);
        }
    }
    return languages;
}

} // namespace kelvara::testing
