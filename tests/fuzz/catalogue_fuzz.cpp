// The catalogue and its line parser over damaged text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "archive/catalogue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)parseCatalogue(text);
    bool complete = false;
    if (auto record = ParseCatalogueLine(text, &complete); record && complete) {
        (void)plausibleRecord(*record);
    }
    (void)countCatalogueLines(text);
    return 0;
}
