#include "TextLayer.h"

std::shared_ptr<TextLayer> TextLayer::create()
{
    return std::shared_ptr<TextLayer>(new TextLayer());
}

std::string TextLayer::kindName() const
{
    return "TextLayer";
}

void TextLayer::setString(const QString& string)
{
    m_string = string;
    propertyDidChange("string");
}

void TextLayer::setFont(const QString& family)
{
    m_font = family;
    propertyDidChange("font");
}

void TextLayer::setFontSize(double size)
{
    m_fontSize = size;
    propertyDidChange("fontSize");
}

void TextLayer::setForegroundColor(const Color& color)
{
    m_foregroundColor = color;
    propertyDidChange("foregroundColor");
}

void TextLayer::setAlignmentMode(AlignmentMode mode)
{
    m_alignmentMode = mode;
    propertyDidChange("alignmentMode");
}

void TextLayer::setTruncationMode(TruncationMode mode)
{
    m_truncationMode = mode;
    propertyDidChange("truncationMode");
}

void TextLayer::setWrapped(bool wrapped)
{
    m_wrapped = wrapped;
    propertyDidChange("wrapped");
}

std::any TextLayer::valueForKey(const std::string& key) const
{
    if (key == "string")
        return m_string;
    if (key == "font")
        return m_font;
    if (key == "fontSize")
        return m_fontSize;
    if (key == "foregroundColor")
        return m_foregroundColor;
    if (key == "alignmentMode")
        return m_alignmentMode;
    if (key == "truncationMode")
        return m_truncationMode;
    if (key == "wrapped")
        return m_wrapped;
    return Layer::valueForKey(key);
}
