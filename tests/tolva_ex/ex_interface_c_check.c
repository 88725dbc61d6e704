/* The extension interface compiled as C: plug-ins may be written in C. */
#include <stddef.h>

#include "qvr/ext/ex_interface.h"

size_t ex_buffer_layout_in_c(size_t* data_offset, size_t* must_free_offset);

size_t ex_buffer_layout_in_c(size_t* data_offset, size_t* must_free_offset) {
    *data_offset = offsetof(ExBuffer, data);
    *must_free_offset = offsetof(ExBuffer, mustFree);
    return sizeof(ExBuffer);
}
