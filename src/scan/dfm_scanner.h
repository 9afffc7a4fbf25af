#pragma once
// Reader of binary form streams ("TPF0", then one object with its properties and nested
// components) into a tree of TObjectNode. It decodes integers (8 to 64 bits), floating-point
// numbers (extended and double), texts (8-bit, UTF-8 and UTF-16, the last converted to UTF-8) and
// identifiers; joins a list into one text (items joined by CR LF); turns a collection into child
// nodes of class "TCollectionItem" named after the collection property; skips binary data and
// sets; any other value kind becomes a placeholder text holding the one character 0. It never
// executes or instantiates anything named in the stream.
//
// Failures raise EReadError: "Stream read error" when the stream ends early, "Invalid property
// value" for a missing end marker, a value of the wrong kind, an unknown value kind or nesting
// deeper than kMaxDepth, "Invalid stream format" when the stream does not begin with "TPF0".

#include "scan/memory_stream.h"
#include "scan/object_node.h"

#include <memory>
#include <stdexcept>

namespace kelvara {

class EReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TDFMScanner {
public:
    // Objects inside objects, lists inside lists and collections together nest at most this deep.
    static constexpr int kMaxDepth = 128;

    TDFMScanner();
    ~TDFMScanner();

    // Remembers the stream to read (not owned; it must outlive the next Parse). nullptr is
    // ignored and the previous stream kept.
    void SetStream(TMemoryStream* stream);
    // Destroys the previous tree and decodes the remembered stream from its position into a new
    // one; afterwards the stream's position is after the form. Without a stream the root stays
    // empty. On failure the root holds the part read so far and EReadError leaves.
    void Parse();
    // The root of the last parse: the form object (its class and name). Owned by the scanner and
    // replaced by the next Parse.
    TObjectNode& Root() const { return *FRoot; }

private:
    TMemoryStream* FStream = nullptr;
    std::unique_ptr<TObjectNode> FRoot;
};

} // namespace kelvara
