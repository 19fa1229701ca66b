#include "LayerTreeDump.h"

#include "Layer.h"
#include "TextLayer.h"

#include <iomanip>
#include <sstream>

namespace {

// Fixed notation with at most two decimals and no trailing zeros, so dumps do not depend on
// the stream's defaults.
std::string number(double value)
{
    std::ostringstream stream;
    stream << std::fixed << std::setprecision(2) << (value == 0 ? 0.0 : value);
    std::string text = stream.str();
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.')
        text.pop_back();
    return text == "-0" ? "0" : text;
}

void dumpLayer(const Layer& layer, int depth, const char* role, std::ostringstream& out)
{
    out << std::string(size_t(depth) * 2, ' ');
    if (role)
        out << role << " ";
    out << (layer.name().empty() ? layer.kindName() : layer.name());
    const Rect frame = layer.frame();
    out << " (" << number(frame.origin.x) << ", " << number(frame.origin.y) << ", "
        << number(frame.size.width) << ", " << number(frame.size.height) << ")";
    if (const auto* text = dynamic_cast<const TextLayer*>(&layer))
        out << " \"" << text->string().toStdString() << "\"";
    if (layer.isHidden())
        out << " hidden";
    out << "\n";
    if (layer.mask())
        dumpLayer(*layer.mask(), depth + 1, "mask", out);
    for (const auto& sublayer : layer.sublayers())
        dumpLayer(*sublayer, depth + 1, nullptr, out);
}

} // namespace

std::string LayerTreeDump::dump(const Layer& root)
{
    std::ostringstream out;
    dumpLayer(root, 0, nullptr, out);
    return out.str();
}
