// Version "3.0" model-input pipeline documents. Any text either reads or is
// refused with a message. A spec that was read writes unless its extractor
// spec is one the writer may refuse (written_form.hpp); the written document
// reads back to an equal spec and writes again byte for byte. Every spec that
// was read is also built: it gives a pipeline whose model vector has the
// spec's capacity and final width (and refreshes over the fresh extractor's
// cells), or fails with a message. Allocations above
// a few megabytes fail here as they would on a machine without the memory,
// so a huge capacity, window or ladder must be a build error, never an abort;
// an internal invariant that breaks (vorn::Panic) is a crash.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "engine/errors.hpp"
#include "engine/features/serde/pipeline_spec.hpp"
#include "fuzz/check.hpp"
#include "fuzz/written_form.hpp"

// Large allocations return null instead of ending the run.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1:max_allocation_size_mb=32"; }

namespace {

using namespace vorn;
using fuzz::check;
using fuzz::outside_written_form;

void round_trip(std::string_view text) {
  const auto spec = serde::deserialize_pipeline_spec(text);
  if (!spec) {
    check(!spec.error().empty(), "a refusal has a message");
    return;
  }
  const auto written = serde::serialize_pipeline_spec(*spec);
  if (written) {
    const auto reread = serde::deserialize_pipeline_spec(*written);
    if (!reread) std::fprintf(stderr, "reading back refused: %s\n", reread.error().c_str());
    check(reread.has_value(), "the written document reads");
    check(*reread == *spec, "the written document reads to an equal spec");
    check(serde::serialize_pipeline_spec(*reread) == written, "the spec read back writes the same text");
  } else {
    std::fprintf(stderr, "write refused: %s\n", written.error().c_str());
    check(outside_written_form(spec->feature_extractor()), "a spec that was read writes unless its keys repeat");
  }

  auto pipeline = spec->build();
  if (pipeline) {
    check(pipeline->model().capacity() == spec->capacity() &&
              pipeline->model().length() == spec->feature_vector_length(),
          "the model vector has the spec's capacity and width");
    pipeline->refresh(true);
    pipeline->refresh(false);
  } else {
    check(!to_string(pipeline.error()).empty(), "a build failure has a message");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return vorn::fuzz::as_text(data, size, round_trip);
}
