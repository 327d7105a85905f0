#include "testing/LocalMeetingService/RecordedRequest.h"

#include <boost/beast/core/string.hpp>

namespace kr::test {

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (boost::beast::iequals(key, name)) {
            return value;
        }
    }
    return std::nullopt;
}

std::size_t RecordedRequest::headerCount(std::string_view name) const {
    std::size_t count = 0;
    for (const auto& [key, value] : headers) {
        if (boost::beast::iequals(key, name)) {
            ++count;
        }
    }
    return count;
}

}  // namespace kr::test
