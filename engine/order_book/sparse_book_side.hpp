// SparseBookSide: one side of a book as an ordered map of its nonzero levels,
// kept in a B+-tree whose nodes live in two pools (leaves and inner nodes)
// addressed by index. Levels are ordered from the worst price to the best, so
// the best level is the last one of the last leaf, and leaves are linked both
// ways for walks. Room for the nodes that coming updates may need is reserved
// beforehand, so that updates never allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/decimal.hpp"
#include "engine/order_book/book_update.hpp"
#include "engine/types.hpp"

namespace vorn {

class SparseBookSide {
public:
  // A gap between two adjacent levels in worst-first order: the gap just
  // before level `slot` of leaf `leaf`, or after the last level of the last
  // leaf. Every gap has exactly one position, so positions compare equal
  // exactly when they are the same gap.
  struct Position {
    std::uint32_t leaf;
    std::uint32_t slot;
    friend bool operator==(const Position&, const Position&) = default;
  };
  // The gaps around a run of levels, worst first: [begin, end).
  struct Range {
    Position begin;
    Position end;
  };

  explicit SparseBookSide(Side side) : side_(side) {}

  Side side() const { return side_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  // A nonzero size inserts or replaces the size at that price (compared by
  // value; the stored price keeps its first text); zero removes the level if
  // present. Room for the change must have been reserved (reserve_additional):
  // a missing node is a broken invariant.
  void update_level(const Decimal& price, const Decimal& size);
  // Replaces the side by the levels; a later level at an equal price wins,
  // price and size, and a zero size leaves no level.
  void apply_snapshot(std::span<const Level> levels);
  // Room for `count` more levels, so that the next `count` updates (or a
  // snapshot of at most `count` levels) do not allocate. Throws std::bad_alloc
  // when the memory cannot be had, before anything changes.
  void reserve_additional(std::size_t count);

  // The best level; the side must not be empty.
  const Level& best() const { return leaves_[last_leaf_].levels[leaves_[last_leaf_].count - 1]; }
  std::optional<Decimal> size_at(const Decimal& price) const;
  // The levels with from_price <= price < to_price.
  Range levels_between(const Decimal& from_price, const Decimal& to_price) const;

  // The gaps before the worst level and after the best level.
  Position begin() const { return Position{first_leaf_, 0}; }
  Position end() const;
  // The level just after the gap.
  const Level& level_at(Position at) const { return leaves_[at.leaf].levels[at.slot]; }
  // Moves `at` back over one level (towards the worst) and returns that level;
  // `at` must not be the gap before the worst level.
  const Level& step_back(Position& at) const;

private:
  static constexpr std::uint32_t kNone = UINT32_MAX;
  // Capacities and the fewest entries that a leaf or inner node other than the
  // root holds. Two nodes merge when their entries fit in three quarters of a
  // node, so a merged node takes many inserts before it splits again.
  static constexpr std::uint32_t kLeafSlots = 64;
  static constexpr std::uint32_t kInnerSlots = 64;  // children
  static constexpr std::uint32_t kLeafMin = kLeafSlots / 4;
  static constexpr std::uint32_t kInnerMin = kInnerSlots / 4;
  static constexpr std::uint32_t kLeafMerge = kLeafSlots * 3 / 4;
  static constexpr std::uint32_t kInnerMerge = kInnerSlots * 3 / 4;
  static constexpr std::uint32_t kMaxHeight = 16;

  struct Leaf {
    Level levels[kLeafSlots];
    std::uint32_t count;
    std::uint32_t prev;  // the worse neighbour; free leaves chain through `next`
    std::uint32_t next;  // the better neighbour
  };
  // keys[i] separates children[i] and children[i + 1]: every level under
  // children[i + 1] is not worse than keys[i], every level under children[i]
  // is worse.
  struct Inner {
    Decimal keys[kInnerSlots - 1];
    std::uint32_t children[kInnerSlots];  // free inner nodes chain through children[0]
    std::uint32_t count;                  // children
  };
  // One step of a descent: the inner node and the child taken.
  struct Step {
    std::uint32_t node;
    std::uint32_t child;
  };
  struct Path {
    Step steps[kMaxHeight];
    std::uint32_t leaf;
  };

  // a < b by value, without a call when both carry the same scale and no sign.
  static bool below(const Decimal& a, const Decimal& b) {
    if (a.scale() == b.scale() && !a.is_sign_negative() && !b.is_sign_negative()) {
      return a.coefficient() < b.coefficient();
    }
    return a < b;
  }
  // True when `a` lies further from the top of the book than `b`.
  bool worse(const Decimal& a, const Decimal& b) const {
    return side_ == Side::Bid ? below(a, b) : below(b, a);
  }
  // The leaf where `price` belongs, and the inner nodes above it (root first);
  // the side must not be empty.
  Path descend(const Decimal& price) const;
  // In the leaf: the first level not worse than `price`.
  std::uint32_t lower_slot(const Leaf& leaf, const Decimal& price) const;
  // The gap before the first level not worse than `price`, or the first level
  // better than `price`.
  Position lower_bound(const Decimal& price) const;
  Position upper_bound(const Decimal& price) const;
  Position normalized(Position at) const;

  // Builds the tree in one pass when the levels are in strict order (worst
  // first or best first, as snapshots usually come) with no zero size; false,
  // with the side still empty, for any other list.
  bool load_ordered(std::span<const Level> levels);
  // The worst price under a node `height` levels above the leaves.
  const Decimal& first_price(std::uint32_t node, std::uint32_t height) const;
  // Sets the level at `price`; `replace_price` stores the given price even
  // when an equal one is there.
  void set_level(const Decimal& price, const Decimal& size, bool replace_price);
  // Inserts or erases the level at `slot` of the leaf where its price belongs.
  void insert_at(std::uint32_t leaf, std::uint32_t slot, const Level& level);
  void erase_at(std::uint32_t leaf, std::uint32_t slot, const Decimal& price);
  // Adds `child` right of child `index` of the inner node at path depth
  // `depth`, with `key` between them; splits upward as needed.
  void insert_child(const Path& path, std::uint32_t depth, std::uint32_t index, const Decimal& key,
                    std::uint32_t child);
  // Removes child `index` + 1 and key `index` of the inner node at `depth`.
  void remove_child(const Path& path, std::uint32_t depth, std::uint32_t index);
  // A new root over the two nodes, one level higher than the old root.
  void grow_root(std::uint32_t left, std::uint32_t right, const Decimal& key);
  void rebalance_leaf(const Path& path);
  void rebalance_inner(const Path& path, std::uint32_t depth);

  std::uint32_t new_leaf();
  std::uint32_t new_inner();
  void free_leaf(std::uint32_t leaf);
  void free_inner(std::uint32_t node);
  void clear();

  // The most leaves and inner nodes that a tree of `levels` levels can hold.
  static std::size_t max_leaves(std::size_t levels);
  static std::size_t max_inners(std::size_t levels);

  std::vector<Leaf> leaves_;
  std::vector<Inner> inners_;
  std::uint32_t free_leaves_ = kNone;
  std::uint32_t free_inners_ = kNone;
  std::size_t live_leaves_ = 0;
  std::uint32_t root_ = kNone;
  std::uint32_t height_ = 0;  // inner levels above the leaves
  std::uint32_t first_leaf_ = kNone;  // a merge keeps the left leaf, so this one stays first
  std::uint32_t last_leaf_ = kNone;
  std::size_t size_ = 0;
  Side side_;
};

}  // namespace vorn
