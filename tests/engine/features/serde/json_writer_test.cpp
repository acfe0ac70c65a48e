#include "engine/features/serde/json_writer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace vorn::serde {
namespace {

TEST(JsonWriter, PrettyPrintsInKeyOrderWithoutAbsentKeys) {
  const auto write_group = [](const std::pair<std::string, std::vector<int>>& group) {
    JsonOut out = JsonOut::object();
    out["symbol"] = group.first;
    out["windows"] = write_list(group.second);
    return out;
  };
  JsonOut document = JsonOut::object();
  document["version"] = "2.0";
  put_optional(document, "checksum", std::optional<std::string>{});
  document["groups"] = write_list(std::vector<std::pair<std::string, std::vector<int>>>{
      {"caf\u00e9 \"q\"\\\n\x01", {10}}, {"b", {}}}, write_group);
  put_optional(document, "dense", std::optional<double>{NAN}, [](double v) { return JsonOut{{"n", v}}; });
  document["options"] = JsonOut::object();
  document["scale"] = -2.0;
  EXPECT_EQ(pretty_text(document), R"({
  "version": "2.0",
  "groups": [
    {
      "symbol": "caf)" "\u00e9" R"( \"q\"\\\n\u0001",
      "windows": [
        10
      ]
    },
    {
      "symbol": "b",
      "windows": []
    }
  ],
  "dense": {
    "n": null
  },
  "options": {},
  "scale": -2.0
})");
  EXPECT_EQ(pretty_text(JsonOut("a\xff")), "\"a\ufffd\"");  // a broken sequence never aborts the write
  EXPECT_EQ(non_finite_number(document), "dense.n");
  EXPECT_EQ(non_finite_number(JsonOut{{"a", {1.0, JsonOut::array({2.0, -INFINITY})}}}), "a[1][1]");
  EXPECT_EQ(non_finite_number(JsonOut{{"a", {1.0, "nan", 1e308}}}), std::nullopt);
}

}  // namespace
}  // namespace vorn::serde
