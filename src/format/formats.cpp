#include "format/formats.h"

namespace pixfold {

namespace {

constexpr std::string_view names[] = {"e655", "e655Z", "e888", "e888Alpha"};
constexpr OutputFormat formats[] = {OutputFormat::e655, OutputFormat::e655Z, OutputFormat::e888,
                                    OutputFormat::e888Alpha};

} // namespace

bool findFormat(std::string_view name, OutputFormat& format) {
    for (std::size_t i = 0; i < 4; ++i) {
        if (name == names[i]) {
            format = formats[i];
            return true;
        }
    }
    return false;
}

std::string_view formatName(OutputFormat format) {
    return names[static_cast<std::size_t>(format)];
}

} // namespace pixfold
