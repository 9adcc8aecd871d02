#include "json.h"

namespace qx480 {
namespace tool {

std::string JsonLine(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace tool
}  // namespace qx480
