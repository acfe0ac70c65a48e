#include "engine/order_book/sparse_book_side.hpp"

#include <algorithm>
#include <limits>
#include <new>

#include "engine/panic.hpp"

namespace vorn {

// ---- node pools ---------------------------------------------------------------

std::size_t SparseBookSide::max_leaves(std::size_t levels) {
  // Every leaf but a lone root holds at least kLeafMin levels.
  return std::max<std::size_t>(1, levels / kLeafMin);
}

std::size_t SparseBookSide::max_inners(std::size_t levels) {
  // Each inner level holds one root or nodes of at least kInnerMin children.
  std::size_t below = max_leaves(levels);
  std::size_t total = 0;
  while (below > 1) {
    below = std::max<std::size_t>(1, below / kInnerMin);
    total += below;
  }
  return total;
}

void SparseBookSide::reserve_additional(std::size_t count) {
  if (count > std::numeric_limits<std::size_t>::max() - size_) throw std::bad_alloc();
  const std::size_t levels = size_ + count;
  // An insert adds at most one leaf, and a tree never holds more nodes than
  // its fill allows; the pools only grow when the free nodes fall short.
  const std::size_t leaves = std::min(live_leaves_ + count, max_leaves(levels));
  const std::size_t inners = max_inners(levels);
  if (leaves >= kNone || inners >= kNone) throw std::bad_alloc();
  if (leaves > leaves_.capacity()) leaves_.reserve(std::max(leaves, 2 * leaves_.capacity()));
  if (inners > inners_.capacity()) inners_.reserve(std::max(inners, 2 * inners_.capacity()));
}

std::uint32_t SparseBookSide::new_leaf() {
  std::uint32_t id = free_leaves_;
  if (id != kNone) {
    free_leaves_ = leaves_[id].next;
  } else {
    if (leaves_.size() == leaves_.capacity()) panic("sparse book side: leaves were not reserved");
    id = static_cast<std::uint32_t>(leaves_.size());
    leaves_.emplace_back();
  }
  Leaf& leaf = leaves_[id];
  leaf.count = 0;
  leaf.prev = kNone;
  leaf.next = kNone;
  ++live_leaves_;
  return id;
}

std::uint32_t SparseBookSide::new_inner() {
  std::uint32_t id = free_inners_;
  if (id != kNone) {
    free_inners_ = inners_[id].children[0];
  } else {
    if (inners_.size() == inners_.capacity()) panic("sparse book side: inner nodes were not reserved");
    id = static_cast<std::uint32_t>(inners_.size());
    inners_.emplace_back();
  }
  inners_[id].count = 0;
  return id;
}

void SparseBookSide::free_leaf(std::uint32_t leaf) {
  leaves_[leaf].next = free_leaves_;
  free_leaves_ = leaf;
  --live_leaves_;
}

void SparseBookSide::free_inner(std::uint32_t node) {
  inners_[node].children[0] = free_inners_;
  free_inners_ = node;
}

void SparseBookSide::clear() {
  leaves_.clear();  // keeps the capacity
  inners_.clear();
  free_leaves_ = kNone;
  free_inners_ = kNone;
  live_leaves_ = 0;
  root_ = kNone;
  height_ = 0;
  first_leaf_ = kNone;
  last_leaf_ = kNone;
  size_ = 0;
}

// ---- lookups ------------------------------------------------------------------

namespace {

// Asks for every cache line of a node's entries at once, so that a binary
// search waits for memory once rather than at each of its steps.
void prefetch(const void* first, std::size_t bytes) {
  const auto* byte = static_cast<const char*>(first);
  for (std::size_t offset = 0; offset < bytes; offset += 64) __builtin_prefetch(byte + offset);
}

}  // namespace

SparseBookSide::Path SparseBookSide::descend(const Decimal& price) const {
  Path path;
  std::uint32_t node = root_;
  for (std::uint32_t depth = 0; depth < height_; ++depth) {
    const Inner& inner = inners_[node];
    // The child after every key that `price` is not worse than.
    const Decimal* keys = inner.keys;
    prefetch(keys, (inner.count - 1) * sizeof(Decimal));
    const Decimal* key = std::upper_bound(keys, keys + inner.count - 1, price,
                                          [&](const Decimal& p, const Decimal& k) { return worse(p, k); });
    const auto child = static_cast<std::uint32_t>(key - keys);
    path.steps[depth] = Step{node, child};
    node = inner.children[child];
  }
  path.leaf = node;
  prefetch(leaves_[node].levels, leaves_[node].count * sizeof(Level));
  return path;
}

std::uint32_t SparseBookSide::lower_slot(const Leaf& leaf, const Decimal& price) const {
  const Level* found = std::lower_bound(leaf.levels, leaf.levels + leaf.count, price,
                                        [&](const Level& level, const Decimal& p) { return worse(level.price, p); });
  return static_cast<std::uint32_t>(found - leaf.levels);
}

SparseBookSide::Position SparseBookSide::normalized(Position at) const {
  const Leaf& leaf = leaves_[at.leaf];
  if (at.slot == leaf.count && leaf.next != kNone) return Position{leaf.next, 0};
  return at;
}

SparseBookSide::Position SparseBookSide::lower_bound(const Decimal& price) const {
  if (empty()) return end();
  const Path path = descend(price);
  return normalized(Position{path.leaf, lower_slot(leaves_[path.leaf], price)});
}

SparseBookSide::Position SparseBookSide::upper_bound(const Decimal& price) const {
  if (empty()) return end();
  const Path path = descend(price);
  const Leaf& leaf = leaves_[path.leaf];
  const Level* found = std::upper_bound(leaf.levels, leaf.levels + leaf.count, price,
                                        [&](const Decimal& p, const Level& level) { return worse(p, level.price); });
  return normalized(Position{path.leaf, static_cast<std::uint32_t>(found - leaf.levels)});
}

SparseBookSide::Position SparseBookSide::end() const {
  if (empty()) return Position{kNone, 0};
  return Position{last_leaf_, leaves_[last_leaf_].count};
}

const Level& SparseBookSide::step_back(Position& at) const {
  if (at.slot > 0) {
    --at.slot;
  } else {
    at.leaf = leaves_[at.leaf].prev;
    at.slot = leaves_[at.leaf].count - 1;
  }
  return level_at(at);
}

std::optional<Decimal> SparseBookSide::size_at(const Decimal& price) const {
  if (empty()) return std::nullopt;
  const Leaf& leaf = leaves_[descend(price).leaf];
  const std::uint32_t slot = lower_slot(leaf, price);
  if (slot == leaf.count || worse(price, leaf.levels[slot].price)) return std::nullopt;
  return leaf.levels[slot].size;
}

SparseBookSide::Range SparseBookSide::levels_between(const Decimal& from_price,
                                                     const Decimal& to_price) const {
  if (!(from_price < to_price)) return Range{end(), end()};
  // Bids run by rising price, asks by falling price.
  if (side_ == Side::Bid) return Range{lower_bound(from_price), lower_bound(to_price)};
  return Range{upper_bound(to_price), upper_bound(from_price)};
}

// ---- changes ------------------------------------------------------------------

void SparseBookSide::update_level(const Decimal& price, const Decimal& size) {
  set_level(price, size, false);
}

void SparseBookSide::apply_snapshot(std::span<const Level> levels) {
  clear();
  if (load_ordered(levels)) return;
  // In list order, so that of equal prices the latest level is what remains.
  for (const Level& level : levels) set_level(level.price, level.size, true);
}

bool SparseBookSide::load_ordered(std::span<const Level> levels) {
  const std::size_t n = levels.size();
  bool worst_first = true;
  bool best_first = true;
  for (std::size_t i = 0; i < n; ++i) {
    if (levels[i].size.is_zero()) return false;
    if (i == 0) continue;
    worst_first = worst_first && worse(levels[i - 1].price, levels[i].price);
    best_first = best_first && worse(levels[i].price, levels[i - 1].price);
    if (!worst_first && !best_first) return false;
  }
  if (n == 0) return true;
  const auto at = [&](std::size_t i) -> const Level& { return levels[worst_first ? i : n - 1 - i]; };
  // Leaves three quarters full, the remainder spread over them; a cleared pool
  // hands out consecutive ids, so each level of the tree is a run of ids.
  const std::size_t leaf_count = (n + kLeafMerge - 1) / kLeafMerge;
  std::size_t taken = 0;
  for (std::size_t j = 0; j < leaf_count; ++j) {
    const std::uint32_t id = new_leaf();
    if (id != j) panic("sparse book side: a cleared pool hands out leaves in order");
    Leaf& leaf = leaves_[id];
    leaf.count = static_cast<std::uint32_t>(n / leaf_count + (j < n % leaf_count ? 1 : 0));
    for (std::uint32_t k = 0; k < leaf.count; ++k) leaf.levels[k] = at(taken++);
    if (j > 0) {
      leaf.prev = id - 1;
      leaves_[id - 1].next = id;
    }
  }
  first_leaf_ = 0;
  last_leaf_ = static_cast<std::uint32_t>(leaf_count - 1);
  size_ = n;
  // Inner nodes level by level, each over a run of the level below.
  std::uint32_t first = 0;
  std::size_t count = leaf_count;
  while (count > 1) {
    const std::size_t parents = (count + kInnerMerge - 1) / kInnerMerge;
    std::uint32_t child = first;
    std::uint32_t first_parent = kNone;
    for (std::size_t j = 0; j < parents; ++j) {
      const std::uint32_t id = new_inner();
      if (j == 0) first_parent = id;
      if (id != first_parent + j) panic("sparse book side: a cleared pool hands out inner nodes in order");
      Inner& node = inners_[id];
      node.count = static_cast<std::uint32_t>(count / parents + (j < count % parents ? 1 : 0));
      for (std::uint32_t k = 0; k < node.count; ++k, ++child) {
        node.children[k] = child;
        if (k > 0) node.keys[k - 1] = first_price(child, height_);
      }
    }
    first = first_parent;
    count = parents;
    ++height_;
  }
  root_ = first;
  return true;
}

const Decimal& SparseBookSide::first_price(std::uint32_t node, std::uint32_t height) const {
  for (; height > 0; --height) node = inners_[node].children[0];
  return leaves_[node].levels[0].price;
}

void SparseBookSide::set_level(const Decimal& price, const Decimal& size, bool replace_price) {
  if (root_ == kNone) {
    if (size.is_zero()) return;
    root_ = new_leaf();
    first_leaf_ = root_;
    last_leaf_ = root_;
  }
  // Most changes land near the top of the book, in the last leaf: no descent
  // is needed unless that leaf splits or runs low.
  const Leaf& last = leaves_[last_leaf_];
  const std::uint32_t leaf_id =
      last.count > 0 && !worse(price, last.levels[0].price) ? last_leaf_ : descend(price).leaf;
  Leaf& leaf = leaves_[leaf_id];
  const std::uint32_t slot = lower_slot(leaf, price);
  const bool found = slot < leaf.count && !worse(price, leaf.levels[slot].price);
  if (size.is_zero()) {
    if (found) erase_at(leaf_id, slot, price);
  } else if (!found) {
    insert_at(leaf_id, slot, Level{price, size});
  } else if (replace_price) {
    leaf.levels[slot] = Level{price, size};
  } else {
    leaf.levels[slot].size = size;
  }
}

void SparseBookSide::insert_at(std::uint32_t left_id, std::uint32_t slot, const Level& level) {
  ++size_;
  if (Leaf& leaf = leaves_[left_id]; leaf.count < kLeafSlots) {
    std::copy_backward(leaf.levels + slot, leaf.levels + leaf.count, leaf.levels + leaf.count + 1);
    leaf.levels[slot] = level;
    ++leaf.count;
    return;
  }
  // A full leaf splits: its levels and the new one are shared by two leaves.
  const Path path = descend(level.price);
  const std::uint32_t right_id = new_leaf();
  Leaf& left = leaves_[left_id];
  Leaf& right = leaves_[right_id];
  const auto joined = [&](std::uint32_t i) -> const Level& {
    return i < slot ? left.levels[i] : i == slot ? level : left.levels[i - 1];
  };
  // Halves, except that a leaf growing at one end (a snapshot arriving in
  // order) keeps most of its levels, so that such leaves end well filled.
  constexpr std::uint32_t total = kLeafSlots + 1;
  const std::uint32_t kept = slot == kLeafSlots ? total - kLeafMin - 1 : slot == 0 ? kLeafMin + 1 : total / 2;
  for (std::uint32_t i = kept; i < total; ++i) right.levels[i - kept] = joined(i);
  // Downward, so that every level is read before its place is written.
  for (std::uint32_t i = kept; i-- > slot;) left.levels[i] = joined(i);
  left.count = kept;
  right.count = total - kept;
  right.prev = left_id;
  right.next = left.next;
  if (left.next != kNone) {
    leaves_[left.next].prev = right_id;
  } else {
    last_leaf_ = right_id;
  }
  left.next = right_id;
  const Decimal key = right.levels[0].price;
  if (height_ == 0) {
    grow_root(left_id, right_id, key);
    return;
  }
  insert_child(path, height_ - 1, path.steps[height_ - 1].child, key, right_id);
}

void SparseBookSide::insert_child(const Path& path, std::uint32_t depth, std::uint32_t index,
                                  const Decimal& key, std::uint32_t child) {
  const std::uint32_t left_id = path.steps[depth].node;
  if (Inner& node = inners_[left_id]; node.count < kInnerSlots) {
    std::copy_backward(node.keys + index, node.keys + node.count - 1, node.keys + node.count);
    std::copy_backward(node.children + index + 1, node.children + node.count, node.children + node.count + 1);
    node.keys[index] = key;
    node.children[index + 1] = child;
    ++node.count;
    return;
  }
  // A full node splits; the key between its halves moves up.
  const std::uint32_t right_id = new_inner();
  Inner& left = inners_[left_id];
  Inner& right = inners_[right_id];
  const auto joined_key = [&](std::uint32_t i) -> const Decimal& {
    return i < index ? left.keys[i] : i == index ? key : left.keys[i - 1];
  };
  const auto joined_child = [&](std::uint32_t i) {
    return i <= index ? left.children[i] : i == index + 1 ? child : left.children[i - 1];
  };
  constexpr std::uint32_t total = kInnerSlots + 1;  // children
  const std::uint32_t kept =
      index + 1 == kInnerSlots ? total - kInnerMin - 1 : index == 0 ? kInnerMin + 1 : total / 2;
  for (std::uint32_t i = kept; i < total; ++i) right.children[i - kept] = joined_child(i);
  for (std::uint32_t i = kept; i < total - 1; ++i) right.keys[i - kept] = joined_key(i);
  const Decimal up = joined_key(kept - 1);
  // Downward, so that every entry is read before its place is written.
  for (std::uint32_t i = kept; i-- > 0;) left.children[i] = joined_child(i);
  for (std::uint32_t i = kept - 1; i-- > 0;) left.keys[i] = joined_key(i);
  left.count = kept;
  right.count = total - kept;
  if (depth > 0) {
    insert_child(path, depth - 1, path.steps[depth - 1].child, up, right_id);
    return;
  }
  if (height_ == kMaxHeight) panic("sparse book side: tree too high");
  grow_root(left_id, right_id, up);
}

void SparseBookSide::grow_root(std::uint32_t left, std::uint32_t right, const Decimal& key) {
  const std::uint32_t root = new_inner();
  Inner& inner = inners_[root];
  inner.children[0] = left;
  inner.children[1] = right;
  inner.keys[0] = key;
  inner.count = 2;
  root_ = root;
  ++height_;
}

void SparseBookSide::erase_at(std::uint32_t leaf_id, std::uint32_t slot, const Decimal& price) {
  Leaf& leaf = leaves_[leaf_id];
  std::copy(leaf.levels + slot + 1, leaf.levels + leaf.count, leaf.levels + slot);
  --leaf.count;
  --size_;
  if (height_ > 0) {
    if (leaf.count < kLeafMin) rebalance_leaf(descend(price));
  } else if (leaf.count == 0) {
    free_leaf(leaf_id);
    root_ = kNone;
    first_leaf_ = kNone;
    last_leaf_ = kNone;
  }
}

void SparseBookSide::rebalance_leaf(const Path& path) {
  const std::uint32_t depth = height_ - 1;
  Inner& parent = inners_[path.steps[depth].node];
  const std::uint32_t child = path.steps[depth].child;
  const std::uint32_t index = child + 1 < parent.count ? child : child - 1;  // of the left one
  const std::uint32_t left_id = parent.children[index];
  const std::uint32_t right_id = parent.children[index + 1];
  Leaf& left = leaves_[left_id];
  Leaf& right = leaves_[right_id];
  const std::uint32_t total = left.count + right.count;
  if (total <= kLeafMerge) {
    // The left leaf takes the right one's levels; the right one goes.
    std::copy(right.levels, right.levels + right.count, left.levels + left.count);
    left.count = total;
    left.next = right.next;
    if (right.next != kNone) {
      leaves_[right.next].prev = left_id;
    } else {
      last_leaf_ = left_id;
    }
    free_leaf(right_id);
    remove_child(path, depth, index);
    return;
  }
  const std::uint32_t kept = total / 2;
  if (left.count > kept) {
    const std::uint32_t moved = left.count - kept;
    std::copy_backward(right.levels, right.levels + right.count, right.levels + right.count + moved);
    std::copy(left.levels + kept, left.levels + left.count, right.levels);
  } else {
    const std::uint32_t moved = kept - left.count;
    std::copy(right.levels, right.levels + moved, left.levels + left.count);
    std::copy(right.levels + moved, right.levels + right.count, right.levels);
  }
  left.count = kept;
  right.count = total - kept;
  parent.keys[index] = right.levels[0].price;
}

void SparseBookSide::remove_child(const Path& path, std::uint32_t depth, std::uint32_t index) {
  const std::uint32_t id = path.steps[depth].node;
  Inner& node = inners_[id];
  std::copy(node.keys + index + 1, node.keys + node.count - 1, node.keys + index);
  std::copy(node.children + index + 2, node.children + node.count, node.children + index + 1);
  --node.count;
  if (depth > 0) {
    if (node.count < kInnerMin) rebalance_inner(path, depth);
  } else if (node.count == 1) {
    // A root with one child gives way to it.
    root_ = node.children[0];
    free_inner(id);
    --height_;
  }
}

void SparseBookSide::rebalance_inner(const Path& path, std::uint32_t depth) {
  Inner& parent = inners_[path.steps[depth - 1].node];
  const std::uint32_t child = path.steps[depth - 1].child;
  const std::uint32_t index = child + 1 < parent.count ? child : child - 1;  // of the left one
  const std::uint32_t right_id = parent.children[index + 1];
  Inner& left = inners_[parent.children[index]];
  Inner& right = inners_[right_id];
  const Decimal between = parent.keys[index];
  const std::uint32_t total = left.count + right.count;
  if (total <= kInnerMerge) {
    left.keys[left.count - 1] = between;
    std::copy(right.keys, right.keys + right.count - 1, left.keys + left.count);
    std::copy(right.children, right.children + right.count, left.children + left.count);
    left.count = total;
    free_inner(right_id);
    remove_child(path, depth - 1, index);
    return;
  }
  const std::uint32_t kept = total / 2;
  if (left.count > kept) {
    const std::uint32_t moved = left.count - kept;
    std::copy_backward(right.keys, right.keys + right.count - 1, right.keys + right.count - 1 + moved);
    std::copy_backward(right.children, right.children + right.count, right.children + right.count + moved);
    right.keys[moved - 1] = between;
    std::copy(left.keys + kept, left.keys + left.count - 1, right.keys);
    std::copy(left.children + kept, left.children + left.count, right.children);
    parent.keys[index] = left.keys[kept - 1];
  } else {
    const std::uint32_t moved = kept - left.count;
    left.keys[left.count - 1] = between;
    std::copy(right.keys, right.keys + moved - 1, left.keys + left.count);
    std::copy(right.children, right.children + moved, left.children + left.count);
    parent.keys[index] = right.keys[moved - 1];
    std::copy(right.keys + moved, right.keys + right.count - 1, right.keys);
    std::copy(right.children + moved, right.children + right.count, right.children);
  }
  left.count = kept;
  right.count = total - kept;
}

}  // namespace vorn
