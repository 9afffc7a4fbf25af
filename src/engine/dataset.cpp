#include "engine/dataset.h"

#include <algorithm>

namespace kelvara {

TDataSet::~TDataSet() = default;

void TDataSet::CheckActive() const {
    if (!Active()) {
        throw EDatabaseError("Cannot perform this operation on a closed dataset");
    }
}

TField& TDataSet::FieldAt(int index) const {
    if (index < 0 || index >= FieldCount()) {
        throw EDatabaseError("Field index out of range");
    }
    return *fields_[static_cast<std::size_t>(index)];
}

TField* TDataSet::FindField(std::string_view name) const {
    for (const auto& field : fields_) {
        if (field->FieldName() == name) {
            return field.get();
        }
    }
    return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) const {
    if (TField* field = FindField(name)) {
        return *field;
    }
    throw EDatabaseError("Field '" + std::string(name) + "' not found");
}

std::vector<std::string> TDataSet::FieldDefNames() const {
    std::vector<std::string> names;
    names.reserve(fields_.size());
    for (const auto& field : fields_) {
        names.push_back(field->FieldName());
    }
    return names;
}

std::vector<TFieldDef> TDataSet::FieldDefList() const {
    std::vector<TFieldDef> defs;
    defs.reserve(fields_.size());
    for (const auto& field : fields_) {
        defs.push_back(field->Definition());
    }
    return defs;
}

void TDataSet::BindFields(const std::vector<TFieldDef>& defs) {
    fields_.clear();
    fields_.reserve(defs.size());
    for (std::size_t i = 0; i < defs.size(); ++i) {
        fields_.push_back(std::make_unique<TField>(*this, static_cast<int>(i), defs[i]));
    }
}

int TDataSet::RecordCount() const {
    return Active() ? RowCount() : 0;
}

void TDataSet::MoveTo(int row, bool bof, bool eof, bool scrolled) {
    currentRow_ = row;
    bof_ = bof;
    eof_ = eof;
    if (scrolled) {
        NotifyCurrentChanged();
        RaiseAfterScroll();
    }
}

void TDataSet::PlaceCursor(int row, bool scrolled) {
    MoveTo(row, row < 0, row < 0, scrolled);
}

void TDataSet::First() {
    CheckActive();
    CheckBrowseMode();
    const bool empty = RowCount() == 0;
    MoveTo(empty ? -1 : 0, true, empty, !empty);
}

void TDataSet::Last() {
    CheckActive();
    CheckBrowseMode();
    const int count = RowCount();
    MoveTo(count - 1, count == 0, count == 0, count > 0);
}

void TDataSet::Next() {
    CheckActive();
    CheckBrowseMode();
    const int count = RowCount();
    if (currentRow_ + 1 < count) {
        MoveTo(currentRow_ + 1, false, false, true);
    } else {
        eof_ = true;
        bof_ = count == 0;
    }
}

void TDataSet::Prior() {
    CheckActive();
    CheckBrowseMode();
    const int count = RowCount();
    if (currentRow_ > 0 && currentRow_ - 1 < count) {
        MoveTo(currentRow_ - 1, false, false, true);
    } else {
        bof_ = true;
        eof_ = count == 0;
    }
}

void TDataSet::SetRecNo(int recNo) {
    CheckActive();
    CheckBrowseMode();
    const int count = RowCount();
    if (count == 0) {
        return;
    }
    const int row = std::clamp(recNo, 1, count) - 1;
    MoveTo(row, false, false, row != currentRow_);
}

void TDataSet::Edit() {
    CheckActive();
    throw EDatabaseError("Cannot modify a read-only dataset");
}

void TDataSet::Append() {
    Edit();
}

void TDataSet::Insert() {
    Edit();
}

void TDataSet::Delete() {
    Edit();
}

void TDataSet::Post() {
    CheckActive();
}

void TDataSet::Cancel() {
    CheckActive();
}

TBookmark TDataSet::GetBookmark() const {
    CheckActive();
    if (currentRow_ < 0 || currentRow_ >= RowCount()) {
        return TBookmark();
    }
    return TBookmark(RowIdentity(currentRow_));
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
    CheckActive();
    if (!bookmark.Valid()) {
        return;
    }
    CheckBrowseMode();
    const int row = FindRowByIdentity(bookmark.identity_);
    if (row < 0) {
        throw EDatabaseError("Record not found");
    }
    MoveTo(row, false, false, true);
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) const {
    return Active() && bookmark.Valid() && FindRowByIdentity(bookmark.identity_) >= 0;
}

int TDataSet::FindRowByIdentity(std::int64_t identity) const {
    return identity >= 0 && identity < RowCount() ? static_cast<int>(identity) : -1;
}

void TDataSet::DisableControls() {
    if (disableCount_++ == 0) {
        Broadcast([this](TDataSetObserver& o) { o.DisplaySuspended(*this); });
    }
}

void TDataSet::EnableControls() {
    if (disableCount_ == 0) {
        return;
    }
    if (--disableCount_ == 0) {
        Broadcast([this](TDataSetObserver& o) { o.DisplayResumed(*this); });
    }
}

void TDataSet::AddObserver(TDataSetObserver& observer) {
    if (std::find(observers_.begin(), observers_.end(), &observer) == observers_.end()) {
        observers_.push_back(&observer);
    }
}

void TDataSet::RemoveObserver(TDataSetObserver& observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), &observer),
                     observers_.end());
}

template <typename Call> void TDataSet::Broadcast(Call call) {
    // An observer may remove itself (or another) while being told; tell only those still there.
    const std::vector<TDataSetObserver*> snapshot = observers_;
    for (TDataSetObserver* observer : snapshot) {
        if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end()) {
            call(*observer);
        }
    }
}

void TDataSet::NotifyRecordChanged(int row) {
    if (disableCount_ == 0) {
        Broadcast([this, row](TDataSetObserver& o) { o.RecordChanged(*this, row); });
    }
}

void TDataSet::NotifyRowsInserted(int first, int count) {
    if (disableCount_ == 0) {
        Broadcast([&](TDataSetObserver& o) { o.RowsInserted(*this, first, count); });
    }
}

void TDataSet::NotifyRowsRemoved(int first, int count) {
    if (disableCount_ == 0) {
        Broadcast([&](TDataSetObserver& o) { o.RowsRemoved(*this, first, count); });
    }
}

void TDataSet::NotifyReloaded() {
    if (disableCount_ == 0) {
        Broadcast([this](TDataSetObserver& o) { o.DataReloaded(*this); });
    }
}

void TDataSet::NotifyCurrentChanged() {
    if (disableCount_ == 0) {
        Broadcast([this](TDataSetObserver& o) { o.CurrentRecordChanged(*this); });
    }
}

void TDataSet::SetState(TDataSetState state) {
    if (state_ == state) {
        return;
    }
    state_ = state;
    if (disableCount_ == 0) {
        Broadcast([this](TDataSetObserver& o) { o.StateChanged(*this); });
    }
}

void TDataSet::RaiseAfterScroll() {
    if (AfterScroll) {
        AfterScroll(*this);
    }
}

void TDataSet::CheckRow(int row) const {
    CheckActive();
    if (row < 0 || row >= RowCount()) {
        throw EDatabaseError("Record number out of range");
    }
}

TFieldValue TDataSet::ValueAt(int row, int fieldIndex) const {
    CheckRow(row);
    FieldAt(fieldIndex);
    return RowValue(row, fieldIndex);
}

std::string TDataSet::TextAt(int row, int fieldIndex) const {
    CheckRow(row);
    return FieldValueToText(RowValue(row, fieldIndex), FieldAt(fieldIndex).DataType());
}

std::string TDataSet::DisplayTextAt(int row, int fieldIndex) const {
    CheckRow(row);
    const TField& field = FieldAt(fieldIndex);
    // Hooks read fields of "the" record; for the time of this call that is `row`.
    struct PaintScope {
        int& slot;
        int saved;
        ~PaintScope() { slot = saved; }
    } scope{paintRow_, paintRow_};
    paintRow_ = row;
    return field.DisplayText();
}

TFieldValue TDataSet::FieldValue(int fieldIndex) const {
    CheckActive();
    const int row = ReadRow();
    if (row < 0 || row >= RowCount()) {
        return std::monostate();
    }
    return RowValue(row, fieldIndex);
}

void TDataSet::StoreFieldValue(int fieldIndex, TFieldValue value) {
    WriteFieldValue(fieldIndex, std::move(value));
    modified_ = true;
    NotifyRecordChanged(currentRow_);
}

void TDataSet::WriteFieldValue(int, TFieldValue) {
    throw EDatabaseError("Cannot modify a read-only dataset");
}

} // namespace kelvara
