#pragma once
// A node of an ordered tree. A node owns its children; destroying a node (or Clear) destroys its
// children first to last. Pointers handed out stay valid until the node that owns them is
// cleared or destroyed.

#include <cstddef>
#include <memory>
#include <vector>

namespace kelvara {

class TNode {
public:
    TNode() = default;
    TNode(const TNode&) = delete;
    TNode& operator=(const TNode&) = delete;
    virtual ~TNode();

    // The node that holds this one, or nullptr for a root.
    TNode* Parent() const { return FParent; }
    int ChildCount() const { return static_cast<int>(FChildren.size()); }
    // The child at index 0 .. ChildCount() - 1; std::out_of_range for any other index.
    TNode* Child(int index) const;
    // nullptr when there are no children.
    TNode* FirstChild() const;
    TNode* LastChild() const;
    // The child after this node in its parent's children; nullptr without parent or for the last.
    TNode* NextSibling() const;
    // The node after this one in pre-order: the first child, else the next sibling, else the next
    // sibling of the nearest ancestor that has one; nullptr after the last node of the tree.
    TNode* Next() const;
    // Destroys all children, first to last.
    void Clear();

protected:
    // Appends child (not null) to the children and makes this node its parent.
    TNode& AppendChild(std::unique_ptr<TNode> child);

private:
    TNode* FParent = nullptr;
    std::size_t FIndex = 0; // position among the parent's children
    std::vector<std::unique_ptr<TNode>> FChildren;
};

} // namespace kelvara
