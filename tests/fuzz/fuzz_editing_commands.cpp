// The editing commands take the selection's HTML apart as strings; the HTML
// is whatever the user typed or pasted. Input: one byte choosing the
// command, the parent tag up to a NUL byte, then the selected HTML.
#include "compose/editing_commands.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

class FuzzSurface final : public velmora::compose::EditingSurface {
public:
    std::string html;
    std::string parent;
    std::string last;
    std::string selectionProperty(std::string_view name) override {
        return name == "htmlText" || name == "text" ? html : std::string();
    }
    std::string selectionParentTag() override { return parent; }
    void replaceSelection(std::string_view replacement) override { last = replacement; }
    std::string documentSource() override { return html; }
    void replaceDocumentSource(std::string_view source) override { last = source; }
    void focusBody() override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    FuzzSurface surface;
    const auto nul = input.find('\0');
    surface.parent = input.substr(0, nul == std::string::npos ? 0 : nul);
    surface.html = nul == std::string::npos ? input : input.substr(nul + 1);
    const velmora::compose::FontChoice font{
        {255, 0, 0}, "Arial", 12, velmora::compose::kFontStyleBold};
    switch (data[0] % 8) {
    case 0:
        toggleTag(surface, "b");
        break;
    case 1:
        toggleTag(surface, "ul");
        break;
    case 2:
        alignSelection(surface, "center");
        break;
    case 3:
        alignSelection(surface, "left");
        break;
    case 4:
        applyFontStyle(surface, font);
        break;
    case 5:
        applyBlockFormat(surface, data[0] % 9);
        break;
    case 6:
        insertHyperlink(surface, surface.html, surface.parent);
        break;
    default:
        (void)velmora::compose::replaceAnyCase(surface.html, surface.parent, "x");
        break;
    }
    return 0;
}
