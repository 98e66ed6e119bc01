// pixfold_encode on a pixel loop the caller names, whatever the processor
// would choose: the tests run every path through the API with it.
#pragma once

#include "encode/encoder.h"
#include "pixfold/pixfold.h"

#include <cstddef>
#include <cstdint>

namespace pixfold {

pixfold_error encodeOnPath(Path path, const std::uint8_t* src, std::size_t src_stride,
                           std::size_t src_size, pixfold_layout src_layout,
                           std::uint8_t* dst_records, std::size_t dst_records_size,
                           std::uint8_t* dst_alpha, std::size_t dst_alpha_size, std::int32_t width,
                           std::int32_t height, std::int32_t max_value,
                           const pixfold_settings* settings);

} // namespace pixfold
