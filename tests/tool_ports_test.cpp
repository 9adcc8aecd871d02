// The port list as Linux shows it, read from a made-up /dev and sysfs: USB
// adapters with their ids and strings, the driver of each, the by-id names,
// and no placeholder UARTs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "port_list.h"
#include "tool_json.h"

namespace {

namespace fs = std::filesystem;
using tooltest::json;

class ToolPorts : public testing::Test {
protected:
    void SetUp() override {
        const std::string usb = "sys/devices/pci0000:00/0000:00:14.0/usb1/";
        Device("ttyUSB0", usb + "1-2/1-2:1.0/ttyUSB0", "usb-serial/drivers/ftdi_sio");
        Attributes(usb + "1-2", {{"idVendor", "0403"},
                                 {"idProduct", "6001"},
                                 {"serial", "A10K5XYZ"},
                                 {"manufacturer", "FTDI"},
                                 {"product", "FT232R USB UART"}});
        Link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0", "../../ttyUSB0");
        Device("ttyACM1", usb + "1-3/1-3:1.0", "usb/drivers/cdc_acm");
        Attributes(usb + "1-3", {{"idVendor", "2341"}, {"idProduct", "0043"}, {"manufacturer", "Arduino"}});
        Device("ttyS0", "sys/devices/platform/serial8250", "platform/drivers/serial8250");
        Attributes("sys/class/tty/ttyS0", {{"type", "4"}});
        Node("ttyS1");
        Attributes("sys/class/tty/ttyS1", {{"type", "0"}});
        Node("null");
        Node("ttyUSBx");
    }

    std::string Root(const std::string& path = "") const { return (folder.Path() / path).string(); }

    void Node(const std::string& name) const { std::ofstream(Root("dev/" + name)) << ""; }

    void Link(const std::string& at, const std::string& target) const {
        fs::create_directories(fs::path(Root(at)).parent_path());
        fs::create_symlink(target, Root(at));
    }

    // A tty in dev/ whose sysfs device is `device`, bound to `driver` under sys/bus.
    void Device(const std::string& name, const std::string& device, const std::string& driver) const {
        fs::create_directories(Root("dev"));
        Node(name);
        fs::create_directories(Root(device));
        fs::create_directories(Root("sys/bus/" + driver));
        fs::create_symlink(fs::relative(Root("sys/bus/" + driver), Root(device)), Root(device + "/driver"));
        Link("sys/class/tty/" + name + "/device", fs::relative(Root(device), Root("sys/class/tty/" + name)).string());
    }

    void Attributes(const std::string& folderPath,
                    const std::vector<std::pair<std::string, std::string>>& values) const {
        fs::create_directories(Root(folderPath));
        for (const auto& v : values) std::ofstream(Root(folderPath + "/" + v.first)) << v.second << "\n";
    }

    tooltest::TempFolder folder;
};

TEST_F(ToolPorts, NamesEachPortWithWhatIdentifiesIt) {
    const std::vector<qx480::tool::PortInfo> ports = qx480::tool::SerialPortsUnder(Root());
    ASSERT_EQ(ports.size(), 3u);
    const std::string byId = Root("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0");
    EXPECT_EQ(qx480::tool::PortLine(ports[0]), Root("dev/ttyACM1") + "  USB 2341:0043, Arduino, driver cdc_acm");
    EXPECT_EQ(qx480::tool::PortLine(ports[1]), Root("dev/ttyS0") + "  driver serial8250");
    EXPECT_EQ(qx480::tool::PortLine(ports[2]), Root("dev/ttyUSB0") +
                                                   "  USB 0403:6001, FTDI, FT232R USB UART, serial A10K5XYZ, driver "
                                                   "ftdi_sio, " +
                                                   byId);
    EXPECT_EQ(json::parse(qx480::tool::JsonLine(qx480::tool::PortRecord(ports[2]))),
              json({{"port", Root("dev/ttyUSB0")},
                    {"by_id", byId},
                    {"driver", "ftdi_sio"},
                    {"usb",
                     {{"vendor_id", "0403"},
                      {"product_id", "6001"},
                      {"serial", "A10K5XYZ"},
                      {"manufacturer", "FTDI"},
                      {"product", "FT232R USB UART"}}}}));
    EXPECT_EQ(json::parse(qx480::tool::JsonLine(qx480::tool::PortRecord(ports[1]))),
              json({{"port", Root("dev/ttyS0")}, {"driver", "serial8250"}}));
}

TEST_F(ToolPorts, SortsByKindAndNumber) {
    Device("ttyUSB10", "sys/devices/platform/ten", "platform/drivers/other");
    Device("ttyUSB2", "sys/devices/platform/two", "platform/drivers/other");
    std::vector<std::string> paths;
    for (const qx480::tool::PortInfo& p : qx480::tool::SerialPortsUnder(Root())) paths.push_back(p.path);
    EXPECT_EQ(paths, (std::vector<std::string>{Root("dev/ttyACM1"), Root("dev/ttyS0"), Root("dev/ttyUSB0"),
                                               Root("dev/ttyUSB2"), Root("dev/ttyUSB10")}));
}

}  // namespace
