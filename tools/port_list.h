// The serial ports of this machine with what tells them apart: the USB
// adapter's ids and strings, the driver, or the names Windows gives them.
#pragma once

#include <string>
#include <vector>

#include "json.h"

namespace qx480 {
namespace tool {

struct PortInfo {
    std::string path;  // what --port takes: /dev/ttyUSB0, COM3
    // Linux, from sysfs; empty where unknown.
    std::string byId;             // its /dev/serial/by-id name
    std::string driver;           // the kernel driver: ftdi_sio, cdc_acm, serial8250
    std::string usbVendorId;      // four hex digits, for a USB adapter
    std::string usbProductId;     // four hex digits
    std::string usbSerial;        // the adapter's serial number
    std::string usbManufacturer;  // "FTDI"
    std::string usbProduct;       // "FT232R USB UART"
    // Windows, from the registry and SetupAPI; empty where unknown.
    std::string friendlyName;  // "USB Serial Port (COM3)"
    std::string hardwareId;    // "FTDIBUS\VID_0403+PID_6001+A10K5XYZA\0000"
    std::string device;        // "\Device\VCP0"
};

// The port and what identifies it, on one line: "/dev/ttyUSB0  USB 0403:6001,
// FTDI, FT232R USB UART, serial A10K5XYZ, driver ftdi_sio, ...".
std::string PortLine(const PortInfo& port);

// The port's fields as a ports record, without "step" and "ok"; empty fields are left out.
Json PortRecord(const PortInfo& port);

// Every serial port of this machine, in a stable order. False, with one
// line in `error`, when the list cannot be read.
bool SerialPorts(std::vector<PortInfo>& ports, std::string& error);

#ifndef _WIN32
// The ports as Linux shows them under `root` ("/" for this machine): the
// ttyS, ttyUSB and ttyACM devices of ROOT/dev, with what ROOT/sys/class/tty
// and ROOT/dev/serial/by-id tell about each.
std::vector<PortInfo> SerialPortsUnder(const std::string& root);
#endif

}  // namespace tool
}  // namespace qx480
