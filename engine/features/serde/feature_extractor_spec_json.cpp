#include "engine/features/serde/feature_extractor_spec_json.hpp"

#include <cstddef>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "engine/debug_quote.hpp"
#include "engine/errors.hpp"
#include "engine/features/serde/indicator_wire.hpp"
#include "engine/features/serde/json_records.hpp"
#include "engine/symbols.hpp"

namespace vorn::serde {
namespace {

static_assert(sizeof(std::size_t) == sizeof(std::uint64_t), "capacities and buffer sizes are read as 64-bit values");

using Fail = std::unexpected<std::string>;

Fail fail_with(const VornError& error) { return Fail(to_string(error)); }

// A book configuration from its record; its grid is checked by the spec.
TextResult<OrderBookConfig> order_book_config(const OrderBookConfigWire& wire) {
  if (wire.symbol.empty()) return Fail("order-book symbol must not be empty");
  auto symbol = symbols::intern(wire.symbol);
  if (!symbol) return fail_with(symbol.error());
  OrderBookConfig config{*symbol, wire.update_policy, wire.buffer_size, std::nullopt};
  if (wire.dense) {
    auto tick_size = parse_book_decimal(wire.dense->tick_size, "tick_size");
    if (!tick_size) return Fail(std::move(tick_size.error()));
    auto min_price = parse_book_decimal(wire.dense->min_price, "min_price");
    if (!min_price) return Fail(std::move(min_price.error()));
    auto max_price = parse_book_decimal(wire.dense->max_price, "max_price");
    if (!max_price) return Fail(std::move(max_price.error()));
    config.dense = DenseBookConfig{*tick_size, *min_price, *max_price};
  }
  return config;
}

// The definitions of every group, with the events their sources need.
TextStatus read_groups(const std::vector<FeatureGroupWire>& groups, std::vector<FeatureDefinition>& definitions,
                       EventSet& derived) {
  std::set<std::uint16_t> seen;
  for (const FeatureGroupWire& group : groups) {
    if (group.symbol.empty()) return Fail("feature group symbol must not be empty");
    if (group.indicators.empty()) {
      return Fail(fmt::format("feature group {} must contain at least one indicator", debug_quoted(group.symbol)));
    }
    auto symbol = symbols::intern(group.symbol);
    if (!symbol) return fail_with(symbol.error());
    if (!seen.insert(symbol->id).second) {
      return Fail(fmt::format("duplicate normalized symbol group {}", debug_quoted(symbol->resolve_as_string())));
    }
    for (const IndicatorWire& indicator : group.indicators) {
      add_required_events(*symbol, indicator.source, derived);
      if (auto status = deserialize_indicator(*symbol, indicator, definitions); !status) return status;
    }
  }
  return {};
}

TextResult<EventSet> read_declared_events(const std::vector<RequiredEventWire>& events) {
  EventSet declared;
  for (const RequiredEventWire& event : events) {
    auto kind = parse_event(event.event);
    if (!kind) return Fail(std::move(kind.error()));
    auto symbol = symbols::intern(event.symbol);
    if (!symbol) return fail_with(symbol.error());
    if ((*kind == EventKind::Time) != symbol->is_global()) {
      return Fail(fmt::format("event {} has invalid symbol {}", debug_quoted(event.event), debug_quoted(event.symbol)));
    }
    if (!declared.emplace(symbol->resolve_as_string(), std::string(json_word(*kind))).second) {
      return Fail("duplicate normalized required event");
    }
  }
  return declared;
}

}  // namespace

TextResult<FeatureExtractorSpec> spec_from_wire(FeatureExtractorSpecWire wire) {
  if (wire.version != "2.0") {
    return Fail(fmt::format(
        "unsupported feature-vector spec version {}; expected {}; migrate sample averages to field extraction "
        "plus sma/ema pipeline transformations",
        debug_quoted(wire.version), debug_quoted("2.0")));
  }
  std::vector<FeatureDefinition> definitions;
  EventSet derived;
  if (auto status = read_groups(wire.features, definitions, derived); !status) return Fail(std::move(status.error()));
  auto declared = read_declared_events(wire.required_events);
  if (!declared) return Fail(std::move(declared.error()));
  if (*declared != derived) return Fail("required_events does not match feature extractor inputs");
  if (wire.length != definitions.size()) {
    return Fail(fmt::format("length {} does not match expanded definition count {}", wire.length, definitions.size()));
  }
  if (wire.capacity < wire.length) {
    return Fail(fmt::format("capacity {} is smaller than length {}", wire.capacity, wire.length));
  }
  std::vector<OrderBookConfig> books;
  books.reserve(wire.order_books.size());
  for (const OrderBookConfigWire& book : wire.order_books) {
    auto config = order_book_config(book);
    if (!config) return Fail(std::move(config.error()));
    books.push_back(std::move(*config));
  }
  // Nothing here is sized from the capacity: it is stored, not allocated.
  auto spec = FeatureExtractorSpec::with_metadata(std::move(definitions), wire.capacity, std::move(wire.checksum));
  if (!spec) return fail_with(spec.error());
  auto with_books = FeatureExtractorSpec::with_order_books(std::move(*spec), std::move(books));
  if (!with_books) return fail_with(with_books.error());
  return std::move(*with_books);
}

JsonResult<FeatureExtractorSpec> read_feature_extractor_spec(const JsonValue& value) {
  auto wire = read_feature_extractor_spec_wire(value);
  if (!wire) return std::unexpected(std::move(wire.error()));
  auto spec = spec_from_wire(std::move(*wire));
  if (!spec) return std::unexpected(JsonError{std::move(spec.error()), std::nullopt});
  return std::move(*spec);
}

TextResult<FeatureExtractorSpec> deserialize_feature_extractor_spec(std::string_view text) {
  return read_document(text, read_feature_extractor_spec);
}

TextResult<std::string> serialize_feature_extractor_spec(const FeatureExtractorSpec& spec) {
  auto wire = wire_from_spec(spec);
  if (!wire) return Fail(std::move(wire.error()));
  return pretty_text(write_feature_extractor_spec_wire(*wire));
}

}  // namespace vorn::serde
