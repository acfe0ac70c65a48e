#include "engine/features/serde/pipeline_spec.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "tests/engine/features/feature_test_support.hpp"

namespace vorn::serde {
namespace {

using feature_test::text_of;

std::string read_file(const std::string& name) {
  std::ifstream file(std::string(VORN_TEST_DATA_DIR "/specs/") + name);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// All five transformations and all eight stages, hand-written in the
// writer's layout: write(read(document)) gives it back byte for byte, with
// the extremes of unsigned sizes and of f64 numbers (subnormal, -0.0, 1e300).
TEST(PipelineSpecJson, GoldenDocumentReadsAndWritesBackByteForByte) {
  const std::string golden = read_file("pipeline_all_stages.json");
  const auto spec = deserialize_pipeline_spec(golden);
  ASSERT_TRUE(spec) << spec.error();
  EXPECT_EQ(serialize_pipeline_spec(*spec).value(), golden);
  // Such a document reads and writes; only its pipeline cannot be built.
  EXPECT_EQ(text_of(spec->build()), "cannot allocate the model vector: 18446744073709551615 cells");
}

// A small valid document with some of its parts replaced: "version",
// "capacity", "length", "transformations" (the items), "stages" (the whole
// entry) and "extra" (keys before the first one).
std::string doc(const std::map<std::string, std::string>& parts = {}) {
  const auto part = [&](const std::string& key, std::string_view fallback) {
    const auto found = parts.find(key);
    return found == parts.end() ? std::string(fallback) : found->second;
  };
  return fmt::format(R"({{{}"version":{},"checksum":null,"feature_extractor":{{"version":"2.0","capacity":1,"length":1,)"
                     R"("required_events":[],"features":[{{"symbol":"__global__","indicators":[{{"kind":"context",)"
                     R"("source":{{"type":"context"}},"options":{{"name":"x"}},"outputs":[{{"id":"x"}}]}}]}}]}},)"
                     R"("model_input":{{"capacity":{},"length":{},"transformations":[{}]{}}}}})",
                     part("extra", ""), part("version", R"("3.0")"), part("capacity", "2"), part("length", "1"),
                     part("transformations", R"({"type":"identity","input":"x","output":"y"})"),
                     part("stages", R"(,"stages":[])"));
}

// The message without the parser's position.
std::string read_message(const std::string& text) {
  const auto spec = deserialize_pipeline_spec(text);
  if (spec) return "ok";
  return spec.error().substr(0, spec.error().find(" at line "));
}

TEST(PipelineSpecJson, ReaderRefusesInCheckOrder) {
  const std::string select = R"(,"stages":[{"type":"select","outputs":["x"],"input_indices":[0]}])";
  const std::string bad_input = R"({"type":"identity","input":"nope","output":"y"})";
  const std::string stage_prefix = R"(,"stages":[{"type":)";
  const auto stage = [&](std::string_view rest) { return stage_prefix + std::string(rest) + "}]"; };
  const std::vector<std::pair<std::string, std::string>> cases{
      {doc(), "ok"},
      {doc({{"extra", "\"extra\":1,"}, {"version", R"("2.0")"}, {"stages", ""}}),
       "unknown field `extra`, expected one of `version`, `checksum`, `feature_extractor`, `model_input`"},
      {doc({{"version", R"("2.0")"}, {"stages", ""}}),
       "unsupported model-input spec version \"2.0\"; expected 3.0; migrate sample averages to field extraction plus "
       "sma/ema transformations and re-export"},
      {doc({{"length", "5"}, {"stages", ""}}), "missing field model_input.stages"},
      {doc({{"length", "5"}, {"stages", R"(,"stages":null)"}}), "missing field model_input.stages"},
      {doc({{"capacity", "0"}, {"length", "2"}}),
       "model_input.length 2 does not match transformation count or final stage width 1"},
      {doc({{"capacity", "0"}, {"transformations", bad_input}}),
       "model_input.capacity 0 is smaller than model_input.length 1"},
      {doc({{"capacity", "1"}, {"transformations", bad_input}, {"stages", select}}),
       "invalid transformation definition at index 0: input feature ID does not exist in the preceding layout"},
      {doc({{"capacity", "0"}, {"length", "0"}, {"transformations", ""}}), "ok"},
      {doc({{"transformations", R"({"type":"ema","input":"x","output":"y","window":3})"}}),
       "missing field `warmup_policy`"},
      {doc({{"transformations", R"({"type":"identity","input":"x","output":"y","id":"y"})"}}),
       "unknown field `id`, expected one of `input`, `output`"},
      {doc({{"transformations", R"({"type":"log","input":"x"})"}}),
       "unknown variant `log`, expected one of `ema`, `sma`, `identity`, `lagged`, `standard_scale`"},
      {doc({{"stages", stage(R"("min_max_scale","outputs":["y"],"scale":[1],"min":[0],"clip":null)")}}), "ok"},
      {doc({{"stages", stage(R"("min_max_scale","outputs":["y"],"scale":[1],"min":[0],"clip":[0])")}}),
       "invalid length 1, expected a tuple of size 2"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(read_message(text), expected) << text;

  // An embedded document's own rule is reported where that document ends.
  const std::string text = doc();
  const std::string raw_version_1 = std::string(text).replace(text.find(R"("2.0")"), 5, R"("1.0")");
  EXPECT_EQ(deserialize_pipeline_spec(raw_version_1).error(),
            fmt::format("unsupported feature-vector spec version \"1.0\"; expected \"2.0\"; migrate sample averages to "
                        "field extraction plus sma/ema pipeline transformations at line 1 column {}",
                        text.find(R"(,"model_input")")));
}

// The embedded document's update policy also reads from an object holding
// only its word, with null, and is written back as the word.
TEST(PipelineSpecJson, EmbeddedUpdatePolicyObjectFormReadsAndWritesAsItsWord) {
  std::string text = doc();
  const std::string features_end = R"("outputs":[{"id":"x"}]}]}])";
  text.insert(text.find(features_end) + features_end.size(),
              R"(,"order_books":[{"symbol":"eth","update_policy":{"contiguous":null},"buffer_size":2}])");
  const auto spec = deserialize_pipeline_spec(text);
  ASSERT_TRUE(spec) << spec.error();
  ASSERT_EQ(spec->feature_extractor().order_books().size(), 1u);
  EXPECT_EQ(spec->feature_extractor().order_books()[0].update_policy, UpdatePolicy::Contiguous);
  const std::string written = serialize_pipeline_spec(*spec).value();
  EXPECT_NE(written.find(R"("update_policy": "contiguous",)"), std::string::npos) << written;
  EXPECT_EQ(deserialize_pipeline_spec(written).value(), *spec);
}

// The whole text is read: a NUL byte after a complete document is refused
// where it stands.
TEST(PipelineSpecJson, NulByteAfterTheDocument) {
  const std::string text = doc();
  ASSERT_TRUE(deserialize_pipeline_spec(text));
  EXPECT_EQ(read_message(text + std::string("\0 junk", 6)),
            "parse error: syntax error while parsing value - invalid literal; last read: '\"stages\":[]}}<U+0000>'; expected end "
            "of input");
  EXPECT_EQ(deserialize_pipeline_spec(text + std::string("\0 junk", 6)).error(),
            fmt::format("{} at line 1 column {}", read_message(text + '\0'), text.size() + 1));
}

}  // namespace
}  // namespace vorn::serde
