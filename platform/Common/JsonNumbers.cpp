#include "platform/Common/JsonNumbers.h"

#include <cmath>

namespace kr::platform {

bool allNumbersFinite(const boost::json::value& v) noexcept {
    switch (v.kind()) {
        case boost::json::kind::double_:
            return std::isfinite(v.get_double());
        case boost::json::kind::array:
            for (const auto& element : v.get_array()) {
                if (!allNumbersFinite(element)) {
                    return false;
                }
            }
            return true;
        case boost::json::kind::object:
            for (const auto& member : v.get_object()) {
                if (!allNumbersFinite(member.value())) {
                    return false;
                }
            }
            return true;
        default:
            return true;
    }
}

}  // namespace kr::platform
