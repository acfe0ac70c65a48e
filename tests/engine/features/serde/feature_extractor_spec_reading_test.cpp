// Refusals of spec documents: the structure of the records, the rules of a
// whole document and the rules of one indicator. Rule messages carry no
// position; structural ones end with one.
#include "engine/features/serde/feature_extractor_spec_json.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include <fmt/format.h>

namespace vorn::serde {
namespace {

std::string outcome(std::string_view text) {
  auto spec = deserialize_feature_extractor_spec(text);
  return spec ? "accepted" : spec.error();
}

struct Row {
  std::string document;
  std::string message;
};

// ---- structure -------------------------------------------------------------------------

// Every record type once, valid.
constexpr std::string_view kBase =
    R"({"version":"2.0","capacity":2,"length":2,"required_events":[{"symbol":"eth","event":"trade"}],)"
    R"("checksum":"c","features":[{"symbol":"eth","indicators":[{"kind":"cvd","source":{"type":"event",)"
    R"("event":"trade"},"warmup_policy":"full_window","options":{},"outputs":[{"window":10},{"window":20}]}]}],)"
    R"("order_books":[{"symbol":"eth","update_policy":"monotonic","buffer_size":4,)"
    R"("dense":{"tick_size":"1","min_price":"1","max_price":"9"}}]})";

// The base document with `from` replaced by `to`.
std::string edited(std::string_view from, std::string_view to) {
  std::string text(kBase);
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

TEST(FeatureExtractorSpecReading, StructuralFaultsOfEveryRecord) {
  const std::string unknown = "unknown field `x`, expected one of ";
  const std::string document_keys =
      unknown + "`version`, `capacity`, `length`, `required_events`, `checksum`, `features`, `order_books`";
  const std::vector<Row> rows{
      {std::string(kBase), "accepted"},
      {"[]", "invalid type: sequence, expected struct FeatureExtractorSpecWire at line 1 column 1"},
      {edited(R"("capacity":2)", R"("capacity":-1)"), "invalid type: integer `-1`, expected an unsigned integer at line 1 column 30"},
      {edited(R"("version":"2.0")", R"("version":"2.0","x":1)"), document_keys},
      {edited(R"("event":"trade"})", R"("event":"trade","x":1})"), unknown + "`symbol`, `event`"},
      {edited(R"("indicators")", R"("x":1,"indicators")"), unknown + "`symbol`, `indicators`"},
      {edited(R"("kind")", R"("x":1,"kind")"), unknown + "`kind`, `source`, `warmup_policy`, `options`, `outputs`"},
      {edited(R"("type")", R"("x":1,"type")"), unknown + "`type`, `event`, `field`"},
      {edited(R"("options":{})", R"("options":{"x":1})"),
       unknown + "`name`, `side`, `price`, `size`, `from_price`, `to_price`, `n_levels`, `aggregation`, `utc_offset`"},
      {edited(R"({"window":10})", R"({"x":1})"), unknown + "`n_levels`, `lag`, `window`, `id`"},
      {edited(R"("buffer_size":4)", R"("x":1)"), unknown + "`symbol`, `update_policy`, `buffer_size`, `dense`"},
      {edited(R"("tick_size":"1")", R"("x":1)"), unknown + "`tick_size`, `min_price`, `max_price`"},
      {edited(R"("kind":"cvd",)", ""), "missing field `kind`"},
      {edited(R"("checksum":"c")", R"("checksum":null)"), "invalid type: null, expected a string"},
      {edited(R"("options":{})", R"("options":null)"), "invalid type: null, expected struct OptionsWire"},
      {edited(R"("dense":{"tick_size":"1","min_price":"1","max_price":"9"})", R"("dense":null)"),
       "invalid type: null, expected struct DenseBookConfigWire"},
      {edited(R"("full_window")", "null"), "invalid type: null, expected variant identifier"},
      {edited(R"("full_window")", R"("Full_Window")"), "unknown variant `Full_Window`, expected one of `first_value`, `full_window`"},
      {edited(R"("monotonic")", R"("fifo")"), "unknown variant `fifo`, expected one of `monotonic`, `contiguous`"},
      // the update policy also reads from an object holding only its word, with null
      {edited(R"("monotonic")", R"({"contiguous":null})"), "accepted"},
      {edited(R"("monotonic")", R"({"fifo":null})"), "unknown variant `fifo`, expected one of `monotonic`, `contiguous`"},
      {edited(R"("monotonic")", R"({"monotonic":null,"contiguous":null})"), "invalid type: map, expected variant identifier"},
      {edited(R"("monotonic")", R"({"contiguous":"contiguous"})"), "invalid type: map, expected variant identifier"},
      {edited(R"("monotonic")", R"({})"), "invalid type: map, expected variant identifier"},
      {edited(R"("monotonic")", "null"), "invalid type: null, expected variant identifier"},
      {edited(R"({"window":10})", R"({"window":null})"), "data did not match any variant of untagged enum WindowWire"},
      // every unsigned 64-bit capacity and buffer size is taken; nothing is allocated for them while reading
      {edited(R"("capacity":2)", R"("capacity":18446744073709551615)"), "accepted"},
      {edited(R"("buffer_size":4)", R"("buffer_size":18446744073709551615)"), "accepted"},
      // two faults: an unknown key before a missing one, the first of two repeated keys read before the
      // repetition is seen, and the whole structure before any rule
      {edited(R"("length":2,)", R"("x":1,)"), document_keys},
      {edited(R"("capacity":2)", R"("capacity":-1,"capacity":-1)"), "invalid type: integer `-1`, expected an unsigned integer"},
      {edited(R"("version":"2.0","capacity":2)", R"("version":"1.0","capacity":-1)"),
       "invalid type: integer `-1`, expected an unsigned integer"},
  };
  const std::regex position(" at line \\d+ column \\d+$");
  for (const Row& row : rows) {
    const std::string actual = outcome(row.document);
    if (row.message == "accepted" || row.message.find(" at line ") != std::string::npos) {
      EXPECT_EQ(actual, row.message) << row.document;
    } else {
      EXPECT_TRUE(std::regex_search(actual, position)) << actual;
      EXPECT_EQ(std::regex_replace(actual, position, ""), row.message) << row.document;
    }
  }
}

// The whole text is read: a NUL byte after a complete document is refused
// where it stands.
TEST(FeatureExtractorSpecReading, NulByteAfterTheDocument) {
  const std::string text = std::string(kBase) + std::string("\0 junk", 6);
  EXPECT_EQ(outcome(text), fmt::format("parse error: syntax error while parsing value - invalid literal; last read: "
                                       "'\"9\"}}}}]}}<U+0000>'; expected end of input at line 1 column {}",
                                       kBase.size() + 1));
  EXPECT_EQ(outcome(std::string(kBase) + '\0'), outcome(text));
}

// ---- whole documents ------------------------------------------------------------------------

// A document over `features` and `events` (the inside of the two lists).
std::string document(std::string_view features, std::string_view events, int length = 1, int capacity = 9,
                     std::string_view books = "", std::string_view version = "2.0") {
  return fmt::format(R"({{"version":"{}","capacity":{},"length":{},"required_events":[{}],"features":[{}]{}{}{}}})",
                     version, capacity, length, events, features, books.empty() ? "" : R"(,"order_books":[)",
                     books, books.empty() ? "" : "]");
}
std::string group(std::string_view symbol, std::string_view indicators) {
  return fmt::format(R"({{"symbol":"{}","indicators":[{}]}})", symbol, indicators);
}
std::string event(std::string_view symbol, std::string_view name) {
  return fmt::format(R"({{"symbol":"{}","event":"{}"}})", symbol, name);
}
std::string book(std::string_view symbol, std::string_view dense = "") {
  return fmt::format(R"({{"symbol":"{}","update_policy":"monotonic","buffer_size":1{}}})", symbol, dense);
}

// An imbalance indicator with the depths first to last.
std::string imbalances(int first, int last) {
  std::string outputs;
  for (int n = first; n <= last; ++n) outputs += fmt::format(R"({}{{"n_levels":{}}})", n == first ? "" : ",", n);
  return R"({"kind":"order_book_imbalance","source":{"type":"order_book"},"outputs":[)" + outputs + "]}";
}

TEST(FeatureExtractorSpecReading, DocumentRules) {
  const std::string mid_price = R"({"kind":"order_book_mid_price","source":{"type":"order_book"}})";
  const std::string mid = group("eth", mid_price);
  const std::string book_events = event("eth", "order_book_delta") + "," + event("eth", "order_book_snapshot");
  const std::string day = R"({"kind":"day_of_week","source":{"type":"any_event"}})";
  const std::string context = group("__global__", R"({"kind":"context","source":{"type":"context"},"options":{"name":"n"}})");
  const std::string returns = group(
      "eth", R"({"kind":"log_return","source":{"type":"field","event":"price","field":"value"},"outputs":[{"lag":1},{"lag":2},{"lag":3}]})");
  const std::string price = event("eth", "price");
  const std::string version = "; expected \"2.0\"; migrate sample averages to field extraction plus sma/ema pipeline transformations";
  const std::string mismatch = "required_events does not match feature extractor inputs";
  const std::vector<Row> rows{
      {document("", "", 0, 0), "accepted"},
      {document(mid, event("ETH", "order_book_delta") + "," + event("ETH", "order_book_snapshot")), "accepted"},
      {document(context, ""), "accepted"},
      {document(returns, price, 3, 3), "accepted"},
      {document(mid, book_events, 1, 9, "", "2.00"), "unsupported feature-vector spec version \"2.00\"" + version},
      {document(group("", ""), "", 1, 9, "", "2"), "unsupported feature-vector spec version \"2\"" + version},
      {document(group("", ""), ""), "feature group symbol must not be empty"},
      {document(group("ETH", ""), ""), "feature group \"ETH\" must contain at least one indicator"},
      {document(group("ETH", mid_price) + "," + group("eth", mid_price), ""), "duplicate normalized symbol group \"eth\""},
      // a failing indicator in the second group, before the events are compared
      {document(mid + "," + group("btc", day), ""), "invalid symbol scope or source for indicator kind \"day_of_week\""},
      {document(group("__global__", day), event("__global__", "Time")), "unknown event kind \"Time\""},
      {document(group("__global__", day), event("eth", "time")), "event \"time\" has invalid symbol \"eth\""},
      {document(mid, event("__GLOBAL__", "trade")), "event \"trade\" has invalid symbol \"__GLOBAL__\""},
      {document(mid, book_events + "," + event("ETH", "order_book_delta")), "duplicate normalized required event"},
      {document(mid, event("eth", "order_book_delta")), mismatch},
      {document(mid, book_events + "," + event("eth", "trade")), mismatch},
      {document(context, event("__global__", "time")), mismatch},
      // events before length, length before capacity, capacity before the books
      {document(returns, "", 2, 1), mismatch},
      {document(returns, price, 2, 1), "length 2 does not match expanded definition count 3"},
      {document(returns, price, 3, 2, book("")), "capacity 2 is smaller than length 3"},
      // keys are not compiled here: a key given twice and 17 imbalance outputs of one symbol read
      {document(group("eth", mid_price + "," + mid_price), book_events, 2, 9), "accepted"},
      {document(group("eth", imbalances(1, 8) + "," + imbalances(9, 17)), book_events, 17, 17), "accepted"},
      {document(mid, book_events, 1, 9, book("")), "order-book symbol must not be empty"},
      {document(mid, book_events, 1, 9, book("eth", R"(,"dense":{"tick_size":"0.5","min_price":"1","max_price":"abc"})")),
       "invalid order-book max_price: Invalid decimal: unknown character"},
      // the reserved id is found before the global book
      {document(group("eth", R"({"kind":"order_book_mid_price","source":{"type":"order_book"},"outputs":[{"id":"__reserved_1"}]})"),
                book_events, 1, 9, book("__global__")),
       "invalid argument: feature definition at index 0 uses the reserved namespace for feature IDs"},
      {document(mid, book_events, 1, 9, book("btc") + "," + book("__GLOBAL__")), "invalid argument: order books require a non-global symbol"},
      {document(mid, book_events, 1, 9, book("btc") + "," + book("BTC")), "more than one order book is configured for symbol btc"},
      {document(mid, book_events, 1, 9, book("eth", R"(,"dense":{"tick_size":"0.50","min_price":"1","max_price":"0"})")),
       "order-book update failed: invalid dense order-book grid: tick 0.50, range [1, 0]"},
  };
  for (const Row& row : rows) EXPECT_EQ(outcome(row.document), row.message) << row.document;
}

// ---- one indicator --------------------------------------------------------------------------

TEST(FeatureExtractorSpecReading, IndicatorRules) {
  const std::string T = R"("source":{"type":"event","event":"trade"})";
  const std::string P = R"("source":{"type":"field","event":"price","field":"value"})";
  const std::string A = R"("source":{"type":"any_event"})";
  const std::string B = R"("source":{"type":"order_book"})";
  const std::string W = R"(,"warmup_policy":"first_value")";
  const std::string ctx = R"("source":{"type":"context"})";
  const std::string timed = W + R"(,"options":{"aggregation":"1s"})";
  std::string seventeen;
  for (int n = 1; n <= 17; ++n) seventeen += fmt::format(R"({}{{"n_levels":{}}})", n == 1 ? "" : ",", n);
  const std::string definition = "invalid indicator definition at index 0: ";
  // (group symbol, kind, the rest of the indicator, message); several rows hold two faults, the first reported
  const std::vector<std::array<std::string, 4>> rows{
      {"eth", "nope", R"("source":{"type":"x"},"outputs":[])", "nope outputs must not be empty"},
      {"eth", "context", R"("source":{"type":"event"})" + W, "context does not allow warmup_policy"},
      {"eth", "context", R"("source":{"type":"context","field":"f"},"options":{"name":"n"})",
       "context requires a context source without event or field"},
      {"eth", "context", ctx + R"(,"options":{"side":"bid"})", "context requires options.name"},
      {"eth", "context", ctx + R"(,"options":{"name":"n","side":"bid"})", "context does not allow options"},
      {"eth", "context", ctx + R"(,"options":{"name":""},"outputs":[{},{}])", definition + "context: context name must not be empty"},
      {"__global__", "context", ctx + R"(,"options":{"name":"n"},"outputs":[{},{}])", "context requires exactly one output"},
      {"eth", "field", P + R"(,"options":{"price":"1","name":"n"})", "only context allows options.name"},
      // order-book path
      {"eth", "order_book_spread", R"("source":{"type":"order_book","event":"trade"})" + W,
       "order_book source requires a symbol-specific scope and no event or field"},
      {"eth", "order_book_level_size", B + W + R"(,"options":{"price":"1"})", "order_book_level_size does not allow warmup_policy"},
      {"eth", "order_book_level_size", B + R"(,"options":{"side":"BID","price":"1"})", "order-book query requires side bid or ask"},
      {"eth", "order_book_depth_until_price", B + R"(,"options":{"side":"ask"})", "order-book query requires price"},
      {"eth", "order_book_depth_until_size_price_to", B + R"(,"options":{"side":"ask","size":"1,5"})",
       "invalid order-book size: Invalid decimal: unknown character"},
      {"eth", "order_book_nth_price", B + R"(,"options":{"side":"bid"})", "order_book_nth_price requires n_levels"},
      {"eth", "order_book_nth_size", B + R"(,"options":{"side":"bid","n_levels":0,"price":"1"})",
       definition + "order book nth size: order-book depth must be positive"},
      {"eth", "order_book_nth_price", B + R"(,"options":{"side":"bid","n_levels":2,"price":"1"})",
       "order_book_nth_price has unexpected options"},
      {"eth", "order_book_level_size", B + R"(,"options":{"side":"bid","price":"1","aggregation":"1s"})",
       "order_book_level_size has unexpected options"},
      {"eth", "order_book_imbalance", B + R"(,"outputs":[)" + seventeen + "]", "order_book_imbalance exceeds 16 outputs"},
      {"eth", "order_book_imbalance", B + R"(,"outputs":[{"n_levels":0,"window":1}])",
       "order_book_imbalance output does not allow window or lag"},
      {"eth", "order_book_imbalance", B + R"(,"outputs":[{"n_levels":1},{"n_levels":0}])",
       "order_book_imbalance requires positive n_levels"},
      {"eth", "nope", B + R"(,"options":{"side":"bid"})", "nope does not allow options"},
      {"eth", "cvd", B, "invalid indicator kind \"cvd\" for order_book source"},
      // general path: book parameters, the source, scope and source, outputs, then the kind's own rules
      {"__global__", "order_book_spread", R"("source":{"type":"x"},"options":{"side":"bid"})",
       "order_book_spread does not allow order-book query parameters"},
      {"eth", "order_book_spread", A, "unknown indicator kind \"order_book_spread\""},
      {"eth", "field", R"("source":{"type":"field","field":"value"})", "field source requires event"},
      {"eth", "field", R"("source":{"type":"field","event":"price"})", "field source requires field"},
      {"eth", "field", R"("source":{"type":"field","event":"trade","field":"value"})",
       "invalid field source event/field pair \"trade\"/\"value\""},
      {"eth", "cvd", R"("source":{"type":"event","field":"price"})", "event source does not allow field"},
      {"eth", "cvd", R"("source":{"type":"event"})", "event source requires event"},
      {"eth", "cvd", R"("source":{"type":"event","event":"Trade"})", "unknown event kind \"Trade\""},
      {"__global__", "day_of_week", R"("source":{"type":"any_event","event":"time"})", "any_event source does not allow event or field"},
      {"eth", "cvd", ctx, "unknown source type \"context\""},
      {"__global__", "sma", P, "invalid symbol scope or source for indicator kind \"sma\""},
      {"eth", "cvd", P, "invalid symbol scope or source for indicator kind \"cvd\""},
      {"eth", "day_of_week", A, "invalid symbol scope or source for indicator kind \"day_of_week\""},
      {"eth", "cvd", T + R"(,"outputs":[{"n_levels":1}])", "cvd output does not allow n_levels"},
      {"eth", "ema", P + W, "sample averages moved to transformers; use field extraction plus an sma/ema pipeline transformation"},
      {"eth", "field", P + W + R"(,"options":{"aggregation":"1s"})", "field does not allow warmup_policy"},
      {"eth", "vpt", T + R"(,"options":{"utc_offset":"+01:00"},"outputs":[{},{}])", "vpt does not allow options"},
      {"eth", "vpt", T + R"(,"outputs":[{"lag":1}])", "vpt output does not allow window, lag, or n_levels"},
      {"__global__", "time_since_first_event_of_day", A + R"(,"options":{"aggregation":"1s"})",
       "time_since_first_event_of_day options do not allow aggregation"},
      {"__global__", "time_since_first_event_of_day", A, "time_since_first_event_of_day options require utc_offset"},
      {"__global__", "time_since_first_event_of_day", A + R"(,"options":{"utc_offset":"+14:30"})", "invalid UTC offset \"+14:30\""},
      {"eth", "log_return", P + R"(,"outputs":[{"lag":1,"window":1}])", "log_return output does not allow window"},
      {"eth", "log_return", P, "log_return output requires an integer lag"},
      // output by output: the first output's key fails before the second's missing lag is seen
      {"eth", "simple_return", P + R"(,"outputs":[{"lag":0},{}])", definition + "simple return: window must be at least 1"},
      {"eth", "cvd", T + R"(,"options":{"aggregation":"1s"})", "cvd requires warmup_policy"},
      {"eth", "cvd", T + W + R"(,"outputs":[{"window":5},{"lag":1}])", "cvd output does not allow lag"},
      {"eth", "volatility", P + W + R"(,"outputs":[{"window":"5m"}])", "volatility output requires an integer window"},
      {"eth", "obv_timed", T + W + R"(,"options":{"utc_offset":"+01:00"})", "obv_timed options do not allow utc_offset"},
      {"eth", "vwap_timed", T + W + R"(,"outputs":[{"lag":1}])", "vwap_timed options require aggregation"},
      {"eth", "volatility_timed", P + W + R"(,"options":{"aggregation":"0s"},"outputs":[{"lag":1}])",
       "invalid duration \"0s\"; expected a positive integer followed by ms, s, m, or h"},
      {"eth", "trade_count_timed", T + timed + R"(,"outputs":[{"lag":1},{}])", "trade_count_timed requires exactly one output"},
      {"eth", "trade_volume_timed", T + timed + R"(,"outputs":[{"lag":1}])", "trade_volume_timed output does not allow lag"},
      {"eth", "sma_timed", P + timed + R"(,"outputs":[{"window":10}])", "sma_timed output requires a duration window"},
      {"eth", "sma_timed", P + timed + R"(,"outputs":[{"window":"20"}])",
       "invalid duration \"20\"; expected a positive integer followed by ms, s, m, or h"},
  };
  for (const auto& [symbol, kind, rest, message] : rows) {
    const std::string indicator = fmt::format(R"({{"kind":"{}",{}}})", kind, rest);
    EXPECT_EQ(outcome(document(group(symbol, indicator), "")), message) << indicator;
  }
}

}  // namespace
}  // namespace vorn::serde
