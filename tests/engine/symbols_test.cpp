#include "engine/symbols.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/errors.hpp"
#include "engine/panic.hpp"

namespace vorn {
namespace {

Symbol intern(std::string_view name) {
  auto symbol = symbols::intern(name);
  EXPECT_TRUE(symbol.has_value()) << name;
  return symbol.value_or(Symbol::global());
}

TEST(Symbols, AsciiCaseFoldsToOneLowerCaseSymbol) {
  const Symbol upper = intern("ETH");
  EXPECT_EQ(intern("eth"), upper);
  EXPECT_EQ(intern("Eth"), upper);
  EXPECT_NE(upper, Symbol::global());
  EXPECT_EQ(upper.display(), "eth");
  EXPECT_EQ(upper.resolve_as_string(), "eth");
  EXPECT_EQ(upper.debug(), "Symbol(\"eth\")");
  EXPECT_EQ(fmt::format("{}", upper), "eth");
}

TEST(Symbols, GlobalNameInAnyCaseIsIdZero) {
  for (std::string_view name : {"__global__", "__GLOBAL__", "__Global__"}) {
    const Symbol symbol = intern(name);
    EXPECT_EQ(symbol.id, 0) << name;
    EXPECT_TRUE(symbol.is_global());
  }
  EXPECT_EQ(Symbol::global().display(), "GLOBAL");
  EXPECT_EQ(Symbol::global().resolve_as_string(), "__global__");
  EXPECT_EQ(Symbol::global().debug(), "Symbol(\"__global__\")");
  // The display word is not a name of the global symbol.
  EXPECT_NE(intern("GLOBAL"), Symbol::global());
}

TEST(Symbols, NonAsciiLettersAreNotFolded) {
  const Symbol lower = intern("caf\u00e9");   // café
  const Symbol upper = intern("caf\u00c9");   // cafÉ
  EXPECT_NE(lower, upper);
  EXPECT_EQ(intern("CAF\u00c9"), upper);      // only the ASCII letters fold
  EXPECT_EQ(upper.display(), "caf\u00c9");
}

TEST(Symbols, IdsAreDenseAndAnyTextIsAccepted) {
  const Symbol first = intern("symbols-test dense one");
  const Symbol second = intern("symbols-test dense two");
  EXPECT_EQ(second.id, first.id + 1);
  const Symbol empty = intern("");
  EXPECT_EQ(intern(""), empty);
  EXPECT_EQ(empty.resolve_as_string(), "");
  EXPECT_EQ(empty.debug(), "Symbol(\"\")");
  EXPECT_EQ(intern("a\"b\n").debug(), "Symbol(\"a\\\"b\\n\")");
}

TEST(Symbols, UnknownIdDebugsAsNumberAndAbortsOnResolve) {
  const Symbol unknown{600};
  EXPECT_EQ(unknown.debug(), "Symbol(600)");
  EXPECT_THROW((void)unknown.resolve_as_string(), Panic);
  EXPECT_THROW((void)unknown.display(), Panic);
  // The interner still works after the aborted call.
  EXPECT_EQ(intern("ETH"), intern("eth"));
}

TEST(Symbols, ConcurrentInterningGivesOneIdPerName) {
  constexpr int kThreads = 8;
  constexpr int kNames = 40;
  std::vector<std::string> names;
  for (int i = 0; i < kNames; ++i) names.push_back("concurrent-" + std::to_string(i));
  std::vector<std::vector<Symbol>> seen(kThreads, std::vector<Symbol>(kNames));
  {
    std::vector<std::jthread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        // Each thread walks the names from a different starting point, in
        // upper case on odd threads.
        for (int k = 0; k < kNames; ++k) {
          const int i = (k + t * 5) % kNames;
          std::string name = names[i];
          if (t % 2 == 1) std::transform(name.begin(), name.end(), name.begin(), ::toupper);
          seen[t][i] = symbols::intern(name).value();
        }
      });
    }
  }
  std::set<std::uint16_t> ids;
  for (int i = 0; i < kNames; ++i) {
    for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[t][i], seen[0][i]) << names[i];
    EXPECT_EQ(seen[0][i].resolve_as_string(), names[i]);
    ids.insert(seen[0][i].id);
  }
  EXPECT_EQ(ids.size(), static_cast<std::size_t>(kNames));
  // Dense: the new names took consecutive ids.
  EXPECT_EQ(*ids.rbegin() - *ids.begin() + 1, kNames);
}

}  // namespace
}  // namespace vorn
