#include "engine/paradox_table.h"
#include "text/number_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace kelvara::paradox {
namespace {

struct TypeEntry {
    FieldType type;
    std::string_view name;
    char symbol;
};

constexpr std::array<TypeEntry, 17> kTypes{{
    {FieldType::Alpha, "alpha", 'A'},
    {FieldType::Date, "date", 'D'},
    {FieldType::Short, "short", 'S'},
    {FieldType::Long, "long", 'I'},
    {FieldType::Currency, "currency", '$'},
    {FieldType::Number, "number", 'N'},
    {FieldType::Logical, "logical", 'L'},
    {FieldType::Memo, "memo", 'M'},
    {FieldType::Blob, "binary", 'B'},
    {FieldType::FormattedMemo, "formatted memo", 'F'},
    {FieldType::Ole, "OLE", 'O'},
    {FieldType::Graphic, "graphic", 'G'},
    {FieldType::Time, "time", 'T'},
    {FieldType::Timestamp, "timestamp", '@'},
    {FieldType::AutoInc, "autoincrement", '+'},
    {FieldType::Bcd, "BCD", '#'},
    {FieldType::Bytes, "bytes", 'Y'},
}};

const TypeEntry& Entry(FieldType type) {
    for (const auto& entry : kTypes) {
        if (entry.type == type) {
            return entry;
        }
    }
    return kTypes[0];
}

std::string Formatted(const char* format, auto... values) {
    char text[64];
    const int length = std::snprintf(text, sizeof text, format, values...);
    return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string ShortestNumber(double value) {
    return ShortestNumberText(value);
}

std::string TimeText(std::int64_t milliseconds) {
    const std::int64_t seconds = milliseconds / 1000;
    const int fraction = static_cast<int>(milliseconds % 1000);
    std::string text =
        Formatted("%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    if (fraction != 0) {
        text += Formatted(".%03d", fraction);
    }
    return text;
}

std::string DateText(std::int32_t day) {
    const CivilDate date = CivilFromDay(day);
    return Formatted("%04d-%02d-%02d", date.year, date.month, date.day);
}

} // namespace

std::optional<FieldType> FieldTypeFromCode(std::uint8_t code) {
    for (const auto& entry : kTypes) {
        if (static_cast<std::uint8_t>(entry.type) == code) {
            return entry.type;
        }
    }
    return std::nullopt;
}

std::string_view FieldTypeName(FieldType type) {
    return Entry(type).name;
}
char FieldTypeSymbol(FieldType type) {
    return Entry(type).symbol;
}

bool IsWritableType(FieldType type) {
    return type != FieldType::Graphic && type != FieldType::Bcd && type != FieldType::AutoInc;
}

std::uint16_t StoredFieldSize(const FieldDef& field) {
    switch (field.type) {
    case FieldType::Alpha:
    case FieldType::Bytes:
        return static_cast<std::uint16_t>(field.size);
    case FieldType::Short:
        return 2;
    case FieldType::Logical:
        return 1;
    case FieldType::Date:
    case FieldType::Long:
    case FieldType::Time:
    case FieldType::AutoInc:
        return 4;
    case FieldType::Currency:
    case FieldType::Number:
    case FieldType::Timestamp:
        return 8;
    case FieldType::Bcd:
        return 17;
    default: // BLOB types
        return static_cast<std::uint16_t>(field.size + 10);
    }
}

int TableInfo::FieldIndex(std::string_view name) const {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].def.name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

FieldValue FieldValue::FromBytes(std::string bytes) {
    FieldValue value;
    value.kind_ = Kind::Bytes;
    value.bytes_ = std::move(bytes);
    return value;
}
FieldValue FieldValue::FromInteger(std::int64_t integer) {
    FieldValue value;
    value.kind_ = Kind::Integer;
    value.integer_ = integer;
    return value;
}
FieldValue FieldValue::FromNumber(double number) {
    FieldValue value;
    value.kind_ = Kind::Number;
    value.number_ = number;
    return value;
}
FieldValue FieldValue::FromLogical(bool logical) {
    FieldValue value;
    value.kind_ = Kind::Logical;
    value.integer_ = logical ? 1 : 0;
    return value;
}
FieldValue FieldValue::FromDate(std::int32_t day) {
    FieldValue value;
    value.kind_ = Kind::Date;
    value.integer_ = day;
    return value;
}
FieldValue FieldValue::FromTime(std::int32_t millisecondsOfDay) {
    FieldValue value;
    value.kind_ = Kind::Time;
    value.integer_ = millisecondsOfDay;
    return value;
}
FieldValue FieldValue::FromTimestamp(double milliseconds) {
    FieldValue value;
    value.kind_ = Kind::Timestamp;
    value.number_ = milliseconds;
    return value;
}
FieldValue FieldValue::FromDecimal(std::string text) {
    FieldValue value;
    value.kind_ = Kind::Decimal;
    value.bytes_ = std::move(text);
    return value;
}
FieldValue FieldValue::FromInvalid(std::string rawBytes) {
    FieldValue value;
    value.kind_ = Kind::Invalid;
    value.bytes_ = std::move(rawBytes);
    return value;
}

std::int64_t FieldValue::Integer() const {
    switch (kind_) {
    case Kind::Number:
    case Kind::Timestamp:
        return std::isfinite(number_) ? static_cast<std::int64_t>(number_) : 0;
    default:
        return integer_;
    }
}

double FieldValue::Number() const {
    switch (kind_) {
    case Kind::Number:
    case Kind::Timestamp:
        return number_;
    default:
        return static_cast<double>(integer_);
    }
}

std::string FieldValue::DisplayText() const {
    switch (kind_) {
    case Kind::Null:
        return {};
    case Kind::Bytes:
    case Kind::Decimal:
        return bytes_;
    case Kind::Integer:
        return std::to_string(integer_);
    case Kind::Number:
        return ShortestNumber(number_);
    case Kind::Logical:
        return integer_ != 0 ? "True" : "False";
    case Kind::Date:
        return DateText(static_cast<std::int32_t>(integer_));
    case Kind::Time:
        return TimeText(integer_);
    case Kind::Timestamp: {
        if (!std::isfinite(number_)) {
            return "(invalid)";
        }
        const auto milliseconds = static_cast<std::int64_t>(std::floor(number_));
        constexpr std::int64_t kDay = 86400000;
        std::int64_t day = milliseconds / kDay;
        std::int64_t rest = milliseconds % kDay;
        if (rest < 0) {
            rest += kDay;
            --day;
        }
        return DateText(static_cast<std::int32_t>(day)) + " " + TimeText(rest);
    }
    case Kind::Invalid:
        return "(invalid)";
    }
    return {};
}

bool FieldValue::operator==(const FieldValue& other) const {
    if (kind_ != other.kind_) {
        return false;
    }
    switch (kind_) {
    case Kind::Null:
        return true;
    case Kind::Bytes:
    case Kind::Decimal:
    case Kind::Invalid:
        return bytes_ == other.bytes_;
    case Kind::Number:
    case Kind::Timestamp:
        return number_ == other.number_;
    default:
        return integer_ == other.integer_;
    }
}

std::string DisplayText(FieldType type, const FieldValue& value) {
    if (type == FieldType::Currency && value.GetKind() == FieldValue::Kind::Number &&
        std::isfinite(value.Number())) {
        return Formatted("%.2f", value.Number());
    }
    return value.DisplayText();
}

// Day 1 is 0001-01-01; the arithmetic is the usual era-based conversion shifted to that origin.
CivilDate CivilFromDay(std::int32_t day) {
    std::int64_t z = static_cast<std::int64_t>(day) - 719163 + 719468; // days since 0000-03-01
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
    return CivilDate{y, m, d};
}

std::int32_t DayFromCivil(int year, int month, int day) {
    const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int32_t>(era * 146097 + doe - 719468 + 719163);
}

} // namespace kelvara::paradox
