#include "scan/node.h"

#include <stdexcept>

namespace kelvara {

TNode::~TNode() {
    Clear();
}

TNode* TNode::Child(int index) const {
    if (index < 0 || index >= ChildCount()) {
        throw std::out_of_range("Node child index out of range");
    }
    return FChildren[static_cast<std::size_t>(index)].get();
}

TNode* TNode::FirstChild() const {
    return FChildren.empty() ? nullptr : FChildren.front().get();
}

TNode* TNode::LastChild() const {
    return FChildren.empty() ? nullptr : FChildren.back().get();
}

TNode* TNode::NextSibling() const {
    if (FParent == nullptr || FIndex + 1 >= FParent->FChildren.size()) {
        return nullptr;
    }
    return FParent->FChildren[FIndex + 1].get();
}

TNode* TNode::Next() const {
    if (TNode* first = FirstChild()) {
        return first;
    }
    for (const TNode* node = this; node != nullptr; node = node->FParent) {
        if (TNode* sibling = node->NextSibling()) {
            return sibling;
        }
    }
    return nullptr;
}

void TNode::Clear() {
    // The order of destruction is part of the contract; a vector leaves it unspecified.
    for (auto& child : FChildren) {
        child.reset();
    }
    FChildren.clear();
}

TNode& TNode::AppendChild(std::unique_ptr<TNode> child) {
    child->FParent = this;
    child->FIndex = FChildren.size();
    FChildren.push_back(std::move(child));
    return *FChildren.back();
}

} // namespace kelvara
