// Which window a message or file dialog is shown over. The main window is the
// owner at the bottom; each modal dialog puts itself on top while it is open,
// so what it asks or reports stays over it and its owner stays disabled.
// Handles are opaque here. UI thread only.
#pragma once

#include <algorithm>
#include <vector>

namespace parlex2 {

template <typename Handle>
class OwnerStack {
 public:
  // The owner when no dialog is open (null: no owner).
  void SetBase(Handle base) { base_ = base; }
  void Push(Handle owner) { stack_.push_back(owner); }
  // Takes `owner` off wherever it is, so a dialog that ends out of order (or
  // one that ends twice) cannot leave another's entry behind.
  void Remove(Handle owner) {
    auto found = std::find(stack_.rbegin(), stack_.rend(), owner);
    if (found != stack_.rend()) stack_.erase(std::next(found).base());
  }
  Handle Current() const { return stack_.empty() ? base_ : stack_.back(); }

 private:
  Handle base_{};
  std::vector<Handle> stack_;
};

}  // namespace parlex2
