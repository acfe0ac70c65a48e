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
  const std::vector<Row> rows{
      {std::string(kBase), "accepted"},
      {"[]", "invalid type: sequence, expected struct FeatureExtractorSpecWire at line 1 column 1"},
      {edited(R"("capacity":2)", R"("capacity":-1)"),
       "invalid type: integer `-1`, expected an unsigned integer at line 1 column 30"},
      {edited(R"({"symbol":"eth","event":"trade"})", R"(["eth","trade"])"),
       "invalid type: sequence, expected struct RequiredEventWire"},
      {edited(R"({"window":10})", R"([10])"), "invalid type: sequence, expected struct OutputWire"},
      {edited(R"("version":"2.0")", R"("version":"2.0","x":1)"),
       unknown + "`version`, `capacity`, `length`, `required_events`, `checksum`, `features`, `order_books`"},
      {edited(R"("event":"trade"})", R"("event":"trade","x":1})"), unknown + "`symbol`, `event`"},
      {edited(R"("indicators")", R"("x":1,"indicators")"), unknown + "`symbol`, `indicators`"},
      {edited(R"("kind":"cvd")", R"("x":1,"kind":"cvd")"),
       unknown + "`kind`, `source`, `warmup_policy`, `options`, `outputs`"},
      {edited(R"("type":"event")", R"("x":1,"type":"event")"), unknown + "`type`, `event`, `field`"},
      {edited(R"("options":{})", R"("options":{"x":1})"),
       unknown + "`name`, `side`, `price`, `size`, `from_price`, `to_price`, `n_levels`, `aggregation`, "
                 "`utc_offset`"},
      {edited(R"({"window":10})", R"({"x":1})"), unknown + "`n_levels`, `lag`, `window`, `id`"},
      {edited(R"("buffer_size":4)", R"("x":1)"), unknown + "`symbol`, `update_policy`, `buffer_size`, `dense`"},
      {edited(R"("tick_size":"1")", R"("x":1)"), unknown + "`tick_size`, `min_price`, `max_price`"},
      {edited(R"("length":2)", R"("length":2,"length":2)"), "duplicate field `length`"},
      {edited(R"("length":2,)", ""), "missing field `length`"},
      {edited(R"("kind":"cvd",)", ""), "missing field `kind`"},
      {edited(R"("max_price":"9")", R"("max_price":9)"), "invalid type: integer `9`, expected a string"},
      {edited(R"("capacity":2)", R"("capacity":1e3)"),
       "invalid type: floating point `1e3`, expected an unsigned integer"},
      {edited(R"("checksum":"c")", R"("checksum":null)"), "invalid type: null, expected a string"},
      {edited(R"("options":{})", R"("options":null)"), "invalid type: null, expected struct OptionsWire"},
      {edited(R"("outputs":[{"window":10},{"window":20}])", R"("outputs":null)"),
       "invalid type: null, expected a sequence"},
      {edited(R"("dense":{"tick_size":"1","min_price":"1","max_price":"9"})", R"("dense":null)"),
       "invalid type: null, expected struct DenseBookConfigWire"},
      {edited(R"("event":"trade"},)", R"("event":null},)"), "invalid type: null, expected a string"},
      {edited(R"("full_window")", "null"), "invalid type: null, expected variant identifier"},
      {edited(R"("full_window")", R"("Full_Window")"),
       "unknown variant `Full_Window`, expected one of `first_value`, `full_window`"},
      {edited(R"("monotonic")", R"("fifo")"), "unknown variant `fifo`, expected one of `monotonic`, `contiguous`"},
      {edited(R"({"window":10})", R"({"window":-1})"), "data did not match any variant of untagged enum WindowWire"},
      {edited(R"({"window":10})", R"({"window":2.5})"), "data did not match any variant of untagged enum WindowWire"},
      {edited(R"({"window":10})", R"({"window":null})"), "data did not match any variant of untagged enum WindowWire"},
      // Capacities and buffer sizes take every unsigned 64-bit value; nothing is allocated for them here.
      {edited(R"("capacity":2)", R"("capacity":18446744073709551615)"), "accepted"},
      {edited(R"("buffer_size":4)", R"("buffer_size":18446744073709551615)"), "accepted"},
      // Two faults: an unknown key is met before a missing one is known; the
      // first of two repeated keys is read before the repetition is seen; the
      // whole structure is read before any rule runs.
      {edited(R"("length":2,)", R"("x":1,)"), unknown + "`version`, `capacity`, `length`, `required_events`, "
                                                        "`checksum`, `features`, `order_books`"},
      {edited(R"("capacity":2)", R"("capacity":-1,"capacity":-1)"),
       "invalid type: integer `-1`, expected an unsigned integer"},
      {edited(R"("checksum":"c")", R"("checksum":"c","checksum":"c")"), "duplicate field `checksum`"},
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

// ---- whole documents ------------------------------------------------------------------------

// A document over `features` and `events` (the inside of the two lists).
std::string document(std::string_view features, std::string_view events, int length = 1, int capacity = 9,
                     std::string_view tail = "", std::string_view version = "2.0") {
  return fmt::format(R"({{"version":"{}","capacity":{},"length":{},"required_events":[{}],"features":[{}]{}}})",
                     version, capacity, length, events, features, tail);
}

constexpr std::string_view kMid = R"({"kind":"order_book_mid_price","source":{"type":"order_book"}})";
constexpr std::string_view kDayOfWeek = R"({"kind":"day_of_week","source":{"type":"any_event"}})";
constexpr std::string_view kContext = R"({"kind":"context","source":{"type":"context"},"options":{"name":"n"}})";

std::string group(std::string_view symbol, std::string_view indicators) {
  return fmt::format(R"({{"symbol":"{}","indicators":[{}]}})", symbol, indicators);
}
std::string event(std::string_view symbol, std::string_view name) {
  return fmt::format(R"({{"symbol":"{}","event":"{}"}})", symbol, name);
}

TEST(FeatureExtractorSpecReading, DocumentRules) {
  const std::string eth_mid = group("eth", kMid);
  const std::string eth_book_events = event("eth", "order_book_delta") + "," + event("eth", "order_book_snapshot");
  const std::string global_time = event("__global__", "time");
  const std::string three_returns =
      group("eth", R"({"kind":"log_return","source":{"type":"field","event":"price","field":"value"},)"
                   R"("outputs":[{"lag":1},{"lag":2},{"lag":3}]})");
  const std::string price_event = event("eth", "price");
  const auto books = [](std::string_view records) { return fmt::format(R"(,"order_books":[{}])", records); };
  const std::vector<Row> rows{
      {document("", "", 0, 0), "accepted"},
      {document(eth_mid, event("ETH", "order_book_delta") + "," + event("ETH", "order_book_snapshot")), "accepted"},
      {document(group("__global__", kContext), ""), "accepted"},
      {document(three_returns, price_event, 3, 3), "accepted"},
      {document(eth_mid, eth_book_events, 1, 9, "", "2.00"),
       "unsupported feature-vector spec version \"2.00\"; expected \"2.0\"; migrate sample averages to field "
       "extraction plus sma/ema pipeline transformations"},
      // the version comes before the groups
      {document(group("", ""), "", 1, 9, "", "2"),
       "unsupported feature-vector spec version \"2\"; expected \"2.0\"; migrate sample averages to field "
       "extraction plus sma/ema pipeline transformations"},
      {document(group("", ""), ""), "feature group symbol must not be empty"},
      {document(group("ETH", ""), ""), "feature group \"ETH\" must contain at least one indicator"},
      {document(group("ETH", kMid) + "," + group("eth", kMid), eth_book_events, 2),
       "duplicate normalized symbol group \"eth\""},
      // a failing indicator in the second group, before the events are compared
      {document(eth_mid + "," + group("btc", kDayOfWeek), ""),
       "invalid symbol scope or source for indicator kind \"day_of_week\""},
      {document(group("__global__", kDayOfWeek), event("__global__", "Time")), "unknown event kind \"Time\""},
      {document(group("__global__", kDayOfWeek), event("eth", "time")), "event \"time\" has invalid symbol \"eth\""},
      {document(eth_mid, event("__GLOBAL__", "trade")), "event \"trade\" has invalid symbol \"__GLOBAL__\""},
      {document(eth_mid, eth_book_events + "," + event("ETH", "order_book_delta")),
       "duplicate normalized required event"},
      {document(eth_mid, event("eth", "order_book_delta")), "required_events does not match feature extractor inputs"},
      {document(eth_mid, eth_book_events + "," + event("eth", "trade")),
       "required_events does not match feature extractor inputs"},
      {document(group("__global__", kContext), global_time), "required_events does not match feature extractor inputs"},
      // the events are compared before the length
      {document(three_returns, "", 2, 1), "required_events does not match feature extractor inputs"},
      {document(three_returns, price_event, 2, 3), "length 2 does not match expanded definition count 3"},
      // the length is checked before the capacity
      {document(three_returns, price_event, 2, 1), "length 2 does not match expanded definition count 3"},
      {document(three_returns, price_event, 3, 2), "capacity 2 is smaller than length 3"},
      {document(three_returns, price_event, 3, 2, books(R"({"symbol":"","update_policy":"monotonic","buffer_size":1})")),
       "capacity 2 is smaller than length 3"},
      {document(eth_mid, eth_book_events, 1, 9, books(R"({"symbol":"","update_policy":"monotonic","buffer_size":1})")),
       "order-book symbol must not be empty"},
      {document(eth_mid, eth_book_events, 1, 9,
                books(R"({"symbol":"eth","update_policy":"monotonic","buffer_size":1,)"
                      R"("dense":{"tick_size":"0.5","min_price":"1","max_price":"abc"}})")),
       "invalid order-book max_price: Invalid decimal: unknown character"},
      {document(group("eth", R"({"kind":"order_book_mid_price","source":{"type":"order_book"},)"
                             R"("outputs":[{"id":"__reserved_1"}]})"),
                eth_book_events, 1, 9, books(R"({"symbol":"__global__","update_policy":"monotonic","buffer_size":1})")),
       "invalid argument: feature definition at index 0 uses the reserved namespace for feature IDs"},
      {document(eth_mid, eth_book_events, 1, 9,
                books(R"({"symbol":"btc","update_policy":"monotonic","buffer_size":1},)"
                      R"({"symbol":"__GLOBAL__","update_policy":"monotonic","buffer_size":1})")),
       "invalid argument: order books require a non-global symbol"},
      {document(eth_mid, eth_book_events, 1, 9,
                books(R"({"symbol":"btc","update_policy":"monotonic","buffer_size":1},)"
                      R"({"symbol":"BTC","update_policy":"contiguous","buffer_size":1})")),
       "more than one order book is configured for symbol btc"},
      {document(eth_mid, eth_book_events, 1, 9,
                books(R"({"symbol":"eth","update_policy":"monotonic","buffer_size":1,)"
                      R"("dense":{"tick_size":"0.50","min_price":"1","max_price":"0"}})")),
       "order-book update failed: invalid dense order-book grid: tick 0.50, range [1, 0]"},
  };
  for (const Row& row : rows) EXPECT_EQ(outcome(row.document), row.message) << row.document;
}

// ---- one indicator --------------------------------------------------------------------------

TEST(FeatureExtractorSpecReading, IndicatorRules) {
  const std::string trade = R"("source":{"type":"event","event":"trade"})";
  const std::string price = R"("source":{"type":"field","event":"price","field":"value"})";
  const std::string any = R"("source":{"type":"any_event"})";
  const std::string book = R"("source":{"type":"order_book"})";
  const auto ind = [](std::string_view kind, std::string_view rest) {
    return fmt::format(R"({{"kind":"{}",{}}})", kind, rest);
  };
  std::string seventeen;
  for (int n = 1; n <= 17; ++n) seventeen += fmt::format(R"({}{{"n_levels":{}}})", n == 1 ? "" : ",", n);
  const std::string definition = "invalid indicator definition at index 0: ";
  // (group symbol, indicator, message)
  const std::vector<std::array<std::string, 3>> rows{
      {"eth", ind("nope", R"("source":{"type":"x"},"outputs":[])"), "nope outputs must not be empty"},
      // context
      {"eth", ind("context", R"("source":{"type":"event"},"warmup_policy":"first_value")"),
       "context does not allow warmup_policy"},
      {"eth", ind("context", R"("source":{"type":"context","field":"f"},"options":{"name":"n"})"),
       "context requires a context source without event or field"},
      {"eth", ind("context", R"("source":{"type":"context"},"options":{"side":"bid"})"), "context requires options.name"},
      {"eth", ind("context", R"("source":{"type":"context"},"options":{"name":"n","side":"bid"})"),
       "context does not allow options"},
      {"eth", ind("context", R"("source":{"type":"context"},"options":{"name":""},"outputs":[{},{}])"),
       definition + "context: context name must not be empty"},
      {"__global__", ind("context", R"("source":{"type":"context"},"options":{"name":"n"},"outputs":[{},{}])"),
       "context requires exactly one output"},
      {"eth", ind("context", R"("source":{"type":"context"},"options":{"name":"n"},"outputs":[{"lag":1}])"),
       "context output does not allow window, lag, or n_levels"},
      {"eth", ind("field", price + R"(,"options":{"price":"1","name":"n"})"), "only context allows options.name"},
      // order-book path
      {"__global__", ind("order_book_mid_price", book), "order_book source requires a symbol-specific scope and no event or field"},
      {"eth", ind("order_book_mid_price", R"("source":{"type":"order_book","event":"trade"},"warmup_policy":"first_value")"),
       "order_book source requires a symbol-specific scope and no event or field"},
      {"eth", ind("order_book_level_size", book + R"(,"warmup_policy":"first_value","options":{"price":"1"})"),
       "order_book_level_size does not allow warmup_policy"},
      {"eth", ind("order_book_level_size", book + R"(,"options":{"side":"BID","price":"1"})"),
       "order-book query requires side bid or ask"},
      {"eth", ind("order_book_depth_until_price", book + R"(,"options":{"side":"ask"})"), "order-book query requires price"},
      {"eth", ind("order_book_depth_until_size_price_to", book + R"(,"options":{"side":"ask","size":"1,5"})"),
       "invalid order-book size: Invalid decimal: unknown character"},
      {"eth", ind("order_book_volume_between_prices", book + R"(,"options":{"side":"ask","from_price":"1"})"),
       "order-book query requires to_price"},
      {"eth", ind("order_book_nth_price", book + R"(,"options":{"side":"bid"})"), "order_book_nth_price requires n_levels"},
      {"eth", ind("order_book_nth_size", book + R"(,"options":{"side":"bid","n_levels":0,"price":"1"})"),
       definition + "order book nth size: order-book depth must be positive"},
      {"eth", ind("order_book_volume_between_prices", book + R"(,"options":{"side":"bid","from_price":"2","to_price":"2.0"})"),
       definition + "order book volume between prices: order-book query requires from_price < to_price"},
      {"eth", ind("order_book_nth_price", book + R"(,"options":{"side":"bid","n_levels":2,"price":"1"})"),
       "order_book_nth_price has unexpected options"},
      {"eth", ind("order_book_level_size", book + R"(,"options":{"side":"bid","price":"1","aggregation":"1s"})"),
       "order_book_level_size has unexpected options"},
      {"eth", ind("order_book_level_size", book + R"(,"options":{"side":"bid","price":"1.50"},"outputs":[{},{}])"),
       "order_book_level_size requires exactly one output"},
      {"eth", ind("order_book_spread", book + R"(,"options":{"n_levels":1},"outputs":[{},{}])"),
       "order_book_spread does not allow options"},
      {"eth", ind("order_book_spread", book + R"(,"outputs":[{"window":1}])"),
       "order_book_spread output does not allow window, lag, or n_levels"},
      {"eth", ind("order_book_imbalance", book + R"(,"outputs":[)" + seventeen + "]"),
       "order_book_imbalance exceeds 16 outputs"},
      {"eth", ind("order_book_imbalance", book + R"(,"outputs":[{"n_levels":0,"window":1}])"),
       "order_book_imbalance output does not allow window or lag"},
      {"eth", ind("order_book_imbalance", book + R"(,"outputs":[{"n_levels":1},{"n_levels":0}])"),
       "order_book_imbalance requires positive n_levels"},
      {"eth", ind("order_book_imbalance", book), "order_book_imbalance requires positive n_levels"},
      {"eth", ind("nope", book + R"(,"options":{"side":"bid"})"), "nope does not allow options"},
      {"eth", ind("cvd", book), "invalid indicator kind \"cvd\" for order_book source"},
      // general path: book parameters, then the source, then scope, then outputs
      {"__global__", ind("order_book_mid_price", R"("source":{"type":"nope"},"options":{"side":"bid"})"),
       "order_book_mid_price does not allow order-book query parameters"},
      {"eth", ind("order_book_mid_price", any), "unknown indicator kind \"order_book_mid_price\""},
      {"eth", ind("field", R"("source":{"type":"field","field":"value"})"), "field source requires event"},
      {"eth", ind("field", R"("source":{"type":"field","event":"price"})"), "field source requires field"},
      {"eth", ind("field", R"("source":{"type":"field","event":"trade","field":"value"})"),
       "invalid field source event/field pair \"trade\"/\"value\""},
      {"eth", ind("cvd", R"("source":{"type":"event","field":"price"})"), "event source does not allow field"},
      {"eth", ind("cvd", R"("source":{"type":"event"})"), "event source requires event"},
      {"eth", ind("cvd", R"("source":{"type":"event","event":"Trade"})"), "unknown event kind \"Trade\""},
      {"__global__", ind("day_of_week", R"("source":{"type":"any_event","event":"time"})"),
       "any_event source does not allow event or field"},
      {"eth", ind("cvd", R"("source":{"type":"context"})"), "unknown source type \"context\""},
      {"eth", ind("Cvd", trade), "unknown indicator kind \"Cvd\""},
      {"__global__", ind("cvd", trade), "invalid symbol scope or source for indicator kind \"cvd\""},
      {"eth", ind("cvd", price), "invalid symbol scope or source for indicator kind \"cvd\""},
      {"eth", ind("day_of_week", any), "invalid symbol scope or source for indicator kind \"day_of_week\""},
      {"__global__", ind("sma", price), "invalid symbol scope or source for indicator kind \"sma\""},
      {"eth", ind("cvd", trade + R"(,"outputs":[{"n_levels":1}])"), "cvd output does not allow n_levels"},
      {"eth", ind("ema", price + R"(,"warmup_policy":"first_value")"),
       "sample averages moved to transformers; use field extraction plus an sma/ema pipeline transformation"},
      // per kind: warm-up, then options, then outputs
      {"eth", ind("field", price + R"(,"warmup_policy":"first_value","options":{"aggregation":"1s"})"),
       "field does not allow warmup_policy"},
      {"eth", ind("vpt", trade + R"(,"options":{"utc_offset":"+01:00"},"outputs":[{},{}])"), "vpt does not allow options"},
      {"eth", ind("field", price + R"(,"outputs":[{},{}])"), "field requires exactly one output"},
      {"eth", ind("vpt", trade + R"(,"outputs":[{"lag":1}])"), "vpt output does not allow window, lag, or n_levels"},
      {"__global__", ind("time_since_first_event_of_day", any + R"(,"options":{"aggregation":"1s"})"),
       "time_since_first_event_of_day options do not allow aggregation"},
      {"__global__", ind("time_since_first_event_of_day", any), "time_since_first_event_of_day options require utc_offset"},
      {"__global__", ind("time_since_first_event_of_day", any + R"(,"options":{"utc_offset":"+14:30"})"),
       "invalid UTC offset \"+14:30\""},
      {"eth", ind("log_return", price + R"(,"warmup_policy":"first_value","options":{"aggregation":"1s"})"),
       "log_return does not allow warmup_policy"},
      {"eth", ind("simple_return", price + R"(,"options":{"aggregation":"1s"},"outputs":[{"window":1}])"),
       "simple_return does not allow options"},
      {"eth", ind("log_return", price + R"(,"outputs":[{"lag":1,"window":1}])"), "log_return output does not allow window"},
      {"eth", ind("log_return", price), "log_return output requires an integer lag"},
      // outputs are checked one after the other: the first output's key fails before the second's lag is missed
      {"eth", ind("simple_return", price + R"(,"outputs":[{"lag":0},{}])"), definition + "simple return: window must be at least 1"},
      {"eth", ind("cvd", trade + R"(,"options":{"aggregation":"1s"})"), "cvd requires warmup_policy"},
      {"eth", ind("volatility", price + R"(,"warmup_policy":"full_window","options":{"aggregation":"1s"})"),
       "volatility does not allow options"},
      {"eth", ind("cvd", trade + R"(,"warmup_policy":"full_window","outputs":[{"window":5},{"lag":1}])"),
       "cvd output does not allow lag"},
      {"eth", ind("cvd", trade + R"(,"warmup_policy":"full_window")"), "cvd output requires an integer window"},
      {"eth", ind("volatility", price + R"(,"warmup_policy":"full_window","outputs":[{"window":"5m"}])"),
       "volatility output requires an integer window"},
      {"eth", ind("sma_timed", price + R"(,"options":{"utc_offset":"+01:00"})"), "sma_timed requires warmup_policy"},
      {"eth", ind("obv_timed", trade + R"(,"warmup_policy":"first_value","options":{"utc_offset":"+01:00"})"),
       "obv_timed options do not allow utc_offset"},
      {"eth", ind("vwap_timed", trade + R"(,"warmup_policy":"first_value","outputs":[{"lag":1}])"),
       "vwap_timed options require aggregation"},
      {"eth", ind("volatility_timed", price + R"(,"warmup_policy":"first_value","options":{"aggregation":"0s"},"outputs":[{"lag":1}])"),
       "invalid duration \"0s\"; expected a positive integer followed by ms, s, m, or h"},
      {"eth", ind("trade_count_timed", trade + R"(,"warmup_policy":"first_value","options":{"aggregation":"1s"},"outputs":[{"lag":1},{}])"),
       "trade_count_timed requires exactly one output"},
      {"eth", ind("trade_volume_timed", trade + R"(,"warmup_policy":"first_value","options":{"aggregation":"1s"},"outputs":[{"lag":1}])"),
       "trade_volume_timed output does not allow lag"},
      {"eth", ind("sma_timed", price + R"(,"warmup_policy":"first_value","options":{"aggregation":"1s"},"outputs":[{"window":10}])"),
       "sma_timed output requires a duration window"},
      {"eth", ind("sma_timed", price + R"(,"warmup_policy":"first_value","options":{"aggregation":"1s"},"outputs":[{"window":"20"}])"),
       "invalid duration \"20\"; expected a positive integer followed by ms, s, m, or h"},
  };
  for (const auto& [symbol, indicator, message] : rows) {
    EXPECT_EQ(outcome(document(group(symbol, indicator), "")), message) << indicator;
  }
}

}  // namespace
}  // namespace vorn::serde
