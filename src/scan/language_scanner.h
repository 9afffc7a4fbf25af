#pragma once
// TLanguageScanner turns the forms of an executable into the rows of a new language table: one
// version stamp record, then per form resource a header row, a caption row and one row per
// translatable property of its components.
//
// Rows are appended to the table one at a time (append, write the four key and source fields,
// post) in the order they are made; Index_No and the language columns are left to the table.
// Nothing is undone after an error: the rows written before it stay.

#include "scan/dfm_scanner.h"
#include "scan/object_node.h"
#include "text/ascii.h"

#include <array>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kelvara {

class TExeImage;
class TTable;

// One entry of the list of translatable property names. FromAction: the component takes the
// property's value from its action when it has one, so the stored value is not translated here.
struct TPropertySpecification {
    std::string_view Name;
    bool FromAction;
};

// The translatable property names, searched first to last; names compare exactly.
inline constexpr std::array<TPropertySpecification, 8> PropertySpecification{{
    {"Caption", true},
    {"Hint", true},
    {"Title", false},
    {"Text", false},
    {"Lines.Strings", false},
    {"Tabs.Strings", false},
    {"Items.Strings", false},
    {"WideText", false},
}};

// The texts of the fixed rows.
inline constexpr std::string_view kVersionStampForm = "Pelora Language Table";
inline constexpr std::string_view kVersionStampComponent = "Version Stamp";
inline constexpr std::string_view kVersionStampNative = "Version Stamp";
inline constexpr std::string_view kFormHeaderKey = "********************";
inline constexpr std::string_view kFormHeaderSuffix = " WINDOW ELEMENTS (NON-TRANSLATABLE LABEL)";
inline constexpr std::string_view kFormCaptionComponent = "FormCaption";
// A form whose caption holds this word (letter case counts) gets no caption row.
inline constexpr std::string_view kProductWord = "Pelora";
// Bytes a key field (form, component and property name) holds.
inline constexpr std::size_t kKeyFieldBytes = 60;

// False for a component without a name and for a menu separator (a TMenuItem whose first
// property named exactly "Caption" is "-"); true otherwise.
bool IsTranslatableComponent(const TObjectNode& node);
// Whether the property (nullptr: none) of a component of the class is translatable: its name is
// in PropertySpecification, it is not the caption of a TPanel, and, when the component is linked
// to an action, the entry's value does not come from the action.
bool IsTranslatableProperty(bool linked, std::string_view className,
                            const TObjectProperty* property);
// True when the node's first property named exactly "Action" has a non-empty value text.
bool HasAction(const TObjectNode& node);

// True when the text, with every leading and trailing byte from 0 to 32 removed, is empty.
bool IsBlankText(std::string_view text);
// The first kKeyFieldBytes bytes of a key text. A UTF-8 character that the limit would split is
// left out whole, so a cut text stays well-formed; other bytes (texts in 8-bit code pages) are
// cut at the limit.
std::string CutKeyText(std::string_view text);

// The date in the user's short date format: on Windows the user's locale setting, elsewhere the
// date format of the LC_TIME locale from the environment (LC_ALL, LC_TIME, LANG), the "C"
// locale's when that is unset or unknown.
std::string ShortDateText(const std::tm& date);
// Today's local date as ShortDateText gives it.
std::string TodayShortDateText();

class TLanguageScanner {
public:
    using TProgressStartEvent = std::function<void(int maximum, const std::string& caption)>;
    using TProgressStepEvent = std::function<void()>;

    TLanguageScanner();
    TLanguageScanner(const TLanguageScanner&) = delete;
    TLanguageScanner& operator=(const TLanguageScanner&) = delete;
    ~TLanguageScanner();

    // The language table that receives the rows (not owned; it must outlive the scanner's use of
    // it). When it differs from the current one it is remembered and, unless nullptr, opened
    // (opening an open handle does nothing). Open failures pass on as the engine raises them.
    void SetTable(TTable* table);
    TTable* Table() const { return FTable; }

    // The executable to scan (UTF-8 path).
    const std::string& ExeName() const { return FExeName; }
    void SetExeName(std::string exeName) { FExeName = std::move(exeName); }
    // Written into the version stamp record, before " - " and today's date.
    const std::string& VersionLabel() const { return FVersionLabel; }
    void SetVersionLabel(std::string label) { FVersionLabel = std::move(label); }

    // Optional progress callbacks: a run starts with OnProgressStart(number of RCDATA resources,
    // "Scanning"), steps once per form and ends with OnProgressStart(0, "") also after an error.
    void SetOnProgressStart(TProgressStartEvent event) { FOnProgressStart = std::move(event); }
    void SetOnProgressStep(TProgressStepEvent event) { FOnProgressStep = std::move(event); }

    // Runs the whole extraction into the table (std::logic_error when none is set; it must be
    // open and in the browse state). Errors of the resource reader (EExeError), the form reader
    // (EReadError), the table (EDatabaseError) and "Fatal Error Encountered!" when the RCDATA
    // type is not a list leave as exceptions; rows written before stay in the table.
    // A table without cached updates has every row in its file when Scan returns or fails (the
    // rows are written together at the end, and cached updates are off again); a table with
    // cached updates on receives the rows in its cache, for the caller to apply.
    void Scan();

    // The one place that writes a row: nothing when native is blank (IsBlankText), otherwise one
    // new record with the key texts cut (CutKeyText) and native as it is, appended and posted.
    // Precondition: a table is set, open and in the browse state. When writing fails the new
    // record is cancelled and the engine's error passes on.
    void AddRow(std::string_view form, std::string_view component, std::string_view property,
                std::string_view native);
    // The rows of one decoded form: header, caption (unless it names the product), then the walk
    // over its components.
    void ExtractForm(const TObjectNode& root);

    // Of the last (or running) Scan: forms handed to ExtractForm and rows written.
    int FormCount() const { return FFormCount; }
    int RowCount() const { return FRowCount; }

private:
    void ScanExecutable();
    void ScanResources(TExeImage& image);
    void ComponentRows(const std::string& form, const TObjectNode& node);
    void CollectionRows(const std::string& form, const TObjectNode& owner);
    void EndProgress() const;

    TTable* FTable = nullptr;
    std::unique_ptr<TDFMScanner> FFormReader;
    std::string FExeName;
    std::string FVersionLabel;
    TProgressStartEvent FOnProgressStart;
    TProgressStepEvent FOnProgressStep;
    int FFormCount = 0;
    int FRowCount = 0;
};

} // namespace kelvara
