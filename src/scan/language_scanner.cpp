#include "scan/language_scanner.h"

#include "engine/table.h"
#include "scan/exe_image.h"
#include "scan/memory_stream.h"
#include "store/language_catalogue.h"
#include "text/unicode.h"

#include <cstring>
#include <exception>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <langinfo.h>
#include <locale.h>
#endif

namespace kelvara {
namespace {

constexpr std::string_view kRCDataPrefix = "RCData";
constexpr std::string_view kFormSignature = "TPF0";
constexpr std::string_view kScanningCaption = "Scanning";
constexpr std::string_view kNotAListMessage = "Fatal Error Encountered!";

const TObjectProperty* FirstPropertyNamedExactly(const TObjectNode& node, std::string_view name) {
    for (int i = 0; i < node.PropertyCount(); ++i) {
        const TObjectProperty* property = node.Property(i);
        if (property->Name == name) {
            return property;
        }
    }
    return nullptr;
}

bool IsContinuationByte(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

bool BeginsWithFormSignature(std::span<const std::uint8_t> data) {
    return data.size() >= kFormSignature.size() &&
           std::memcmp(data.data(), kFormSignature.data(), kFormSignature.size()) == 0;
}

} // namespace

bool IsTranslatableComponent(const TObjectNode& node) {
    if (node.Name.empty()) {
        return false;
    }
    if (node.ClassName != "TMenuItem") {
        return true;
    }
    const TObjectProperty* caption = FirstPropertyNamedExactly(node, "Caption");
    return caption == nullptr || caption->Text() != "-";
}

bool IsTranslatableProperty(bool linked, std::string_view className,
                            const TObjectProperty* property) {
    if (property == nullptr) {
        return false;
    }
    if (className == "TPanel" && property->Name == "Caption") {
        return false;
    }
    for (const TPropertySpecification& entry : PropertySpecification) {
        if (entry.Name == property->Name) {
            return !(linked && entry.FromAction);
        }
    }
    return false;
}

bool HasAction(const TObjectNode& node) {
    const TObjectProperty* action = FirstPropertyNamedExactly(node, "Action");
    return action != nullptr && !action->Text().empty();
}

bool IsBlankText(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) > 32) {
            return false;
        }
    }
    return true;
}

std::string CutKeyText(std::string_view text) {
    if (text.size() <= kKeyFieldBytes) {
        return std::string(text);
    }
    std::size_t cut = kKeyFieldBytes;
    // Back off only over a complete, well-formed multi-byte sequence that straddles the limit;
    // bytes of 8-bit code pages rarely look like one, and are cut at the limit as they are.
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    if (IsContinuationByte(byteAt(cut))) {
        std::size_t lead = cut;
        while (lead > 0 && cut - lead < 3 && IsContinuationByte(byteAt(lead - 1))) {
            --lead;
        }
        if (lead > 0) {
            --lead;
            const unsigned char leadByte = byteAt(lead);
            const std::size_t length = leadByte >= 0xC0 ? Utf8SequenceLength(leadByte) : 1;
            bool wellFormed = length > 1 && lead + length > cut && lead + length <= text.size();
            for (std::size_t i = lead + 1; wellFormed && i < lead + length; ++i) {
                wellFormed = IsContinuationByte(byteAt(i));
            }
            if (wellFormed) {
                cut = lead;
            }
        }
    }
    return std::string(text.substr(0, cut));
}

std::string ShortDateText(const std::tm& date) {
#ifdef _WIN32
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(date.tm_year + 1900);
    time.wMonth = static_cast<WORD>(date.tm_mon + 1);
    time.wDay = static_cast<WORD>(date.tm_mday);
    time.wDayOfWeek = static_cast<WORD>(date.tm_wday);
    wchar_t buffer[128];
    const int length =
        GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, buffer, 128);
    if (length <= 1) {
        return {};
    }
    std::u16string wide(reinterpret_cast<const char16_t*>(buffer),
                        static_cast<std::size_t>(length - 1));
    return WideToUtf8String(wide);
#else
    locale_t locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr)) {
        locale = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
    }
    if (locale == static_cast<locale_t>(nullptr)) {
        throw std::runtime_error("The date format of the locale cannot be read");
    }
    char buffer[128];
    const std::size_t length =
        strftime_l(buffer, sizeof buffer, nl_langinfo_l(D_FMT, locale), &date, locale);
    freelocale(locale);
    return std::string(buffer, length);
#endif
}

std::string TodayShortDateText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return ShortDateText(local);
}

TLanguageScanner::TLanguageScanner() : FFormReader(std::make_unique<TDFMScanner>()) {}

TLanguageScanner::~TLanguageScanner() = default;

void TLanguageScanner::SetTable(TTable* table) {
    if (table == FTable) {
        return;
    }
    FTable = table;
    if (FTable != nullptr) {
        FTable->Open();
    }
}

void TLanguageScanner::Scan() {
    if (FTable == nullptr) {
        throw std::logic_error("The scan has no table to write to");
    }
    FFormCount = 0;
    FRowCount = 0;
    // Writing every row to the file as its own crash-safe unit costs a flush to disk per row;
    // the rows are collected in the table's change cache instead and written together at the
    // end, also after an error, so the table holds the same rows either way. A caller that runs
    // the cache itself keeps it, and applies it when it chooses.
    const bool collectRows = !FTable->CachedUpdates();
    if (collectRows) {
        FTable->SetCachedUpdates(true);
    }
    std::exception_ptr failure;
    try {
        AddRow(kVersionStampForm, kVersionStampComponent,
               FVersionLabel + " - " + TodayShortDateText(), kVersionStampNative);
        ScanExecutable();
    } catch (...) {
        failure = std::current_exception();
    }
    if (collectRows) {
        // A failure here leaves the file as it was; its message then matters more than the
        // scan's.
        try {
            FTable->ApplyUpdates();
        } catch (...) {
            // None of the rows reached the file; the handle is given back as it came.
            FTable->CancelUpdates();
            FTable->SetCachedUpdates(false);
            FRowCount = 0;
            throw;
        }
        FTable->SetCachedUpdates(false);
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void TLanguageScanner::ScanExecutable() {
    try {
        TExeImage image(FExeName);
        ScanResources(image);
    } catch (...) {
        EndProgress();
        throw;
    }
    EndProgress();
}

void TLanguageScanner::ScanResources(TExeImage& image) {
    TResourceList& resources = image.Resources();
    for (int i = 0; i < resources.Count(); ++i) {
        TResourceItem& type = resources.Items(i);
        if (!type.Name().starts_with(kRCDataPrefix)) {
            continue;
        }
        if (!type.IsList()) {
            throw std::runtime_error(std::string(kNotAListMessage));
        }
        TResourceList& list = type.List();
        if (FOnProgressStart) {
            // The bar's maximum is the number of steps it can take: one per RCDATA resource.
            FOnProgressStart(list.Count(), std::string(kScanningCaption));
        }
        for (int j = 0; j < list.Count(); ++j) {
            const TResourceItem& resource = list.Items(j);
            if (!BeginsWithFormSignature(resource.RawData())) {
                continue;
            }
            TMemoryStream stream;
            if (FOnProgressStep) {
                FOnProgressStep();
            }
            resource.SaveToStream(stream);
            FFormReader->SetStream(&stream);
            stream.SetPosition(0);
            FFormReader->Parse();
            ++FFormCount;
            ExtractForm(FFormReader->Root());
        }
    }
}

void TLanguageScanner::EndProgress() const {
    if (FOnProgressStart) {
        FOnProgressStart(0, std::string());
    }
}

void TLanguageScanner::AddRow(std::string_view form, std::string_view component,
                              std::string_view property, std::string_view native) {
    if (IsBlankText(native)) {
        return;
    }
    FTable->Append();
    try {
        FTable->FieldByName(kFormNameColumn).SetAsString(CutKeyText(form));
        FTable->FieldByName(kComponentNameColumn).SetAsString(CutKeyText(component));
        FTable->FieldByName(kPropertyNameColumn).SetAsString(CutKeyText(property));
        FTable->FieldByName(kNativeColumn).SetAsString(native);
        FTable->Post();
    } catch (...) {
        // The half-written record is not left behind for whoever uses the table next.
        FTable->Cancel();
        throw;
    }
    ++FRowCount;
}

void TLanguageScanner::ExtractForm(const TObjectNode& root) {
    const std::string& form = root.Name;
    const std::string caption = root.StrProperty("Caption");
    AddRow(form, kFormHeaderKey, kFormHeaderKey,
           AsciiUpperCase(caption) + std::string(kFormHeaderSuffix));
    if (caption.find(kProductWord) == std::string::npos) {
        AddRow(form, kFormCaptionComponent, "Caption", caption);
    }
    // A collection owner reports its children itself; the walk then goes on after its last
    // child, so only that child's descendants are visited.
    const TObjectNode* node = root.Next();
    while (node != nullptr) {
        if (node->IsCollection) {
            ComponentRows(form, *node);
            CollectionRows(form, *node);
            if (node->ChildCount() > 0) {
                node = node->LastChild();
            }
            node = node->Next();
        } else {
            if (IsTranslatableComponent(*node)) {
                ComponentRows(form, *node);
            }
            node = node->Next();
        }
    }
}

void TLanguageScanner::ComponentRows(const std::string& form, const TObjectNode& node) {
    const bool linked = HasAction(node);
    for (int i = 0; i < node.PropertyCount(); ++i) {
        const TObjectProperty* property = node.Property(i);
        if (IsTranslatableProperty(linked, node.ClassName, property)) {
            AddRow(form, node.Name, property->Name, property->Text());
        }
    }
}

void TLanguageScanner::CollectionRows(const std::string& form, const TObjectNode& owner) {
    for (int i = 0; i < owner.ChildCount(); ++i) {
        const TObjectNode& child = *owner.Child(i);
        const bool linked = HasAction(child);
        const std::string component = owner.Name + "." + child.Name;
        const std::string position = std::to_string(i);
        for (int p = 0; p < child.PropertyCount(); ++p) {
            const TObjectProperty* property = child.Property(p);
            if (IsTranslatableProperty(linked, child.ClassName, property)) {
                AddRow(form, component, position, property->Text());
            }
        }
    }
}

} // namespace kelvara
