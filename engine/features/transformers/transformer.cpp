#include "engine/features/transformers/transformer.hpp"

#include "engine/features/cell_access.hpp"

namespace vorn {

void Transformer::apply(std::span<const double> in_values, std::span<const std::uint8_t> in_flags,
                        VecFeatureVector& out, std::span<std::uint8_t> out_flags, bool observed) {
  switch (value.index()) {
    case 0:
      (*std::get_if<0>(&value))->apply(in_values, in_flags, out, out_flags);
      return;
    case 1: {
      const Identity& t = *std::get_if<Identity>(&value);
      cell_at(out_flags, t.output) = cell_at(in_flags, t.input);
      out.set_value_at(t.output, cell_at(in_values, t.input));
      return;
    }
    case 2:
      std::get_if<LaggedFeature>(&value)->apply(in_values, out, out_flags, observed);
      return;
    case 3: {
      const StandardScale& t = *std::get_if<StandardScale>(&value);
      cell_at(out_flags, t.output) = cell_at(in_flags, t.input);
      const double centred = cell_at(in_values, t.input) - t.mean;
      out.set_value_at(t.output, centred * t.inverse_scale);
      return;
    }
  }
  unreachable("invalid transformer variant");
}

}  // namespace vorn
