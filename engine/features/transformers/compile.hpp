// transformers::compile: turns validated definitions into runtime
// transformers whose input indices address the cells of the preceding layout.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "engine/errors.hpp"
#include "engine/features/transformers/transformer.hpp"
#include "engine/features/transformers/transformer_definition.hpp"

namespace vorn::transformers {

// `definitions` passed `validate` against the same ids; `input_ids` are the
// preceding layout's ids in cell order. The list holds the copies and
// scalings in definition order, then one lag group per lagged input, then one
// average group per (input, EMA or SMA, warm-up policy). Definition i writes
// output cell i.
//
// A ring that cannot be obtained (an SMA window of 2^60 samples, say) is
// InvalidTransformationDefinition{index, StorageUnavailable}, with the index
// of the definition whose window sized the ring. Definitions that validation
// would refuse are a broken invariant.
Result<std::vector<Transformer>> compile(std::span<const TransformerDefinition> definitions,
                                         std::span<const std::string_view> input_ids);

}  // namespace vorn::transformers
