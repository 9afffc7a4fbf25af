#include "scan/dfm_scanner.h"

#include "scan/extended_float.h"
#include "text/byte_reader.h"
#include "text/unicode.h"

#include <array>
#include <bit>
#include <cstring>

namespace kelvara {
namespace {

enum ValueType : std::uint8_t {
    vaNull = 0,
    vaList = 1,
    vaInt8 = 2,
    vaInt16 = 3,
    vaInt32 = 4,
    vaExtended = 5,
    vaString = 6,
    vaIdent = 7,
    vaFalse = 8,
    vaTrue = 9,
    vaBinary = 10,
    vaSet = 11,
    vaLString = 12,
    vaNil = 13,
    vaCollection = 14,
    vaSingle = 15,
    vaCurrency = 16,
    vaDate = 17,
    vaWString = 18,
    vaInt64 = 19,
    vaUTF8String = 20,
    vaDouble = 21,
};
constexpr std::uint8_t kLastValueType = vaDouble;
constexpr std::uint8_t kPrefixMask = 0xF0;
constexpr std::uint8_t kPrefixChildPosition = 0x02;

const char* const kStreamReadError = "Stream read error";
const char* const kInvalidPropertyValue = "Invalid property value";
const char* const kInvalidStreamFormat = "Invalid stream format";

[[noreturn]] void InvalidPropertyValue() {
    throw EReadError(kInvalidPropertyValue);
}

bool IsIntegerType(std::uint8_t type) {
    return type == vaInt8 || type == vaInt16 || type == vaInt32;
}

// The reader over one stream, for one parse.
class TFormReader {
public:
    TFormReader(std::span<const std::uint8_t> bytes, std::size_t position)
        : FBytes(bytes), FCursor(FBytes, position) {}

    std::size_t Position() const { return FCursor.Position(); }

    void ReadSignature() {
        if (FCursor.Chars(4) != "TPF0") {
            throw EReadError(kInvalidStreamFormat);
        }
    }

    void ReadObject(TObjectNode& node) {
        const TDepthGuard guard(*this);
        if ((PeekType() & kPrefixMask) == kPrefixMask) {
            const std::uint8_t flags = ReadType();
            if ((flags & kPrefixChildPosition) != 0) {
                (void)ReadInteger();
            }
        }
        node.ClassName = ReadShortText();
        node.Name = ReadShortText();
        while (!EndOfList()) {
            ReadProperty(node);
        }
        ReadListEnd();
        while (!EndOfList()) {
            ReadObject(node.AddChild());
        }
        ReadListEnd();
    }

private:
    // Counts nesting of objects, collections and lists; too deep a stream is refused before it
    // can exhaust the stack.
    class TDepthGuard {
    public:
        explicit TDepthGuard(TFormReader& reader) : FReader(reader) {
            if (++FReader.FDepth > TDFMScanner::kMaxDepth) {
                --FReader.FDepth;
                InvalidPropertyValue();
            }
        }
        ~TDepthGuard() { --FReader.FDepth; }
        TDepthGuard(const TDepthGuard&) = delete;
        TDepthGuard& operator=(const TDepthGuard&) = delete;

    private:
        TFormReader& FReader;
    };

    void ReadProperty(TObjectNode& node) {
        std::string name = ReadShortText();
        const std::uint8_t type = PeekType();
        if (type == vaCollection) {
            ReadCollection(node, name);
        } else if (type == vaList) {
            TObjectProperty& property = node.AddProperty();
            property.Name = std::move(name);
            ReadType();
            ReadJoinedList(property);
        } else {
            TObjectProperty& property = node.AddProperty();
            property.Name = std::move(name);
            property.Value = ReadValue();
        }
    }

    void ReadCollection(TObjectNode& node, const std::string& name) {
        const TDepthGuard guard(*this);
        node.IsCollection = true;
        ReadType();
        while (!EndOfList()) {
            if (IsIntegerType(PeekType())) {
                SkipValue();
            }
            ReadType(); // the item's list marker, not verified
            TObjectNode& item = node.AddChild();
            item.Name = name;
            item.ClassName = "TCollectionItem";
            while (!EndOfList()) {
                ReadProperty(item);
            }
            ReadListEnd();
        }
        ReadListEnd();
    }

    void ReadJoinedList(TObjectProperty& property) {
        const TDepthGuard guard(*this);
        if (!EndOfList()) {
            std::string joined = ValueText(ReadValue());
            while (!EndOfList()) {
                joined += "\r\n";
                joined += ValueText(ReadValue());
            }
            property.Value = std::move(joined);
        }
        ReadListEnd();
    }

    TPropertyValue ReadValue() {
        const std::uint8_t kind = PeekType() & 0x7F;
        if (kind > kLastValueType) {
            InvalidPropertyValue();
        }
        switch (kind) {
        case vaInt8:
        case vaInt16:
        case vaInt32:
            return ReadInteger();
        case vaExtended:
            return ReadFloat();
        case vaString:
        case vaLString:
            return ReadText();
        case vaIdent:
        case vaFalse:
        case vaTrue:
        case vaNil:
            return ReadIdentifier();
        case vaWString:
            return ReadWideText();
        case vaInt64:
            return ReadInt64();
        case vaUTF8String:
            return ReadUtf8Text();
        case vaDouble:
            return ReadDouble();
        default:
            SkipValue();
            return std::string(1, '\0');
        }
    }

    void SkipValue() {
        switch (ReadType() & 0x7F) {
        case vaNull:
        case vaFalse:
        case vaTrue:
        case vaNil:
            break;
        case vaList: {
            const TDepthGuard guard(*this);
            while (!EndOfList()) {
                SkipValue();
            }
            ReadListEnd();
            break;
        }
        case vaInt8:
            FCursor.Skip(1);
            break;
        case vaInt16:
            FCursor.Skip(2);
            break;
        case vaInt32:
        case vaSingle:
            FCursor.Skip(4);
            break;
        case vaExtended:
            FCursor.Skip(10);
            break;
        case vaString:
        case vaIdent:
            (void)ReadShortText();
            break;
        case vaBinary:
        case vaLString:
        case vaUTF8String:
            FCursor.Skip(FCursor.U32LE());
            break;
        case vaWString:
            FCursor.Skip(std::uint64_t{FCursor.U32LE()} * 2);
            break;
        case vaSet:
            while (!ReadShortText().empty()) {
            }
            break;
        case vaCollection:
            SkipCollection();
            break;
        case vaCurrency:
        case vaDate:
        case vaInt64:
        case vaDouble:
            FCursor.Skip(8);
            break;
        default:
            InvalidPropertyValue();
        }
    }

    void SkipCollection() {
        const TDepthGuard guard(*this);
        while (!EndOfList()) {
            if (IsIntegerType(PeekType())) {
                SkipValue();
            }
            FCursor.Skip(1);
            while (!EndOfList()) {
                (void)ReadShortText();
                SkipValue();
            }
            ReadListEnd();
        }
        ReadListEnd();
    }

    std::uint8_t PeekType() const { return FBytes.U8(FCursor.Position()); }
    std::uint8_t ReadType() { return FCursor.U8(); }
    bool EndOfList() const { return PeekType() == vaNull; }
    void ReadListEnd() {
        if (ReadType() != vaNull) {
            InvalidPropertyValue();
        }
    }
    std::string ReadShortText() { return std::string(FCursor.Chars(FCursor.U8())); }

    std::int64_t ReadInteger() {
        switch (ReadType()) {
        case vaInt8:
            return static_cast<std::int8_t>(FCursor.U8());
        case vaInt16:
            return static_cast<std::int16_t>(FCursor.U16LE());
        case vaInt32:
            return static_cast<std::int32_t>(FCursor.U32LE());
        default:
            InvalidPropertyValue();
        }
    }
    double ReadFloat() {
        if (ReadType() != vaExtended) {
            InvalidPropertyValue();
        }
        std::array<std::uint8_t, 10> bytes{};
        const auto stored = FCursor.Bytes(bytes.size());
        std::memcpy(bytes.data(), stored.data(), bytes.size());
        return ExtendedToDouble(bytes);
    }
    std::string ReadText() {
        switch (ReadType()) {
        case vaString:
            return std::string(FCursor.Chars(FCursor.U8()));
        case vaLString:
            return std::string(FCursor.Chars(FCursor.U32LE()));
        default:
            InvalidPropertyValue();
        }
    }
    std::string ReadIdentifier() {
        switch (ReadType()) {
        case vaIdent:
            return ReadShortText();
        case vaFalse:
            return "False";
        case vaTrue:
            return "True";
        case vaNil:
            return "nil";
        default:
            InvalidPropertyValue();
        }
    }
    std::string ReadWideText() {
        ExpectType(vaWString);
        const std::uint64_t units = FCursor.U32LE();
        const auto bytes = FCursor.Bytes(units * 2);
        std::u16string wide(static_cast<std::size_t>(units), u'\0');
        for (std::size_t i = 0; i < wide.size(); ++i) {
            wide[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        }
        return WideToUtf8String(wide);
    }
    std::int64_t ReadInt64() {
        ExpectType(vaInt64);
        return static_cast<std::int64_t>(FCursor.U64LE());
    }
    std::string ReadUtf8Text() {
        ExpectType(vaUTF8String);
        return std::string(FCursor.Chars(FCursor.U32LE()));
    }
    double ReadDouble() {
        ExpectType(vaDouble);
        return std::bit_cast<double>(FCursor.U64LE());
    }
    void ExpectType(std::uint8_t type) {
        if (ReadType() != type) {
            InvalidPropertyValue();
        }
    }

    ByteReader FBytes;
    ByteCursor FCursor;
    int FDepth = 0;
};

} // namespace

TDFMScanner::TDFMScanner() : FRoot(std::make_unique<TObjectNode>()) {}

TDFMScanner::~TDFMScanner() = default;

void TDFMScanner::SetStream(TMemoryStream* stream) {
    if (stream != nullptr) {
        FStream = stream;
    }
}

void TDFMScanner::Parse() {
    FRoot = std::make_unique<TObjectNode>();
    if (FStream == nullptr) {
        return;
    }
    TFormReader reader(FStream->Data(), FStream->Position());
    try {
        reader.ReadSignature();
        reader.ReadObject(*FRoot);
    } catch (const EReadOutOfBounds&) {
        throw EReadError(kStreamReadError);
    }
    FStream->SetPosition(reader.Position());
}

} // namespace kelvara
