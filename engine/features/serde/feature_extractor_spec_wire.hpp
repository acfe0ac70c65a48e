// The records of a version "2.0" feature-extractor spec document as read from
// and written to JSON: their readers (keys in declared order, unknown,
// repeated and null values refused, records written as arrays refused) and
// their writers (keys in the same order, absent optional keys left out).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/features/serde/json_records.hpp"
#include "engine/features/serde/json_tree.hpp"
#include "engine/features/serde/json_writer.hpp"
#include "engine/order_book/book_config.hpp"
#include "engine/types.hpp"

namespace vorn::serde {

struct RequiredEventWire {
  std::string symbol;
  std::string event;
  friend bool operator==(const RequiredEventWire&, const RequiredEventWire&) = default;
};

struct SourceWire {
  std::string type;
  std::optional<std::string> event{};
  std::optional<std::string> field{};
  friend bool operator==(const SourceWire&, const SourceWire&) = default;
};

struct OptionsWire {
  std::optional<std::string> name{};
  std::optional<std::string> side{};
  std::optional<std::string> price{};
  std::optional<std::string> size{};
  std::optional<std::string> from_price{};
  std::optional<std::string> to_price{};
  std::optional<std::uint64_t> n_levels{};
  std::optional<std::string> aggregation{};
  std::optional<std::string> utc_offset{};

  // True when any of the nine options is present.
  bool any() const {
    return name || side || price || size || from_price || to_price || n_levels || aggregation || utc_offset;
  }
  friend bool operator==(const OptionsWire&, const OptionsWire&) = default;
};

// A window in samples (an integer) or a duration text.
using WindowWire = CountOrText;

struct OutputWire {
  std::optional<std::uint64_t> n_levels{};
  std::optional<std::uint64_t> lag{};
  std::optional<WindowWire> window{};
  std::optional<std::string> id{};
  friend bool operator==(const OutputWire&, const OutputWire&) = default;
};

struct IndicatorWire {
  std::string kind;
  SourceWire source;
  std::optional<WarmupPolicy> warmup_policy{};
  std::optional<OptionsWire> options{};
  std::optional<std::vector<OutputWire>> outputs{};  // absent: one output with nothing set
  friend bool operator==(const IndicatorWire&, const IndicatorWire&) = default;
};

struct FeatureGroupWire {
  std::string symbol;
  std::vector<IndicatorWire> indicators;
  friend bool operator==(const FeatureGroupWire&, const FeatureGroupWire&) = default;
};

struct DenseBookConfigWire {
  std::string tick_size;
  std::string min_price;
  std::string max_price;
  friend bool operator==(const DenseBookConfigWire&, const DenseBookConfigWire&) = default;
};

struct OrderBookConfigWire {
  std::string symbol;
  UpdatePolicy update_policy = UpdatePolicy::Monotonic;
  std::uint64_t buffer_size = 0;
  std::optional<DenseBookConfigWire> dense{};
  friend bool operator==(const OrderBookConfigWire&, const OrderBookConfigWire&) = default;
};

struct FeatureExtractorSpecWire {
  std::string version;
  std::uint64_t capacity = 0;
  std::uint64_t length = 0;
  std::vector<RequiredEventWire> required_events;
  std::optional<std::string> checksum{};
  std::vector<FeatureGroupWire> features;
  std::vector<OrderBookConfigWire> order_books{};  // absent: no books
  friend bool operator==(const FeatureExtractorSpecWire&, const FeatureExtractorSpecWire&) = default;
};

// "first_value" or "full_window", as the pipeline document's averages write it too.
JsonResult<WarmupPolicy> read_warmup_policy(const JsonValue& value);

// The whole document record; the first structural fault in document order.
JsonResult<FeatureExtractorSpecWire> read_feature_extractor_spec_wire(const JsonValue& value);

// The document as an ordered JSON object, ready for pretty_text.
JsonOut write_feature_extractor_spec_wire(const FeatureExtractorSpecWire& wire);

}  // namespace vorn::serde
