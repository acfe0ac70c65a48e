#include "engine/features/serde/feature_extractor_spec_wire.hpp"

#include <array>
#include <span>
#include <string_view>
#include <utility>
#include <variant>

namespace vorn::serde {
namespace {

// ---- readers ---------------------------------------------------------------------

using ReadIndex = JsonResult<std::size_t> (*)(const JsonValue&, std::span<const std::string_view>);

template <class Enum, std::size_t N>
auto read_word(const std::array<std::string_view, N>& words, ReadIndex read_index = read_variant) {
  return [&words, read_index](const JsonValue& value) -> JsonResult<Enum> {
    auto index = read_index(value, words);
    if (!index) return std::unexpected(std::move(index.error()));
    return static_cast<Enum>(*index);
  };
}

constexpr std::array<std::string_view, 2> kWarmupWords{"first_value", "full_window"};
constexpr std::array<std::string_view, 2> kUpdatePolicyWords{"monotonic", "contiguous"};

JsonResult<RequiredEventWire> read_required_event(const JsonValue& v) {
  return read_record<RequiredEventWire>(v, {"struct RequiredEventWire"},
                                        required("symbol", &RequiredEventWire::symbol, read_string),
                                        required("event", &RequiredEventWire::event, read_string));
}

JsonResult<SourceWire> read_source(const JsonValue& v) {
  return read_record<SourceWire>(v, {"struct SourceWire"}, required("type", &SourceWire::type, read_string),
                                 optional("event", &SourceWire::event, read_string),
                                 optional("field", &SourceWire::field, read_string));
}

JsonResult<OptionsWire> read_options(const JsonValue& v) {
  return read_record<OptionsWire>(
      v, {"struct OptionsWire"}, optional("name", &OptionsWire::name, read_string),
      optional("side", &OptionsWire::side, read_string), optional("price", &OptionsWire::price, read_string),
      optional("size", &OptionsWire::size, read_string),
      optional("from_price", &OptionsWire::from_price, read_string),
      optional("to_price", &OptionsWire::to_price, read_string),
      optional("n_levels", &OptionsWire::n_levels, read_u64),
      optional("aggregation", &OptionsWire::aggregation, read_string),
      optional("utc_offset", &OptionsWire::utc_offset, read_string));
}

JsonResult<WindowWire> read_window(const JsonValue& v) { return read_count_or_text(v, "WindowWire"); }

JsonResult<OutputWire> read_output(const JsonValue& v) {
  return read_record<OutputWire>(v, {"struct OutputWire"}, optional("n_levels", &OutputWire::n_levels, read_u64),
                                 optional("lag", &OutputWire::lag, read_u64),
                                 optional("window", &OutputWire::window, read_window),
                                 optional("id", &OutputWire::id, read_string));
}

JsonResult<IndicatorWire> read_indicator(const JsonValue& v) {
  return read_record<IndicatorWire>(
      v, {"struct IndicatorWire"}, required("kind", &IndicatorWire::kind, read_string),
      required("source", &IndicatorWire::source, read_source),
      optional("warmup_policy", &IndicatorWire::warmup_policy, read_warmup_policy),
      optional("options", &IndicatorWire::options, read_options),
      optional("outputs", &IndicatorWire::outputs, list_of(read_output)));
}

JsonResult<FeatureGroupWire> read_group(const JsonValue& v) {
  return read_record<FeatureGroupWire>(v, {"struct FeatureGroupWire"},
                                       required("symbol", &FeatureGroupWire::symbol, read_string),
                                       required("indicators", &FeatureGroupWire::indicators, list_of(read_indicator)));
}

JsonResult<DenseBookConfigWire> read_dense(const JsonValue& v) {
  return read_record<DenseBookConfigWire>(v, {"struct DenseBookConfigWire"},
                                          required("tick_size", &DenseBookConfigWire::tick_size, read_string),
                                          required("min_price", &DenseBookConfigWire::min_price, read_string),
                                          required("max_price", &DenseBookConfigWire::max_price, read_string));
}

JsonResult<OrderBookConfigWire> read_order_book(const JsonValue& v) {
  return read_record<OrderBookConfigWire>(
      v, {"struct OrderBookConfigWire"}, required("symbol", &OrderBookConfigWire::symbol, read_string),
      required("update_policy", &OrderBookConfigWire::update_policy, read_word<UpdatePolicy>(kUpdatePolicyWords, read_unit_variant)),
      required("buffer_size", &OrderBookConfigWire::buffer_size, read_u64),
      optional("dense", &OrderBookConfigWire::dense, read_dense));
}

// ---- writers ---------------------------------------------------------------------

JsonOut write_source(const SourceWire& source) {
  JsonOut out = JsonOut::object();
  out["type"] = source.type;
  put_optional(out, "event", source.event);
  put_optional(out, "field", source.field);
  return out;
}

JsonOut write_options(const OptionsWire& options) {
  JsonOut out = JsonOut::object();
  put_optional(out, "name", options.name);
  put_optional(out, "side", options.side);
  put_optional(out, "price", options.price);
  put_optional(out, "size", options.size);
  put_optional(out, "from_price", options.from_price);
  put_optional(out, "to_price", options.to_price);
  put_optional(out, "n_levels", options.n_levels);
  put_optional(out, "aggregation", options.aggregation);
  put_optional(out, "utc_offset", options.utc_offset);
  return out;
}

JsonOut write_output(const OutputWire& output) {
  JsonOut out = JsonOut::object();
  put_optional(out, "n_levels", output.n_levels);
  put_optional(out, "lag", output.lag);
  put_optional(out, "window", output.window,
               [](const WindowWire& window) { return std::visit([](const auto& v) { return JsonOut(v); }, window); });
  put_optional(out, "id", output.id);
  return out;
}

JsonOut write_indicator(const IndicatorWire& indicator) {
  JsonOut out = JsonOut::object();
  out["kind"] = indicator.kind;
  out["source"] = write_source(indicator.source);
  put_optional(out, "warmup_policy", indicator.warmup_policy, [](WarmupPolicy p) { return json_word(p); });
  put_optional(out, "options", indicator.options, write_options);
  put_optional(out, "outputs", indicator.outputs,
               [](const std::vector<OutputWire>& outputs) { return write_list(outputs, write_output); });
  return out;
}

JsonOut write_group(const FeatureGroupWire& group) {
  JsonOut out = JsonOut::object();
  out["symbol"] = group.symbol;
  out["indicators"] = write_list(group.indicators, write_indicator);
  return out;
}

JsonOut write_order_book(const OrderBookConfigWire& book) {
  JsonOut out = JsonOut::object();
  out["symbol"] = book.symbol;
  out["update_policy"] = json_word(book.update_policy);
  out["buffer_size"] = book.buffer_size;
  put_optional(out, "dense", book.dense, [](const DenseBookConfigWire& dense) {
    JsonOut grid = JsonOut::object();
    grid["tick_size"] = dense.tick_size;
    grid["min_price"] = dense.min_price;
    grid["max_price"] = dense.max_price;
    return grid;
  });
  return out;
}

}  // namespace

JsonResult<WarmupPolicy> read_warmup_policy(const JsonValue& value) {
  return read_word<WarmupPolicy>(kWarmupWords)(value);
}

JsonResult<FeatureExtractorSpecWire> read_feature_extractor_spec_wire(const JsonValue& value) {
  using W = FeatureExtractorSpecWire;
  return read_record<W>(value, {"struct FeatureExtractorSpecWire"}, required("version", &W::version, read_string),
                        required("capacity", &W::capacity, read_u64), required("length", &W::length, read_u64),
                        required("required_events", &W::required_events, list_of(read_required_event)),
                        optional("checksum", &W::checksum, read_string),
                        required("features", &W::features, list_of(read_group)),
                        optional("order_books", &W::order_books, list_of(read_order_book)));
}

JsonOut write_feature_extractor_spec_wire(const FeatureExtractorSpecWire& wire) {
  JsonOut out = JsonOut::object();
  out["version"] = wire.version;
  out["capacity"] = wire.capacity;
  out["length"] = wire.length;
  out["required_events"] = write_list(wire.required_events, [](const RequiredEventWire& event) {
    JsonOut pair = JsonOut::object();
    pair["symbol"] = event.symbol;
    pair["event"] = event.event;
    return pair;
  });
  put_optional(out, "checksum", wire.checksum);
  out["features"] = write_list(wire.features, write_group);
  if (!wire.order_books.empty()) out["order_books"] = write_list(wire.order_books, write_order_book);
  return out;
}

}  // namespace vorn::serde
