#include "KivRaneCoreSDK/Network/Utils/ReachabilityError.h"

namespace kr {

std::string ReachabilityError::describe() const {
    std::string text;
    switch (kind) {
        case Kind::failedToCreateWithAddress:
            text = "failedToCreateWithAddress(" + target + ")";
            break;
        case Kind::failedToCreateWithHostname:
            text = "failedToCreateWithHostname(" + target + ")";
            break;
        case Kind::unableToSetCallback:
            text = "unableToSetCallback";
            break;
        case Kind::unableToSetDispatchQueue:
            text = "unableToSetDispatchQueue";
            break;
        case Kind::unableToGetFlags:
            text = "unableToGetFlags";
            break;
    }
    return text + " code " + std::to_string(code);
}

}  // namespace kr
