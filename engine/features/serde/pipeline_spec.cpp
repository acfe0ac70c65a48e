#include "engine/features/serde/pipeline_spec.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>

#include "engine/debug_quote.hpp"
#include "engine/features/serde/feature_extractor_spec_json.hpp"
#include "engine/features/serde/feature_extractor_spec_wire.hpp"
#include "engine/features/serde/json_records.hpp"
#include "engine/features/serde/json_writer.hpp"

namespace vorn::serde {
namespace {

using Fail = std::unexpected<std::string>;
using Transformation = TransformerDefinition;

struct ModelInputWire {
  std::uint64_t capacity = 0;
  std::uint64_t length = 0;
  std::vector<Transformation> transformations;
  std::optional<std::vector<FittedStage>> stages;  // refused when absent, after parsing
};

struct PipelineSpecWire {
  std::string version;
  std::optional<std::string> checksum;
  FeatureExtractorSpec feature_extractor;
  ModelInputWire model_input;
};

// ---- reading ------------------------------------------------------------------

constexpr std::array<std::string_view, 5> kTransformationTypes{"ema", "sma", "identity", "lagged", "standard_scale"};
constexpr std::array<std::string_view, 8> kStageTypes{"scalar", "select", "standard_scale", "min_max_scale",
                                                      "power_transform", "quantile_transform", "simple_impute", "pca"};

// Tagged records: the "type" key is read by read_tag, null stands for an
// absent optional key.
template <class Record, class... Rules>
JsonResult<Record> read_variant_record(const JsonValue& v, std::string_view name, const Rules&... rules) {
  return read_record<Record>(v, {name, NullRule::Absent}, tag_key("type"), rules...);
}

template <class Union, class T>
JsonResult<Union> widen(JsonResult<T> read) {
  if (!read) return std::unexpected(std::move(read.error()));
  return Union{std::move(*read)};
}

const auto read_ids = list_of(read_string);
const auto read_numbers = list_of(read_f64);
const auto read_rows = list_of(read_numbers);
const auto read_indices = list_of(read_u64);

// [low, high]
JsonResult<ClipBounds> read_clip(const JsonValue& v) {
  if (v.kind != JsonKind::Array) return std::unexpected(invalid_type(v, "a tuple of size 2"));
  if (v.items.size() != 2) {
    return std::unexpected(JsonError{fmt::format("invalid length {}, expected a tuple of size 2", v.items.size()), std::nullopt});
  }
  auto low = read_f64(v.items[0]);
  if (!low) return std::unexpected(located(std::move(low.error()), v.items[0]));
  auto high = read_f64(v.items[1]);
  if (!high) return std::unexpected(located(std::move(high.error()), v.items[1]));
  return ClipBounds{*low, *high};
}

template <class Average>
JsonResult<Transformation> read_average(const JsonValue& v, std::string_view name) {
  return widen<Transformation>(read_variant_record<Average>(
      v, name, required("input", &Average::input, read_string), required("output", &Average::output, read_string),
      required("window", &Average::window, read_u64), required("warmup_policy", &Average::warmup, read_warmup_policy)));
}

JsonResult<Transformation> read_transformation(const JsonValue& v) {
  using T = Transformation;
  auto type = read_tag(v, "internally tagged enum TransformationWire", "type", kTransformationTypes);
  if (!type) return std::unexpected(std::move(type.error()));
  switch (*type) {
    case 0: return read_average<T::Ema>(v, "struct variant TransformationWire::Ema");
    case 1: return read_average<T::Sma>(v, "struct variant TransformationWire::Sma");
    case 2:
      return widen<T>(read_variant_record<T::Identity>(v, "struct variant TransformationWire::Identity",
                                                       required("input", &T::Identity::input, read_string),
                                                       required("output", &T::Identity::output, read_string)));
    case 3:
      return widen<T>(read_variant_record<T::Lagged>(v, "struct variant TransformationWire::Lagged",
                                                     required("input", &T::Lagged::input, read_string),
                                                     required("output", &T::Lagged::output, read_string),
                                                     required("lag_window", &T::Lagged::lag_window, read_u64)));
    default:
      return widen<T>(read_variant_record<T::StandardScale>(
          v, "struct variant TransformationWire::StandardScale", required("input", &T::StandardScale::input, read_string),
          required("output", &T::StandardScale::output, read_string),
          required("mean", &T::StandardScale::mean, read_f64), required("scale", &T::StandardScale::scale, read_f64)));
  }
}

JsonResult<FittedStage> read_stage(const JsonValue& v) {
  using S = FittedStage;
  auto type = read_tag(v, "internally tagged enum StageWire", "type", kStageTypes);
  if (!type) return std::unexpected(std::move(type.error()));
  switch (*type) {
    case 0:
      return widen<S>(read_variant_record<S::Scalar>(
          v, "struct variant StageWire::Scalar",
          required("transformations", &S::Scalar::transformations, list_of(read_transformation))));
    case 1:
      return widen<S>(read_variant_record<S::Select>(v, "struct variant StageWire::Select",
                                                     required("outputs", &S::Select::outputs, read_ids),
                                                     required("input_indices", &S::Select::input_indices, read_indices)));
    case 2:
      return widen<S>(read_variant_record<S::StandardScale>(
          v, "struct variant StageWire::StandardScale", required("outputs", &S::StandardScale::outputs, read_ids),
          required("mean", &S::StandardScale::mean, read_numbers),
          required("scale", &S::StandardScale::scale, read_numbers)));
    case 3:
      return widen<S>(read_variant_record<S::MinMaxScale>(
          v, "struct variant StageWire::MinMaxScale", required("outputs", &S::MinMaxScale::outputs, read_ids),
          required("scale", &S::MinMaxScale::scale, read_numbers), required("min", &S::MinMaxScale::min, read_numbers),
          optional("clip", &S::MinMaxScale::clip, read_clip)));
    case 4:
      return widen<S>(read_variant_record<S::PowerTransform>(
          v, "struct variant StageWire::PowerTransform", required("outputs", &S::PowerTransform::outputs, read_ids),
          required("method", &S::PowerTransform::method, read_string),
          required("lambdas", &S::PowerTransform::lambdas, read_numbers),
          required("mean", &S::PowerTransform::mean, read_numbers),
          required("scale", &S::PowerTransform::scale, read_numbers)));
    case 5: {
      using Q = S::QuantileTransform;
      return widen<S>(read_variant_record<Q>(
          v, "struct variant StageWire::QuantileTransform", required("outputs", &Q::outputs, read_ids),
          required("output_distribution", &Q::output_distribution, read_string),
          required("quantiles", &Q::quantiles, read_rows), required("references", &Q::references, read_numbers),
          required("all_nan_input_indices", &Q::all_nan_input_indices, read_indices),
          required("bounds_threshold", &Q::bounds_threshold, read_f64),
          optional("normal_clip", &Q::normal_clip, read_clip)));
    }
    case 6: {
      using I = S::SimpleImpute;
      return widen<S>(read_variant_record<I>(
          v, "struct variant StageWire::SimpleImpute", required("outputs", &I::outputs, read_ids),
          required("retained_input_indices", &I::retained_input_indices, read_indices),
          required("replacement_values", &I::replacement_values, read_numbers),
          required("indicator_input_indices", &I::indicator_input_indices, read_indices)));
    }
    default:
      return widen<S>(read_variant_record<S::Pca>(
          v, "struct variant StageWire::Pca", required("outputs", &S::Pca::outputs, read_ids),
          required("mean", &S::Pca::mean, read_numbers), required("components", &S::Pca::components, read_rows),
          required("output_scale", &S::Pca::output_scale, read_numbers)));
  }
}

JsonResult<ModelInputWire> read_model_input(const JsonValue& v) {
  using M = ModelInputWire;
  return read_record<M>(v, {"struct ModelInputWire", NullRule::Absent}, required("capacity", &M::capacity, read_u64),
                        required("length", &M::length, read_u64),
                        required("transformations", &M::transformations, list_of(read_transformation)),
                        optional("stages", &M::stages, list_of(read_stage)));
}

TextResult<PipelineSpec> spec_from_wire(PipelineSpecWire wire) {
  if (wire.version != "3.0") {
    return Fail(fmt::format("unsupported model-input spec version {}; expected 3.0; migrate sample averages to field "
                            "extraction plus sma/ema transformations and re-export",
                            debug_quoted(wire.version)));
  }
  ModelInputWire& model = wire.model_input;
  if (!model.stages) return Fail("missing field model_input.stages");
  const std::size_t width = PipelineSpec::final_width(model.transformations, *model.stages);
  if (model.length != width) {
    return Fail(fmt::format("model_input.length {} does not match transformation count or final stage width {}",
                            model.length, width));
  }
  if (model.capacity < model.length) {
    return Fail(fmt::format("model_input.capacity {} is smaller than model_input.length {}", model.capacity,
                            model.length));
  }
  // The capacity is stored, not allocated: any value reads.
  auto spec = PipelineSpec::with_stages(std::move(wire.feature_extractor), std::move(model.transformations),
                                        std::move(*model.stages), model.capacity, std::move(wire.checksum));
  if (!spec) return Fail(to_string(spec.error()));
  return std::move(*spec);
}

// ---- writing ------------------------------------------------------------------

JsonOut tagged(std::string_view type, std::string_view input, std::string_view output) {
  JsonOut out = JsonOut::object();
  out["type"] = type;
  out["input"] = input;
  out["output"] = output;
  return out;
}

JsonOut write_transformation(const Transformation& transformation) {
  const std::size_t type = transformation.value.index();
  JsonOut out = tagged(kTransformationTypes[type], transformation.input(), transformation.output());
  std::visit(
      [&]<class T>(const T& t) {
        if constexpr (std::is_same_v<T, Transformation::Ema> || std::is_same_v<T, Transformation::Sma>) {
          out["window"] = t.window;
          out["warmup_policy"] = json_word(t.warmup);
        } else if constexpr (std::is_same_v<T, Transformation::Lagged>) {
          out["lag_window"] = t.lag_window;
        } else if constexpr (std::is_same_v<T, Transformation::StandardScale>) {
          out["mean"] = t.mean;
          out["scale"] = t.scale;
        }
      },
      transformation.value);
  return out;
}

JsonOut write_rows(const std::vector<std::vector<double>>& rows) {
  return write_list(rows, [](const std::vector<double>& row) { return write_list(row); });
}

JsonOut write_clip(const ClipBounds& clip) { return JsonOut::array({clip.low, clip.high}); }

JsonOut write_stage(const FittedStage& stage) {
  using S = FittedStage;
  JsonOut out = JsonOut::object();
  out["type"] = kStageTypes[stage.value.index()];
  std::visit(
      [&]<class T>(const T& s) {
        if constexpr (std::is_same_v<T, S::Scalar>) {
          out["transformations"] = write_list(s.transformations, write_transformation);
        } else {
          out["outputs"] = write_list(s.outputs);
        }
        if constexpr (std::is_same_v<T, S::Select>) {
          out["input_indices"] = write_list(s.input_indices);
        } else if constexpr (std::is_same_v<T, S::StandardScale>) {
          out["mean"] = write_list(s.mean);
          out["scale"] = write_list(s.scale);
        } else if constexpr (std::is_same_v<T, S::MinMaxScale>) {
          out["scale"] = write_list(s.scale);
          out["min"] = write_list(s.min);
          put_optional(out, "clip", s.clip, write_clip);
        } else if constexpr (std::is_same_v<T, S::PowerTransform>) {
          out["method"] = s.method;
          out["lambdas"] = write_list(s.lambdas);
          out["mean"] = write_list(s.mean);
          out["scale"] = write_list(s.scale);
        } else if constexpr (std::is_same_v<T, S::QuantileTransform>) {
          out["output_distribution"] = s.output_distribution;
          out["quantiles"] = write_rows(s.quantiles);
          out["references"] = write_list(s.references);
          out["all_nan_input_indices"] = write_list(s.all_nan_input_indices);
          out["bounds_threshold"] = s.bounds_threshold;
          put_optional(out, "normal_clip", s.normal_clip, write_clip);
        } else if constexpr (std::is_same_v<T, S::SimpleImpute>) {
          out["retained_input_indices"] = write_list(s.retained_input_indices);
          out["replacement_values"] = write_list(s.replacement_values);
          out["indicator_input_indices"] = write_list(s.indicator_input_indices);
        } else if constexpr (std::is_same_v<T, S::Pca>) {
          out["mean"] = write_list(s.mean);
          out["components"] = write_rows(s.components);
          out["output_scale"] = write_list(s.output_scale);
        }
      },
      stage.value);
  return out;
}

}  // namespace

JsonResult<PipelineSpec> read_pipeline_spec(const JsonValue& value) {
  using W = PipelineSpecWire;
  auto wire = read_record<W>(value, {"struct PipelineSpecWire", NullRule::Absent},
                             required("version", &W::version, read_string),
                             optional("checksum", &W::checksum, read_string),
                             required("feature_extractor", &W::feature_extractor, read_feature_extractor_spec),
                             required("model_input", &W::model_input, read_model_input));
  if (!wire) return std::unexpected(std::move(wire.error()));
  auto spec = spec_from_wire(std::move(*wire));
  if (!spec) return std::unexpected(JsonError{std::move(spec.error()), std::nullopt});
  return std::move(*spec);
}

TextResult<PipelineSpec> deserialize_pipeline_spec(std::string_view text) {
  return read_document(text, read_pipeline_spec);
}

TextResult<std::string> serialize_pipeline_spec(const PipelineSpec& spec) {
  auto extractor = wire_from_spec(spec.feature_extractor());
  if (!extractor) return Fail(std::move(extractor.error()));
  JsonOut model = JsonOut::object();
  model["capacity"] = spec.capacity();
  model["length"] = spec.feature_vector_length();
  model["transformations"] = write_list(spec.transformations(), write_transformation);
  model["stages"] = write_list(spec.stages(), write_stage);
  JsonOut out = JsonOut::object();
  out["version"] = "3.0";
  put_optional(out, "checksum", spec.checksum());
  out["feature_extractor"] = write_feature_extractor_spec_wire(*extractor);
  out["model_input"] = std::move(model);
  // Written as null, such a number would not read back.
  if (auto path = non_finite_number(out)) {
    return Fail(fmt::format("cannot write {}: JSON numbers must be finite", *path));
  }
  return pretty_text(out);
}

}  // namespace vorn::serde
