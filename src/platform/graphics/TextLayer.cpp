#include "TextLayer.h"

std::shared_ptr<TextLayer> TextLayer::create() {
    return std::shared_ptr<TextLayer>(new TextLayer());
}

std::string TextLayer::kindName() const {
    return "TextLayer";
}

void TextLayer::setString(const QString& string) {
    m_string = string;
    propertyDidChange("string");
}

void TextLayer::setFont(const QString& family) {
    m_font = family;
    propertyDidChange("font");
}

void TextLayer::setFontSize(double size) {
    m_fontSize = size;
    propertyDidChange("fontSize");
}

void TextLayer::setForegroundColor(const Color& color) {
    m_foregroundColor = color;
    propertyDidChange("foregroundColor");
}

void TextLayer::setAlignmentMode(AlignmentMode mode) {
    m_alignmentMode = mode;
    propertyDidChange("alignmentMode");
}

void TextLayer::setTruncationMode(TruncationMode mode) {
    m_truncationMode = mode;
    propertyDidChange("truncationMode");
}

void TextLayer::setWrapped(bool wrapped) {
    m_wrapped = wrapped;
    propertyDidChange("wrapped");
}
