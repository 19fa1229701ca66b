#include "tools/library/PugiArena.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <memory>
#include <pugixml.hpp>

// Documents parse alike inside arenas (nested, grown beyond their first block) and out, and each
// page is given back once, to where it came from, wherever the document ends: the sanitizers tell
// a page freed that malloc did not hand out, and one never freed.
TEST(PugiArenaTest, DocumentsParseAlikeAndEveryPageGoesBackWhereItCameFrom)
{
    QByteArray xml = "<r>";
    for (int each = 0; each < 100000; ++each)
        xml += "<a b=\"" + QByteArray::number(each) + "\"/>";
    xml += "</r>";
    const auto lastValue = [&](pugi::xml_document& document) {
        return document.load_buffer(xml.constData(), size_t(xml.size()))
                   ? document.child("r").last_child().attribute("b").as_int()
                   : -1;
    };
    auto before = std::make_unique<pugi::xml_document>();
    EXPECT_EQ(lastValue(*before), 99999);
    {
        const PugiArena arena(0);
        auto outer = std::make_unique<pugi::xml_document>();
        EXPECT_EQ(lastValue(*outer), 99999);
        {
            const PugiArena nested(0);
            pugi::xml_document inner;
            EXPECT_EQ(lastValue(inner), 99999);
            outer.reset();
            before.reset();
        }
    }
    pugi::xml_document after;
    EXPECT_EQ(lastValue(after), 99999);
}
