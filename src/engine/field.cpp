#include "engine/field.h"

#include "engine/dataset.h"
#include "engine/dataset_error.h"
#include "text/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace kelvara {

namespace {

// Day 1 is 0001-01-01 in the proleptic Gregorian calendar (the days-from-civil algorithm,
// shifted so that 0000-03-01 starts the eras).
struct Civil {
    std::int64_t year;
    int month;
    int day;
};

std::int64_t DayFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    // 719468 = days from 0000-03-01 to 1970-01-01; 719163 = the day number of 1970-01-01 here.
    return era * 146097 + doe - 719468 + 719163;
}

Civil CivilFromDay(std::int64_t day) {
    const std::int64_t z = day - 719163 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (m <= 2 ? 1 : 0), m, d};
}

constexpr std::int64_t kMillisPerDay = 86'400'000;

std::string DateText(std::int64_t day) {
    const Civil c = CivilFromDay(day);
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d", static_cast<long long>(c.year),
                  c.month, c.day);
    return buffer;
}

std::string TimeText(std::int64_t millis) {
    char buffer[48];
    const long long h = millis / 3'600'000, m = millis / 60'000 % 60, s = millis / 1000 % 60,
                    ms = millis % 1000;
    if (ms != 0) {
        std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld.%03lld", h, m, s, ms);
    } else {
        std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld", h, m, s);
    }
    return buffer;
}

std::string NumberText(double value) {
    return ShortestNumberText(value);
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

[[noreturn]] void Invalid(std::string_view text, std::string_view what) {
    throw EDatabaseError("'" + std::string(text) + "' is not a valid " + std::string(what));
}

bool ParseInteger(std::string_view text, std::int64_t& value) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return false;
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ParseNumber(std::string_view text, double& value) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return false;
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() &&
           std::isfinite(value);
}

// Reads up to `maxDigits` digits at position; false when none.
bool ReadDigits(std::string_view text, std::size_t& position, int maxDigits, int& value) {
    int count = 0;
    value = 0;
    while (position < text.size() && count < maxDigits && text[position] >= '0' &&
           text[position] <= '9') {
        value = value * 10 + (text[position] - '0');
        ++position;
        ++count;
    }
    return count > 0;
}

bool ParseDateAt(std::string_view text, std::size_t& position, std::int64_t& day) {
    bool negative = false;
    if (position < text.size() && text[position] == '-') {
        negative = true;
        ++position;
    }
    int year = 0, month = 0, dayOfMonth = 0;
    if (!ReadDigits(text, position, 6, year) || position >= text.size() || text[position] != '-') {
        return false;
    }
    ++position;
    if (!ReadDigits(text, position, 2, month) || position >= text.size() || text[position] != '-') {
        return false;
    }
    ++position;
    if (!ReadDigits(text, position, 2, dayOfMonth)) {
        return false;
    }
    const std::int64_t y = negative ? -year : year;
    if (month < 1 || month > 12 || dayOfMonth < 1) {
        return false;
    }
    // The day must exist in that month: it must survive a round trip.
    day = DayFromCivil(y, month, dayOfMonth);
    const Civil back = CivilFromDay(day);
    return back.year == y && back.month == month && back.day == dayOfMonth;
}

bool ParseTimeAt(std::string_view text, std::size_t& position, std::int64_t& millis) {
    int h = 0, m = 0, s = 0, ms = 0;
    if (!ReadDigits(text, position, 2, h) || position >= text.size() || text[position] != ':') {
        return false;
    }
    ++position;
    if (!ReadDigits(text, position, 2, m)) {
        return false;
    }
    if (position < text.size() && text[position] == ':') {
        ++position;
        if (!ReadDigits(text, position, 2, s)) {
            return false;
        }
        if (position < text.size() && text[position] == '.') {
            ++position;
            const std::size_t start = position;
            if (!ReadDigits(text, position, 3, ms)) {
                return false;
            }
            for (std::size_t digits = position - start; digits < 3; ++digits) {
                ms *= 10;
            }
        }
    }
    if (h > 23 || m > 59 || s > 59) {
        return false;
    }
    millis = ((h * 60LL + m) * 60 + s) * 1000 + ms;
    return true;
}

// The whole text, blanks around it aside, read by one of the parsers above; nothing when any of
// it is left over or does not parse.
template <typename Parse>
std::optional<std::int64_t> ParseWhole(std::string_view text, Parse parse) {
    const std::string_view trimmed = Trim(text);
    std::size_t position = 0;
    std::int64_t value = 0;
    if (!parse(trimmed, position, value) || position != trimmed.size()) {
        return std::nullopt;
    }
    return value;
}

bool ParseBoolean(std::string_view text, bool& value) {
    std::string lower;
    for (const char c : Trim(text)) {
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (lower == "true" || lower == "t" || lower == "yes" || lower == "y" || lower == "1") {
        value = true;
        return true;
    }
    if (lower == "false" || lower == "f" || lower == "no" || lower == "n" || lower == "0") {
        value = false;
        return true;
    }
    return false;
}

bool IsDecimalText(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    bool digits = false, point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            digits = true;
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

// At most `size` bytes of text, never ending inside a UTF-8 sequence that the cut would break.
std::string CutToSize(std::string_view text, int size) {
    if (size <= 0 || text.size() <= static_cast<std::size_t>(size)) {
        return std::string(text);
    }
    std::size_t cut = static_cast<std::size_t>(size);
    // When the first byte left out continues a character, find that character's lead byte (at
    // most three bytes back) and leave the whole character out. Text that is not UTF-8 is cut at
    // the size.
    std::size_t lead = cut;
    while (lead > 0 && cut - lead < 3 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) {
        --lead;
    }
    if (lead < cut) {
        const unsigned char first = static_cast<unsigned char>(text[lead]);
        const std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
        if (first >= 0xC0 && lead + length > cut) {
            cut = lead;
        }
    }
    return std::string(text.substr(0, cut));
}

struct IntegerRange {
    std::int64_t low, high;
};

// The extreme negative value of each width is the file's NULL pattern, so it is not a value.
IntegerRange RangeOf(TFieldType type) {
    if (type == TFieldType::ftSmallint) {
        return {-32767, 32767};
    }
    return {-2147483647, 2147483647};
}

TFieldValue CheckedInteger(std::int64_t value, const TFieldDef& def) {
    const IntegerRange range = RangeOf(def.DataType);
    if (value < range.low || value > range.high) {
        throw EDatabaseError(std::to_string(value) + " is not a valid value for field '" +
                             def.Name + "'. The allowed range is " + std::to_string(range.low) +
                             " to " + std::to_string(range.high));
    }
    return value;
}

bool IsIntegerType(TFieldType type) {
    return type == TFieldType::ftSmallint || type == TFieldType::ftInteger ||
           type == TFieldType::ftAutoInc;
}

} // namespace

std::string_view FieldTypeName(TFieldType type) {
    switch (type) {
    case TFieldType::ftUnknown:
        return "Unknown";
    case TFieldType::ftString:
        return "String";
    case TFieldType::ftSmallint:
        return "Smallint";
    case TFieldType::ftInteger:
        return "Integer";
    case TFieldType::ftAutoInc:
        return "AutoInc";
    case TFieldType::ftFloat:
        return "Float";
    case TFieldType::ftCurrency:
        return "Currency";
    case TFieldType::ftBCD:
        return "BCD";
    case TFieldType::ftBoolean:
        return "Boolean";
    case TFieldType::ftDate:
        return "Date";
    case TFieldType::ftTime:
        return "Time";
    case TFieldType::ftDateTime:
        return "DateTime";
    case TFieldType::ftBytes:
        return "Bytes";
    case TFieldType::ftMemo:
        return "Memo";
    case TFieldType::ftBlob:
        return "Blob";
    case TFieldType::ftFmtMemo:
        return "FmtMemo";
    case TFieldType::ftOle:
        return "Ole";
    case TFieldType::ftGraphic:
        return "Graphic";
    }
    return "Unknown";
}

bool IsBlobType(TFieldType type) {
    return type == TFieldType::ftMemo || type == TFieldType::ftBlob ||
           type == TFieldType::ftFmtMemo || type == TFieldType::ftOle ||
           type == TFieldType::ftGraphic;
}

std::string FieldValueToText(const TFieldValue& value, TFieldType type) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return *text;
    }
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        if (type == TFieldType::ftDate) {
            return DateText(*integer);
        }
        if (type == TFieldType::ftTime) {
            return TimeText(*integer);
        }
        return std::to_string(*integer);
    }
    if (const auto* number = std::get_if<double>(&value)) {
        if (type == TFieldType::ftDateTime) {
            const auto millis = static_cast<std::int64_t>(std::floor(*number));
            std::int64_t day = millis / kMillisPerDay, ofDay = millis % kMillisPerDay;
            if (ofDay < 0) {
                ofDay += kMillisPerDay;
                --day;
            }
            return DateText(day) + " " + TimeText(ofDay);
        }
        return NumberText(*number);
    }
    if (const auto* logical = std::get_if<bool>(&value)) {
        return *logical ? "True" : "False";
    }
    return std::string();
}

TFieldValue FieldValueFromText(std::string_view text, const TFieldDef& def) {
    if (text.empty()) {
        return std::monostate();
    }
    switch (def.DataType) {
    case TFieldType::ftString:
    case TFieldType::ftBytes:
        return CutToSize(text, def.Size);
    case TFieldType::ftMemo:
    case TFieldType::ftBlob:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftOle:
    case TFieldType::ftGraphic:
        return std::string(text);
    case TFieldType::ftBCD:
        if (!IsDecimalText(Trim(text))) {
            Invalid(text, "BCD value");
        }
        return std::string(Trim(text));
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc: {
        std::int64_t value = 0;
        if (!ParseInteger(text, value)) {
            Invalid(text, "integer value");
        }
        return CheckedInteger(value, def);
    }
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency: {
        double value = 0;
        if (!ParseNumber(text, value)) {
            Invalid(text, "floating point value");
        }
        return value;
    }
    case TFieldType::ftBoolean: {
        bool value = false;
        if (!ParseBoolean(text, value)) {
            Invalid(text, "boolean value");
        }
        return value;
    }
    case TFieldType::ftDate:
        if (const auto day = ParseWhole(text, ParseDateAt)) {
            return *day;
        }
        Invalid(text, "date");
    case TFieldType::ftTime:
        if (const auto millis = ParseWhole(text, ParseTimeAt)) {
            return *millis;
        }
        Invalid(text, "time");
    case TFieldType::ftDateTime: {
        const std::string_view trimmed = Trim(text);
        std::size_t position = 0;
        std::int64_t day = 0, millis = 0;
        if (!ParseDateAt(trimmed, position, day)) {
            Invalid(text, "date and time");
        }
        if (position < trimmed.size()) {
            if (trimmed[position] != ' ' && trimmed[position] != 'T') {
                Invalid(text, "date and time");
            }
            ++position;
            if (!ParseTimeAt(trimmed, position, millis) || position != trimmed.size()) {
                Invalid(text, "date and time");
            }
        }
        return static_cast<double>(day * kMillisPerDay + millis);
    }
    case TFieldType::ftUnknown:
        break;
    }
    throw EDatabaseError("Field '" + def.Name + "' of type " +
                         std::string(FieldTypeName(def.DataType)) + " cannot be written");
}

TFieldValue ConvertFieldValue(const TFieldValue& value, const TFieldDef& def) {
    const TFieldType type = def.DataType;
    if (IsNullValue(value)) {
        return std::monostate();
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        return FieldValueFromText(*text, def);
    }
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        if (IsIntegerType(type)) {
            return CheckedInteger(*integer, def);
        }
        if (type == TFieldType::ftDate || type == TFieldType::ftTime) {
            return *integer;
        }
        if (type == TFieldType::ftFloat || type == TFieldType::ftCurrency ||
            type == TFieldType::ftDateTime) {
            return static_cast<double>(*integer);
        }
        if (type == TFieldType::ftBoolean) {
            return *integer != 0;
        }
        return FieldValueFromText(std::to_string(*integer), def);
    }
    if (const auto* number = std::get_if<double>(&value)) {
        if (type == TFieldType::ftFloat || type == TFieldType::ftCurrency ||
            type == TFieldType::ftDateTime) {
            return *number;
        }
        if (IsIntegerType(type) || type == TFieldType::ftDate || type == TFieldType::ftTime) {
            if (!std::isfinite(*number) || std::floor(*number) != *number ||
                std::fabs(*number) > 9.0e15) {
                Invalid(NumberText(*number), "integer value");
            }
            const auto integer = static_cast<std::int64_t>(*number);
            return IsIntegerType(type) ? CheckedInteger(integer, def) : TFieldValue(integer);
        }
        if (type == TFieldType::ftBoolean) {
            return *number != 0;
        }
        return FieldValueFromText(NumberText(*number), def);
    }
    const bool logical = std::get<bool>(value);
    if (type == TFieldType::ftBoolean) {
        return logical;
    }
    if (IsIntegerType(type)) {
        return static_cast<std::int64_t>(logical ? 1 : 0);
    }
    if (type == TFieldType::ftFloat || type == TFieldType::ftCurrency) {
        return logical ? 1.0 : 0.0;
    }
    return FieldValueFromText(logical ? "True" : "False", def);
}

TField::TField(TDataSet& dataSet, int index, TFieldDef def)
    : dataSet_(dataSet), index_(index), def_(std::move(def)) {}

TFieldValue TField::Value() const {
    return dataSet_.FieldValue(index_);
}

bool TField::IsNull() const {
    return IsNullValue(Value());
}

std::string TField::AsString() const {
    TFieldValue value = Value();
    if (auto* text = std::get_if<std::string>(&value)) {
        return std::move(*text);
    }
    return FieldValueToText(value, def_.DataType);
}

std::int64_t TField::AsInteger() const {
    const TFieldValue value = Value();
    if (IsNullValue(value)) {
        return 0;
    }
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        return *integer;
    }
    if (const auto* logical = std::get_if<bool>(&value)) {
        return *logical ? 1 : 0;
    }
    const std::string text = FieldValueToText(value, def_.DataType);
    std::int64_t result = 0;
    if (const auto* number = std::get_if<double>(&value)) {
        if (std::isfinite(*number) && std::floor(*number) == *number &&
            std::fabs(*number) <= 9.0e15) {
            return static_cast<std::int64_t>(*number);
        }
    } else if (ParseInteger(text, result)) {
        return result;
    }
    Invalid(text, "integer value");
}

void TField::CheckWritable() const {
    const TDataSetState state = dataSet_.State();
    if (state == TDataSetState::dsInactive) {
        throw EDatabaseError("Cannot perform this operation on a closed dataset");
    }
    if (state != TDataSetState::dsEdit && state != TDataSetState::dsInsert) {
        throw EDatabaseError("Dataset not in edit or insert mode");
    }
    if (!CanModify()) {
        throw EDatabaseError("Field '" + def_.Name + "' cannot be modified");
    }
}

void TField::Store(TFieldValue value) {
    dataSet_.StoreFieldValue(index_, std::move(value));
}

void TField::SetAsString(std::string_view text) {
    CheckWritable();
    Store(FieldValueFromText(text, def_));
}

void TField::SetAsInteger(std::int64_t value) {
    SetValue(TFieldValue(value));
}

void TField::SetValue(const TFieldValue& value) {
    CheckWritable();
    Store(ConvertFieldValue(value, def_));
}

void TField::Clear() {
    CheckWritable();
    Store(std::monostate());
}

std::string TField::DisplayText() const {
    std::string text = AsString();
    if (OnGetText) {
        OnGetText(const_cast<TField&>(*this), text, true);
    }
    return text;
}

std::string TField::Text() const {
    std::string text = AsString();
    if (OnGetText) {
        OnGetText(const_cast<TField&>(*this), text, false);
    }
    return text;
}

void TField::SetText(std::string_view text) {
    if (OnSetText) {
        OnSetText(*this, std::string(text));
    } else {
        SetAsString(text);
    }
}

bool TField::CanModify() const {
    return !readOnly_ && def_.DataType != TFieldType::ftAutoInc && dataSet_.CanModify();
}

} // namespace kelvara
