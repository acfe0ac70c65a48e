#include "engine/symbols.hpp"

#include <algorithm>
#include <exception>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "engine/debug_quote.hpp"
#include "engine/errors.hpp"
#include "engine/panic.hpp"

namespace vorn {
namespace {

// The process-wide table from names to ids. Created on first use with the
// global entry; entries are never removed or renamed.
struct SymbolInterner {
  std::mutex mutex;
  // Set when an exception left a locked section; every later intern and
  // resolve then aborts.
  bool poisoned = false;
  // Indexed by id. Reserved once for every id, so the strings never move and
  // the views in `ids` stay valid.
  std::vector<std::string> names;
  std::unordered_map<std::string_view, std::uint16_t> ids;

  SymbolInterner() {
    names.reserve(kSymbolLimit);
    names.emplace_back(kGlobalSymbolName);
    ids.emplace(names.back(), 0);
  }
};

SymbolInterner& interner() {
  static SymbolInterner instance;
  return instance;
}

// Holds the interner's lock; poisons the interner when an exception leaves
// the locked section.
class Locked {
public:
  Locked() : interner_(interner()), lock_(interner_.mutex), exceptions_(std::uncaught_exceptions()) {}
  ~Locked() {
    if (std::uncaught_exceptions() > exceptions_) interner_.poisoned = true;
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

  bool poisoned() const { return interner_.poisoned; }
  // The interner, for a caller that aborts when it is poisoned.
  SymbolInterner& checked() {
    if (interner_.poisoned) panic("symbol interner lock is poisoned");
    return interner_;
  }

private:
  SymbolInterner& interner_;
  std::lock_guard<std::mutex> lock_;
  int exceptions_;
};

bool has_ascii_upper(std::string_view name) {
  return std::any_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

}  // namespace

namespace symbols {

std::expected<Symbol, VornError> intern(std::string_view name) {
  Locked locked;
  SymbolInterner& table = locked.checked();
  std::string lowered;
  if (has_ascii_upper(name)) {
    lowered.assign(name);
    for (char& c : lowered) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    name = lowered;
  }
  if (auto found = table.ids.find(name); found != table.ids.end()) return Symbol{found->second};
  if (table.names.size() >= kSymbolLimit) {
    return std::unexpected(VornError(InvalidArgumentError(argument_error::LimitExceeded{
        .target = LimitTarget::Symbols, .count = table.names.size() + 1, .limit = kSymbolLimit})));
  }
  const auto id = static_cast<std::uint16_t>(table.names.size());
  table.names.emplace_back(name);
  try {
    table.ids.emplace(table.names.back(), id);
  } catch (...) {
    table.names.pop_back();
    throw;
  }
  return Symbol{id};
}

}  // namespace symbols

std::string Symbol::resolve_as_string() const {
  {
    Locked locked;
    const SymbolInterner& table = locked.checked();
    if (id < table.names.size()) return table.names[id];
  }
  // Unlocked first: an unknown id does not poison the interner.
  panic("symbol id " + std::to_string(id) + " was never interned");
}

std::string Symbol::display() const {
  if (is_global()) return "GLOBAL";
  return resolve_as_string();
}

std::string Symbol::debug() const {
  Locked locked;
  const SymbolInterner& table = interner();
  if (locked.poisoned() || id >= table.names.size()) return "Symbol(" + std::to_string(id) + ")";
  return "Symbol(" + debug_quoted(table.names[id]) + ")";
}

}  // namespace vorn
