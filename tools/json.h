// The JSON library qx480 writes its records and reads its setup files with.
// Objects keep their keys in the order they were added, so "step" and "ok"
// come first in every record.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace qx480 {
namespace tool {

using Json = nlohmann::ordered_json;

// `value` on one line; text that is not UTF-8 (a port name, a typed word)
// has its bad bytes replaced instead of failing the record.
std::string JsonLine(const Json& value);

}  // namespace tool
}  // namespace qx480
