#include "platform/program/LocalTime.h"

namespace gx {

std::string LocalTimeText(std::time_t when, const char* pattern) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, pattern, &local);
    return std::string(text, length);
}

}  // namespace gx
