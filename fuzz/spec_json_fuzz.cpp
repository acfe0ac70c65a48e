// Version "2.0" feature-extractor documents. Any text either reads or is
// refused with a message. A spec that was read writes unless a key repeats or
// a symbol has more than 16 imbalance outputs (the compiler refuses both; the
// writer has no document for them); the written document reads back to an
// equal spec (definitions, books, checksum, capacity) and writes again byte
// for byte. A small spec is also built, which
// either gives an extractor with one cell per definition or fails with a
// message; an internal invariant that breaks (vorn::Panic) is a crash.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/errors.hpp"
#include "engine/features/serde/feature_extractor_spec_json.hpp"
#include "fuzz/check.hpp"
#include "fuzz/written_form.hpp"

namespace {

using namespace vorn;
using fuzz::check;
using fuzz::outside_written_form;

// Larger vectors and grids are valid but not built: their storage would
// dominate the run (and trip the fuzzer's allocation limit).
constexpr std::uint64_t kMaxBuiltCells = 1 << 16;

bool same_spec(const FeatureExtractorSpec& a, const FeatureExtractorSpec& b) {
  return a.definitions() == b.definitions() && a.order_books() == b.order_books() &&
         a.checksum() == b.checksum() && a.capacity() == b.capacity();
}

bool small(const FeatureExtractorSpec& spec) {
  if (spec.capacity() > kMaxBuiltCells) return false;
  for (const OrderBookConfig& book : spec.order_books()) {
    if (!book.dense) continue;
    const auto slots = book.dense->level_count();
    if (slots && *slots > kMaxBuiltCells) return false;
  }
  return true;
}

void round_trip(std::string_view text) {
  const auto spec = serde::deserialize_feature_extractor_spec(text);
  if (!spec) {
    check(!spec.error().empty(), "a refusal has a message");
    return;
  }
  const auto written = serde::serialize_feature_extractor_spec(*spec);
  if (!written) {
    std::fprintf(stderr, "write refused: %s\n", written.error().c_str());
    check(outside_written_form(*spec), "a spec that was read writes unless its keys repeat");
    return;
  }
  const auto reread = serde::deserialize_feature_extractor_spec(*written);
  if (!reread) std::fprintf(stderr, "reading back refused: %s\n", reread.error().c_str());
  check(reread.has_value(), "the written document reads");
  check(same_spec(*spec, *reread), "the written document reads to an equal spec");
  const auto rewritten = serde::serialize_feature_extractor_spec(*reread);
  check(rewritten == written, "the spec read back writes the same text");

  if (!small(*spec)) return;
  const auto extractor = spec->build();
  if (extractor) {
    check(extractor->values().length() == spec->definitions().size(), "one cell per definition");
  } else {
    check(!to_string(extractor.error()).empty(), "a build failure has a message");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return vorn::fuzz::as_text(data, size, round_trip);
}
