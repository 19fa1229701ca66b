#pragma once

#include "Layer.h"

#include <QString>

// A layer that draws a string at the top of its bounds, as the platform's text layers do.
class TextLayer : public Layer {
public:
    enum class AlignmentMode { Natural, Left, Right, Center, Justified };
    enum class TruncationMode { None, Start, Middle, End };

    static std::shared_ptr<TextLayer> create();

    std::string kindName() const override;

    const QString& string() const { return m_string; }
    void setString(const QString& string);
    // A family name; empty means the toolkit's default font.
    const QString& font() const { return m_font; }
    void setFont(const QString& family);
    // Points (one point is one pixel of the layer); default 36.
    double fontSize() const { return m_fontSize; }
    void setFontSize(double size);
    // Default opaque white.
    Color foregroundColor() const { return m_foregroundColor; }
    void setForegroundColor(const Color& color);
    AlignmentMode alignmentMode() const { return m_alignmentMode; }
    void setAlignmentMode(AlignmentMode mode);
    // Where an ellipsis replaces what does not fit on the line.
    TruncationMode truncationMode() const { return m_truncationMode; }
    void setTruncationMode(TruncationMode mode);
    // Wrapped text breaks into lines at the bounds width; otherwise it is one line.
    bool isWrapped() const { return m_wrapped; }
    void setWrapped(bool wrapped);

    std::any valueForKey(const std::string& key) const override;

protected:
    TextLayer() = default;

private:
    QString m_string;
    QString m_font;
    double m_fontSize = 36.0;
    Color m_foregroundColor = Color::white(1, 1);
    AlignmentMode m_alignmentMode = AlignmentMode::Natural;
    TruncationMode m_truncationMode = TruncationMode::None;
    bool m_wrapped = false;
};
