#pragma once
// The change cache of a table handle: posted edits and deletions of stored records, and posted
// new records, kept until they are applied to the file or dropped. Internal to TTable.
//
// Stored records are named by their row identity (stable across re-reads of the file, see
// table.cpp). A cached insert is named by an identity of its own and placed before the stored
// record it was inserted in front of (its anchor), or at the end; several inserts before one
// anchor keep their order.

#include "engine/field.h"

#include <cstdint>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

namespace kelvara {

// Anchor of the inserts shown after every stored record.
inline constexpr std::int64_t kAnchorEnd = INT64_MIN;

struct TCachedEdit {
    // The primary key as read (one value per key field), or, for a table without one, nothing
    // (the record is then found by its position as read).
    std::vector<TFieldValue> key;
    std::uint32_t positionAsRead = 0;
    // Changed fields: the value originally read and the value posted.
    struct TChange {
        TFieldValue original;
        TFieldValue posted;
    };
    std::map<int, TChange> fields;
    bool deleted = false;
    std::uint64_t sequence = 0; // order of the first change, for applying in order
};

struct TCachedInsert {
    std::vector<TFieldValue> values;
    std::int64_t anchor = kAnchorEnd;
    std::uint64_t sequence = 0;
};

class TChangeCache {
public:
    bool Empty() const { return edits_.empty() && inserts_.empty(); }
    std::size_t EditCount() const { return edits_.size(); }
    std::size_t InsertCount() const { return inserts_.size(); }
    void Clear();

    // --- Stored records.
    const TCachedEdit* FindEdit(std::int64_t identity) const;
    TCachedEdit* FindEdit(std::int64_t identity);
    // The entry of a record, made when it has none yet.
    TCachedEdit& EditOf(std::int64_t identity, std::vector<TFieldValue> key,
                        std::uint32_t positionAsRead);
    void DropEdit(std::int64_t identity) { edits_.erase(identity); }
    // Changed fields of a record, or nullptr; quick when nothing is cached.
    const std::map<int, TCachedEdit::TChange>* ChangedFields(std::int64_t identity) const;
    bool IsDeleted(std::int64_t identity) const;
    // Entries in the order of their first change.
    std::vector<std::pair<std::int64_t, const TCachedEdit*>> EditsInOrder() const;

    // --- New records.
    // Adds a record shown before `anchor` (a stored record's identity or kAnchorEnd), after the
    // inserts already there, or, when beforeInsert is given, just before that cached insert.
    std::int64_t AddInsert(std::vector<TFieldValue> values, std::int64_t anchor,
                           std::optional<std::int64_t> beforeInsert);
    // Adds a record under a given identity (reserved with NewInsertIdentity).
    void AddInsertAs(std::int64_t identity, std::vector<TFieldValue> values, std::int64_t anchor,
                     std::optional<std::int64_t> beforeInsert);
    std::int64_t NewInsertIdentity() { return nextInsertIdentity_++; }
    static bool IsInsertIdentity(std::int64_t identity) { return identity >= kFirstInsertIdentity; }
    TCachedInsert* FindInsert(std::int64_t identity);
    const TCachedInsert* FindInsert(std::int64_t identity) const;
    void DropInsert(std::int64_t identity);
    // The inserts shown before `anchor`, in order; empty when none.
    const std::vector<std::int64_t>& InsertsBefore(std::int64_t anchor) const;
    bool HasAnchors() const { return !anchors_.empty(); }
    // Every anchor that has inserts.
    std::vector<std::int64_t> Anchors() const;
    std::vector<std::int64_t> InsertsInOrder() const;

private:
    static constexpr std::int64_t kFirstInsertIdentity = std::int64_t{1} << 50;

    std::unordered_map<std::int64_t, TCachedEdit> edits_;
    std::unordered_map<std::int64_t, TCachedInsert> inserts_;
    std::unordered_map<std::int64_t, std::vector<std::int64_t>> anchors_;
    std::int64_t nextInsertIdentity_ = kFirstInsertIdentity;
    std::uint64_t nextSequence_ = 0;
};

} // namespace kelvara
