#pragma once
// Columns of a data set (a table handle or a query result) and the values they hold.
//
// A TField belongs to exactly one TDataSet, which creates it when the data set opens and destroys
// it when the data set closes; a TField& or TField* obtained from a data set is valid until that
// data set is closed (Close, or a reopen). Refresh keeps the fields, with their hooks and flags.
//
// Every read and write goes to the data set's current record (or, while the data set paints a
// record with TDataSet::DisplayTextAt, to that record).

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kelvara {

class TDataSet;

// Column types, as a table file knows them.
enum class TFieldType {
    ftUnknown,
    ftString,   // character column ("alpha"): at most Size bytes, cut when longer
    ftSmallint, // 16-bit integer
    ftInteger,  // 32-bit integer
    ftAutoInc,  // 32-bit integer numbered by the table itself; never written by callers
    ftFloat,    // double
    ftCurrency, // double
    ftBCD,      // decimal number, held as its decimal text
    ftBoolean,
    ftDate,     // day number, day 1 = 0001-01-01
    ftTime,     // milliseconds since midnight
    ftDateTime, // milliseconds, value / 86400000 = day number + fraction of the day
    ftBytes,    // fixed-size raw bytes
    ftMemo,     // BLOB columns: Size is the part of each value kept in the record itself; the
    ftBlob,     // value's length is not limited by it. Stored and returned byte for byte.
    ftFmtMemo,
    ftOle,
    ftGraphic,
};

// The name of a type as used in messages, for example "Integer" for ftInteger.
std::string_view FieldTypeName(TFieldType type);
// True for the BLOB column types (memo, binary, formatted memo, OLE, graphic).
bool IsBlobType(TFieldType type);

// A value "as value". Which alternative a non-null value takes is fixed by the column type:
//   std::monostate  NULL (every type). An empty text written to any column is NULL as well.
//   std::string     ftString, ftBCD (decimal text), ftBytes and the BLOB types (the raw bytes)
//   std::int64_t    ftSmallint, ftInteger, ftAutoInc, ftDate (day number), ftTime (milliseconds)
//   double          ftFloat, ftCurrency, ftDateTime (milliseconds)
//   bool            ftBoolean
using TFieldValue = std::variant<std::monostate, bool, std::int64_t, double, std::string>;

inline bool IsNullValue(const TFieldValue& value) {
    return std::holds_alternative<std::monostate>(value);
}

// A column definition: for creating a table, and as a data set describes its columns.
struct TFieldDef {
    std::string Name;
    TFieldType DataType = TFieldType::ftUnknown;
    int Size = 0; // bytes for ftString and ftBytes; in-record part for BLOBs; 0 otherwise
    bool Required = false;
};

// Index options (bit flags, combine with |).
enum TIndexOption : unsigned {
    ixPrimary = 1,
    ixUnique = 2,
    ixDescending = 4,
    ixCaseInsensitive = 8,
};

// An index definition: Fields lists the column names separated by ';' ("Form_Name;Property_Name").
// The primary index has an empty name and ixPrimary.
struct TIndexDef {
    std::string Name;
    std::string Fields;
    unsigned Options = 0;
};

class TField {
public:
    // Get-text hook: called with the raw text already in `text` (what AsString gives); the hook
    // may replace it. `displayText` is true for what a grid shows, false for the text an in-place
    // editor starts with. Inside the hook, reads of any field of the data set see the record
    // being shown.
    using TGetTextEvent = std::function<void(TField& sender, std::string& text, bool displayText)>;
    // Set-text hook: called with what the user typed; it must store the value itself (normally
    // with SetAsString, which does not run the hook again).
    using TSetTextEvent = std::function<void(TField& sender, const std::string& text)>;

    TField(TDataSet& dataSet, int index, TFieldDef def);
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    TDataSet& DataSet() const { return dataSet_; }
    const std::string& FieldName() const { return def_.Name; }
    TFieldType DataType() const { return def_.DataType; }
    int Size() const { return def_.Size; }
    // Position in table order, from 0.
    int Index() const { return index_; }
    const TFieldDef& Definition() const { return def_; }

    // --- Reading the current record. The raw value; no hook runs.
    TFieldValue Value() const;
    bool IsNull() const;
    // The stored bytes for text and BLOB columns; a plain text for other types (integers as decimal
    // digits, floats as the shortest text that reads back to the same double, booleans as "True"
    // or "False", dates as YYYY-MM-DD, times as HH:MM:SS[.mmm]); empty for NULL.
    std::string AsString() const;
    // Integer columns as they are; other types converted. Throws EDatabaseError when the value
    // is no integer. NULL gives 0.
    std::int64_t AsInteger() const;

    // --- Writing the current record. The data set must be in the edit or insert state, otherwise
    // EDatabaseError "Dataset not in edit or insert mode". A field that is ReadOnly or cannot be
    // modified (CanModify false) throws EDatabaseError "Field '<name>' cannot be modified".
    // No hook runs.
    //
    // Text is converted to the column type (EDatabaseError naming the text when it does not fit,
    // for example "'abc' is not a valid integer value"). For ftString a text longer than Size
    // bytes is cut to Size bytes, never in the middle of a UTF-8 character. BLOB columns store the
    // bytes unchanged. An empty text makes the field NULL.
    void SetAsString(std::string_view text);
    void SetAsInteger(std::int64_t value);
    // A value of any alternative, converted to the column type as SetAsString would.
    void SetValue(const TFieldValue& value);
    void Clear(); // NULL

    // --- The entry points of the display: what a grid shows and what a user types. These, and
    // only these, run the hooks. Without a hook they equal AsString / SetAsString.
    std::string DisplayText() const;
    std::string Text() const; // the text an in-place editor starts with
    void SetText(std::string_view text);

    TGetTextEvent OnGetText;
    TSetTextEvent OnSetText;

    // --- Access. ReadOnly is a flag the caller sets (it starts false on every open);
    // CanModify is false when the flag is set, when the column is ftAutoInc (such as Index_No),
    // or when the data set cannot be modified (opened read-only, or a query result).
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    bool CanModify() const;

private:
    void CheckWritable() const;
    void Store(TFieldValue value);

    TDataSet& dataSet_;
    int index_;
    TFieldDef def_;
    bool readOnly_ = false;
};

// Conversions shared by the field and the engine's writers. Both throw EDatabaseError naming the
// text or the field when the value does not fit the column.
std::string FieldValueToText(const TFieldValue& value, TFieldType type);
TFieldValue FieldValueFromText(std::string_view text, const TFieldDef& def);
TFieldValue ConvertFieldValue(const TFieldValue& value, const TFieldDef& def);

} // namespace kelvara
