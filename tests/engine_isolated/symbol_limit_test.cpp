// The interner's 512-id limit, in a process of its own: the interner is
// process-wide, so nothing else may have interned names here.
#include <gtest/gtest.h>

#include <string>

#include "engine/errors.hpp"
#include "engine/symbols.hpp"

namespace vorn {
namespace {

TEST(SymbolLimit, FreshProcessHolds511NamesThenRefuses) {
  for (int i = 1; i <= 511; ++i) {
    auto symbol = symbols::intern("SYM" + std::to_string(i));
    ASSERT_TRUE(symbol.has_value()) << i;
    ASSERT_EQ(symbol->id, i);
  }

  auto refused = symbols::intern("one-too-many");
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(to_string(refused.error()), "invalid argument: symbol count 513 exceeds limit 512");
  EXPECT_EQ(refused.error(), VornError(InvalidArgumentError(argument_error::LimitExceeded{
                                 .target = LimitTarget::Symbols, .count = 513, .limit = 512})));

  // Nothing was added: the same name is refused again with the same count.
  refused = symbols::intern("ONE-TOO-MANY");
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(to_string(refused.error()), "invalid argument: symbol count 513 exceeds limit 512");

  // Known names, in any case, still intern to their ids.
  EXPECT_EQ(symbols::intern("sym1").value().id, 1);
  EXPECT_EQ(symbols::intern("Sym511").value().id, 511);
  EXPECT_EQ(symbols::intern("__GLOBAL__").value().id, 0);
  EXPECT_EQ(Symbol{511}.resolve_as_string(), "sym511");
  EXPECT_EQ(Symbol{511}.debug(), "Symbol(\"sym511\")");
  EXPECT_EQ(Symbol{512}.debug(), "Symbol(512)");
}

}  // namespace
}  // namespace vorn
