#pragma once
// Data module images in memory, laid out as the host lays a fresh module out, for tests of
// the readers and checks of section layouts.
#include <cstdint>
#include <string_view>
#include <vector>

#include "qvr/ipc/section_layout.h"

namespace qvr_test {

inline std::vector<std::byte> data_module_image(std::string_view name, uint32_t data_length) {
    const uint32_t data_size = *qvr::data_module_data_size(data_length);
    std::vector<std::byte> image(data_size + qvr::kSectionExtraSize);
    qvr::fill_section_header(image, name, data_size);
    qvr::fill_data_module_fields(image, data_length);
    return image;
}

}  // namespace qvr_test
