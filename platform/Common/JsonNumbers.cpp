#include "platform/Common/JsonNumbers.h"

#include <charconv>
#include <cmath>
#include <string>
#include <system_error>
#include <utility>

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value_stack.hpp>

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

namespace {

using boost::json::string_view;
using ErrorCode = boost::system::error_code;

// Builds the value as Boost's own parser does, but converts each double from its text.
struct ExactNumberHandler {
    static constexpr std::size_t max_object_size = boost::json::object::max_size();
    static constexpr std::size_t max_array_size = boost::json::array::max_size();
    static constexpr std::size_t max_key_size = boost::json::string::max_size();
    static constexpr std::size_t max_string_size = boost::json::string::max_size();

    boost::json::value_stack st;
    std::string number;  // the pieces of a number split across calls

    bool on_document_begin(ErrorCode&) { return true; }
    bool on_document_end(ErrorCode&) { return true; }
    bool on_object_begin(ErrorCode&) { return true; }
    bool on_object_end(std::size_t n, ErrorCode&) {
        st.push_object(n);
        return true;
    }
    bool on_array_begin(ErrorCode&) { return true; }
    bool on_array_end(std::size_t n, ErrorCode&) {
        st.push_array(n);
        return true;
    }
    bool on_key_part(string_view s, std::size_t, ErrorCode&) {
        st.push_chars(s);
        return true;
    }
    bool on_key(string_view s, std::size_t, ErrorCode&) {
        st.push_key(s);
        return true;
    }
    bool on_string_part(string_view s, std::size_t, ErrorCode&) {
        st.push_chars(s);
        return true;
    }
    bool on_string(string_view s, std::size_t, ErrorCode&) {
        st.push_string(s);
        return true;
    }
    bool on_number_part(string_view s, ErrorCode&) {
        number.append(s.data(), s.size());
        return true;
    }
    bool on_int64(std::int64_t i, string_view, ErrorCode&) {
        number.clear();
        st.push_int64(i);
        return true;
    }
    bool on_uint64(std::uint64_t u, string_view, ErrorCode&) {
        number.clear();
        st.push_uint64(u);
        return true;
    }
    bool on_double(double d, string_view s, ErrorCode&) {
        number.append(s.data(), s.size());
        double exact = 0;
        const char* const first = number.data();
        const char* const last = first + number.size();
        const auto [end, error] = std::from_chars(first, last, exact);
        st.push_double(error == std::errc() && end == last ? exact : d);
        number.clear();
        return true;
    }
    bool on_bool(bool b, ErrorCode&) {
        st.push_bool(b);
        return true;
    }
    bool on_null(ErrorCode&) {
        st.push_null();
        return true;
    }
    bool on_comment_part(string_view, ErrorCode&) { return true; }
    bool on_comment(string_view, ErrorCode&) { return true; }
};

}  // namespace

boost::json::value parseJson(std::string_view text, ErrorCode& ec,
                             const boost::json::parse_options& options,
                             boost::json::storage_ptr storage) {
    boost::json::basic_parser<ExactNumberHandler> parser(options);
    parser.handler().st.reset(std::move(storage));
    const std::size_t used = parser.write_some(false, text.data(), text.size(), ec);
    if (!ec && used < text.size()) {
        ec = boost::json::error::extra_data;
    }
    if (ec || !parser.done()) {
        if (!ec) {
            ec = boost::json::error::incomplete;
        }
        return nullptr;
    }
    return parser.handler().st.release();
}

}  // namespace kr::platform
