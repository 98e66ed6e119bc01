#include "format/formats.h"

namespace pixfold {

bool findFormat(std::string_view name, OutputFormat& format) {
    for (const FormatTraits& traits : formatTable) {
        if (name == traits.name) {
            format = traits.format;
            return true;
        }
    }
    return false;
}

} // namespace pixfold
