// Input: the text of a control message received from another participant. Reading never
// crashes; a message read and written again reads back equal (but for the host user id, which
// is read and never written), and writing that again gives the same text (the written form is
// canonical).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kr::KRRtmMessage;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto message = KRRtmMessage::decode(text);
    if (!message) {
        return 0;
    }
    // Received text is valid UTF-8 once parsed, so writing it cannot fail.
    const auto written = message.value().encode();
    KR_FUZZ_CHECK(written.ok());
    const auto again = KRRtmMessage::decode(written.value());
    KR_FUZZ_CHECK(again.ok());
    auto expected = message.value();
    expected.targetHostUserId.clear();
    KR_FUZZ_CHECK(again.value() == expected);
    const auto rewritten = again.value().encode();
    KR_FUZZ_CHECK(rewritten.ok() && rewritten.value() == written.value());
    return 0;
}
