#pragma once
// Inside the table storage: the .px primary index of a keyed table, rebuilt from the block chain
// after every change. docs/formats/paradox.md, "Primary index", has the layout.

#include "engine/paradox_format.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

namespace kelvara::paradox::detail {

struct IndexSource {
    const TableInfo* info = nullptr;
    std::span<const std::uint8_t> dbHeader; // the .db header, for the key field descriptions
    const std::vector<ChainBlock>* chain = nullptr;
    // The first record of the chain block at this position.
    std::function<const std::uint8_t*(std::size_t position)> firstRecord;
    std::span<const std::uint8_t> oldIndex; // the current .px, or empty
    std::string_view indexName;             // file name written into a new header
};

// The complete .px file. The header of a sound existing index is kept (with its block size) and
// only its counters are set; otherwise a new one is made.
std::vector<std::uint8_t> BuildPrimaryIndex(const IndexSource& source);

// Checks an existing .px against the table: a message when it is out of date, else empty.
std::string CheckPrimaryIndex(const TableInfo& info, std::span<const std::uint8_t> index,
                              std::uint32_t recordCount);

} // namespace kelvara::paradox::detail
