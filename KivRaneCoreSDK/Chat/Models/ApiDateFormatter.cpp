#include "KivRaneCoreSDK/Chat/Models/ApiDateFormatter.h"

namespace kr {

namespace {

/// Reads exactly `count` ASCII digits at `pos`, advancing it.
std::optional<int> digits(std::string_view text, std::size_t& pos, std::size_t count) {
    if (pos + count > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    pos += count;
    return value;
}

bool expect(std::string_view text, std::size_t& pos, char c) {
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

}  // namespace

std::optional<ApiDateFormatter::TimePoint> ApiDateFormatter::parse(std::string_view text) {
    using namespace std::chrono;
    std::size_t pos = 0;
    const auto y = digits(text, pos, 4);
    if (!y || !expect(text, pos, '-')) return std::nullopt;
    const auto mo = digits(text, pos, 2);
    if (!mo || !expect(text, pos, '-')) return std::nullopt;
    const auto d = digits(text, pos, 2);
    if (!d || !expect(text, pos, 'T')) return std::nullopt;
    const auto h = digits(text, pos, 2);
    if (!h || !expect(text, pos, ':')) return std::nullopt;
    const auto mi = digits(text, pos, 2);
    if (!mi || !expect(text, pos, ':')) return std::nullopt;
    const auto s = digits(text, pos, 2);
    if (!s) return std::nullopt;

    int millis = 0;
    if (expect(text, pos, '.')) {
        const std::size_t start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (pos - start < 3) {
                millis = millis * 10 + (text[pos] - '0');
            }
            ++pos;
        }
        const std::size_t count = pos - start;
        if (count == 0) return std::nullopt;
        for (std::size_t i = count; i < 3; ++i) millis *= 10;
    }

    int offsetMinutes = 0;
    if (expect(text, pos, 'Z')) {
        offsetMinutes = 0;
    } else {
        int sign = 0;
        if (expect(text, pos, '+')) {
            sign = 1;
        } else if (expect(text, pos, '-')) {
            sign = -1;
        } else {
            return std::nullopt;
        }
        const auto oh = digits(text, pos, 2);
        if (!oh) return std::nullopt;
        expect(text, pos, ':');
        const auto om = digits(text, pos, 2);
        if (!om || *oh > 23 || *om > 59) return std::nullopt;
        offsetMinutes = sign * (*oh * 60 + *om);
    }
    if (pos != text.size()) return std::nullopt;

    const year_month_day date{year{*y}, month{static_cast<unsigned>(*mo)},
                              day{static_cast<unsigned>(*d)}};
    if (!date.ok() || *h > 23 || *mi > 59 || *s > 59) return std::nullopt;

    // Worked out in milliseconds, which hold any four-digit year; the clock's own ticks do not
    // (nanoseconds reach only from 1677 to 2262), and a date beyond them names no instant here.
    const sys_time<milliseconds> instant = sys_days{date} + hours{*h} + minutes{*mi} +
                                           seconds{*s} + milliseconds{millis} -
                                           minutes{offsetMinutes};
    if (instant < ceil<milliseconds>(system_clock::time_point::min()) ||
        instant > floor<milliseconds>(system_clock::time_point::max())) {
        return std::nullopt;
    }
    return time_point_cast<system_clock::duration>(instant);
}

}  // namespace kr
