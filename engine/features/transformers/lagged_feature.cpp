#include "engine/features/transformers/lagged_feature.hpp"

#include "engine/features/cell_access.hpp"

namespace vorn {

void LaggedFeature::apply(std::span<const double> in_values, VecFeatureVector& out,
                          std::span<std::uint8_t> out_flags, bool observed) {
  if (!observed) {
    for (const Member& member : members) out.set_value_at(member.output, member.last);
    return;
  }
  for (const Member& member : members) cell_at(out_flags, member.output) = 1;
  const std::size_t held = history.size();
  for (Member& member : members) {
    if (member.lag >= 1 && member.lag <= held) {
      member.last = history[held - member.lag];
      out.set_value_at(member.output, member.last);
    }
  }
  history.push_back(cell_at(in_values, input));
}

}  // namespace vorn
