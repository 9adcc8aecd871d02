/* A C host program on the installed qx480 package: sets channel 1 and reads
 * it back through the C interface.
 *
 *   qx480_c_example PORT        (Linux: /dev/ttyUSB0; Windows: COM3)
 */
#include <qx480/qx480.h>
#include <stdio.h>

int main(int argc, char** argv) {
    qx480_device* dg;
    int32_t status = qx480_open(argc == 2 ? argv[1] : "", 115200, &dg);
    if (status != QX480_OK) {
        fprintf(stderr, "open: %s: %s\n", qx480_status_name(status), qx480_status_text(status));
        return 1;
    }
    double hz = 0;
    qx480_timing t;
    t.size = sizeof t; /* the struct as this program knows it */
    if ((status = qx480_set_delay(dg, 1, 10e-9)) == QX480_OK && /* seconds, nearest whole 10 ps step */
        (status = qx480_set_width(dg, 1, 100e-9)) == QX480_OK &&
        (status = qx480_set_channel_output(dg, 1, 1)) == QX480_OK &&
        (status = qx480_set_trigger_rate(dg, 1000.0, &hz)) == QX480_OK && /* hz: what the 4 ns period gives */
        (status = qx480_read_timing(dg, &t)) == QX480_OK) {
        printf("channel 1: delay %llu x 10 ps, width %.9f s, rate %.1f Hz\n",
               (unsigned long long)t.channels[0].delay_counts, t.channels[0].width_s, hz);
    } else {
        fprintf(stderr, "%s: %s\n", qx480_status_name(status), qx480_status_text(status));
    }
    qx480_close(dg);
    return status == QX480_OK ? 0 : 1;
}
