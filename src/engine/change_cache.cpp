#include "engine/change_cache.h"

#include <algorithm>

namespace kelvara {

void TChangeCache::Clear() {
    edits_.clear();
    inserts_.clear();
    anchors_.clear();
}

const TCachedEdit* TChangeCache::FindEdit(std::int64_t identity) const {
    const auto found = edits_.find(identity);
    return found == edits_.end() ? nullptr : &found->second;
}

TCachedEdit* TChangeCache::FindEdit(std::int64_t identity) {
    const auto found = edits_.find(identity);
    return found == edits_.end() ? nullptr : &found->second;
}

TCachedEdit& TChangeCache::EditOf(std::int64_t identity, std::vector<TFieldValue> key,
                                  std::uint32_t positionAsRead) {
    const auto [entry, made] = edits_.try_emplace(identity);
    if (made) {
        entry->second.key = std::move(key);
        entry->second.positionAsRead = positionAsRead;
        entry->second.sequence = nextSequence_++;
    }
    return entry->second;
}

const std::map<int, TCachedEdit::TChange>*
TChangeCache::ChangedFields(std::int64_t identity) const {
    if (edits_.empty()) {
        return nullptr;
    }
    const auto found = edits_.find(identity);
    return found == edits_.end() || found->second.fields.empty() ? nullptr : &found->second.fields;
}

bool TChangeCache::IsDeleted(std::int64_t identity) const {
    const TCachedEdit* edit = edits_.empty() ? nullptr : FindEdit(identity);
    return edit != nullptr && edit->deleted;
}

std::vector<std::pair<std::int64_t, const TCachedEdit*>> TChangeCache::EditsInOrder() const {
    std::vector<std::pair<std::int64_t, const TCachedEdit*>> ordered;
    ordered.reserve(edits_.size());
    for (const auto& [identity, edit] : edits_) {
        ordered.emplace_back(identity, &edit);
    }
    std::sort(ordered.begin(), ordered.end(),
              [](const auto& a, const auto& b) { return a.second->sequence < b.second->sequence; });
    return ordered;
}

std::int64_t TChangeCache::AddInsert(std::vector<TFieldValue> values, std::int64_t anchor,
                                     std::optional<std::int64_t> beforeInsert) {
    const std::int64_t identity = NewInsertIdentity();
    AddInsertAs(identity, std::move(values), anchor, beforeInsert);
    return identity;
}

void TChangeCache::AddInsertAs(std::int64_t identity, std::vector<TFieldValue> values,
                               std::int64_t anchor, std::optional<std::int64_t> beforeInsert) {
    TCachedInsert& insert = inserts_[identity];
    insert.values = std::move(values);
    insert.anchor = anchor;
    insert.sequence = nextSequence_++;
    std::vector<std::int64_t>& list = anchors_[anchor];
    auto position = list.end();
    if (beforeInsert) {
        position = std::find(list.begin(), list.end(), *beforeInsert);
    }
    list.insert(position, identity);
}

TCachedInsert* TChangeCache::FindInsert(std::int64_t identity) {
    const auto found = inserts_.find(identity);
    return found == inserts_.end() ? nullptr : &found->second;
}

const TCachedInsert* TChangeCache::FindInsert(std::int64_t identity) const {
    const auto found = inserts_.find(identity);
    return found == inserts_.end() ? nullptr : &found->second;
}

void TChangeCache::DropInsert(std::int64_t identity) {
    const auto found = inserts_.find(identity);
    if (found == inserts_.end()) {
        return;
    }
    const auto list = anchors_.find(found->second.anchor);
    if (list != anchors_.end()) {
        std::erase(list->second, identity);
        if (list->second.empty()) {
            anchors_.erase(list);
        }
    }
    inserts_.erase(found);
}

const std::vector<std::int64_t>& TChangeCache::InsertsBefore(std::int64_t anchor) const {
    static const std::vector<std::int64_t> none;
    const auto found = anchors_.find(anchor);
    return found == anchors_.end() ? none : found->second;
}

std::vector<std::int64_t> TChangeCache::Anchors() const {
    std::vector<std::int64_t> anchors;
    for (const auto& [anchor, list] : anchors_) {
        anchors.push_back(anchor);
    }
    return anchors;
}

std::vector<std::int64_t> TChangeCache::InsertsInOrder() const {
    std::vector<std::int64_t> ordered;
    for (const auto& [identity, insert] : inserts_) {
        ordered.push_back(identity);
    }
    std::sort(ordered.begin(), ordered.end(), [this](std::int64_t a, std::int64_t b) {
        return inserts_.at(a).sequence < inserts_.at(b).sequence;
    });
    return ordered;
}

} // namespace kelvara
