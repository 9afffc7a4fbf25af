#include "engine/batch_move.h"

namespace kelvara {

void TBatchMove::Execute() {
    movedCount_ = 0;
    if (Source == nullptr) {
        throw EDatabaseError("Source table not assigned");
    }
    if (Destination == nullptr) {
        throw EDatabaseError("Destination table not assigned");
    }
    if (!Source->Active()) {
        throw EDatabaseError("Cannot perform this operation on a closed dataset");
    }
    if (!Destination->Active()) {
        throw EDatabaseError("Cannot perform this operation on a closed dataset");
    }
    // For each destination column, the source column of the same name (or none).
    const int destinationCount = Destination->FieldCount();
    std::vector<int> sourceColumn(static_cast<std::size_t>(destinationCount), -1);
    std::vector<TFieldDef> destinationDefs;
    for (int d = 0; d < destinationCount; ++d) {
        const TField& field = Destination->FieldAt(d);
        destinationDefs.push_back(field.Definition());
        if (const TField* source = Source->FindField(field.FieldName())) {
            sourceColumn[static_cast<std::size_t>(d)] = source->Index();
        }
    }
    // The rows to copy: a source table's row being inserted is not posted yet.
    auto* sourceTable = dynamic_cast<TTable*>(Source);
    std::vector<int> rows;
    const int rowCount = Source->RecordCount();
    rows.reserve(static_cast<std::size_t>(rowCount));
    for (int row = 0; row < rowCount; ++row) {
        if (sourceTable == nullptr || sourceTable->RowIsPosted(row)) {
            rows.push_back(row);
        }
    }
    Destination->AppendToFile(rows.size(), [&](std::size_t i, std::vector<TFieldValue>& values) {
        const int row = rows[i];
        for (int d = 0; d < destinationCount; ++d) {
            const int s = sourceColumn[static_cast<std::size_t>(d)];
            if (s < 0) {
                continue;
            }
            TFieldValue value = sourceTable != nullptr ? sourceTable->PostedValueAt(row, s)
                                                       : Source->ValueAt(row, s);
            values[static_cast<std::size_t>(d)] =
                ConvertFieldValue(value, destinationDefs[static_cast<std::size_t>(d)]);
        }
    });
    movedCount_ = static_cast<int>(rows.size());
}

} // namespace kelvara
