/* Prints where qx480.h puts each field of the timing structs, one
 * "struct field offset size" line each and one "struct sizeof size" line per
 * struct, for the Python package's test of its ctypes mirror. */
#include <stddef.h>
#include <stdio.h>

#include "qx480.h"

#define FIELD(type, field) printf(#type " " #field " %zu %zu\n", offsetof(type, field), sizeof(((type*)0)->field))

int main(void) {
    FIELD(qx480_channel_timing, delay_counts);
    FIELD(qx480_channel_timing, width_counts);
    FIELD(qx480_channel_timing, time140_counts);
    FIELD(qx480_channel_timing, time204_counts);
    FIELD(qx480_channel_timing, delay_s);
    FIELD(qx480_channel_timing, width_s);
    FIELD(qx480_channel_timing, time140_s);
    FIELD(qx480_channel_timing, time204_s);
    printf("qx480_channel_timing sizeof %zu\n", sizeof(qx480_channel_timing));
    FIELD(qx480_timing, size);
    FIELD(qx480_timing, trigger_ticks);
    FIELD(qx480_timing, trigger_hz);
    FIELD(qx480_timing, word128);
    FIELD(qx480_timing, byte130);
    FIELD(qx480_timing, byte131);
    FIELD(qx480_timing, byte136);
    FIELD(qx480_timing, byte137);
    FIELD(qx480_timing, word138);
    FIELD(qx480_timing, float276);
    FIELD(qx480_timing, channels);
    printf("qx480_timing sizeof %zu\n", sizeof(qx480_timing));
    return 0;
}
