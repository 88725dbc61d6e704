#pragma once
// Instance layouts shared by the typed descriptions and the modules below them.
#include <cstdint>

// Instance of a variable array: the element count, then a block of count x element size
// bytes allocated under the typed-memory name that the array type names.
struct StructsArray {
    std::uint32_t length;
    void* elems;
};
