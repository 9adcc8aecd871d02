// A host program on the installed qx480 package: sets the delay and pulse
// width of two channels and reads them back.
//
//   qx480_example PORT        (Linux: /dev/ttyUSB0; Windows: COM3, or \\.\COM10 above COM9)
#include <cstdio>

#include <qx480/qx480ddg.h>

namespace {

struct Setting {
    int channel;
    long long delayNs;
    long long widthNs;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qx480_example PORT\n");
        return 2;
    }
    const char* port = argv[1];
    QX480DDG device;
    if (!device.Open(port, 115200)) {
        std::fprintf(stderr, "cannot open %s\n", port);
        return 1;
    }

    const Setting settings[] = {{1, 10, 100}, {2, 250, 50}};
    for (const Setting& s : settings) {
        if (!device.SetDelay(s.channel, s.delayNs) || !device.SetPulseWidth(s.channel, s.widthNs)) {
            std::fprintf(stderr, "the device on %s did not take the settings of channel %d\n", port, s.channel);
            return 1;
        }
    }
    for (const Setting& s : settings) {
        QX480TimingConfig config;
        if (!device.ReadTimingConfig(s.channel, &config)) {
            std::fprintf(stderr, "no timing block from %s\n", port);
            return 1;
        }
        std::printf("channel %d: delay %lld ns, width %lld ns\n", config.channel,
                    static_cast<long long>(config.delayNs), static_cast<long long>(config.widthNs));
        if (config.delayNs != s.delayNs || config.widthNs != s.widthNs) {
            std::fprintf(stderr, "channel %d reads back other values than were set\n", s.channel);
            return 1;
        }
    }
    return 0;
}
