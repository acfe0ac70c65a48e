// The Python class FeatureExtractor: a compiled feature-extractor spec run by
// a RuntimeDriver over the core feature extractor, built from a
// FeatureExtractorSpec object or from its JSON document.
#pragma once

#include "python/binding.hpp"

namespace vorn::py {

// The class, made on first use (borrowed; throws PythonError).
PyObject* feature_extractor_type();

}  // namespace vorn::py
