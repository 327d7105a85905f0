#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"

namespace kr {

std::string JsonDecodingError::describe() const {
    return (key.empty() ? std::string("<root>") : key) + ": " + message;
}

JsonDecodingError JsonDecodingError::under(std::string_view parentKey) const& {
    return JsonDecodingError{joinPath(parentKey, key), message};
}

JsonDecodingError JsonDecodingError::under(std::string_view parentKey) && {
    key = joinPath(parentKey, key);
    return std::move(*this);
}

std::string JsonDecodingError::joinPath(std::string_view parent, std::string_view child) {
    std::string out;
    out.reserve(parent.size() + child.size() + 1);
    out.append(parent);
    if (!parent.empty() && !child.empty() && child.front() != '[') {
        out.push_back('.');
    }
    out.append(child);
    return out;
}

}  // namespace kr
