#include "port_list.h"

namespace qx480 {
namespace tool {
namespace {

void AddIfKnown(std::vector<std::string>& parts, const std::string& prefix, const std::string& value) {
    if (!value.empty()) parts.push_back(prefix + value);
}

void SetIfKnown(Json& record, const char* key, const std::string& value) {
    if (!value.empty()) record[key] = value;
}

}  // namespace

std::string PortLine(const PortInfo& p) {
    std::vector<std::string> parts;
    if (!p.usbVendorId.empty()) parts.push_back("USB " + p.usbVendorId + ":" + p.usbProductId);
    AddIfKnown(parts, "", p.usbManufacturer);
    AddIfKnown(parts, "", p.usbProduct);
    AddIfKnown(parts, "serial ", p.usbSerial);
    AddIfKnown(parts, "", p.friendlyName);
    AddIfKnown(parts, "", p.hardwareId);
    AddIfKnown(parts, "driver ", p.driver);
    AddIfKnown(parts, "", p.device);
    AddIfKnown(parts, "", p.byId);
    std::string line = p.path;
    for (std::size_t i = 0; i < parts.size(); ++i) line += (i == 0 ? "  " : ", ") + parts[i];
    return line;
}

Json PortRecord(const PortInfo& p) {
    Json record;
    record["port"] = p.path;
    SetIfKnown(record, "by_id", p.byId);
    SetIfKnown(record, "driver", p.driver);
    if (!p.usbVendorId.empty()) {
        Json usb;
        usb["vendor_id"] = p.usbVendorId;
        usb["product_id"] = p.usbProductId;
        SetIfKnown(usb, "serial", p.usbSerial);
        SetIfKnown(usb, "manufacturer", p.usbManufacturer);
        SetIfKnown(usb, "product", p.usbProduct);
        record["usb"] = usb;
    }
    SetIfKnown(record, "friendly_name", p.friendlyName);
    SetIfKnown(record, "hardware_id", p.hardwareId);
    SetIfKnown(record, "device", p.device);
    return record;
}

}  // namespace tool
}  // namespace qx480
