#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QString>

// Photo and sidecar files as other photo programs leave them, built by hand so the tests never
// read them back with the code under test. Header-only.
namespace XmpTestFiles {

// A JPEG whose pixels differ from one another, so a change to the image data shows.
inline QByteArray jpeg(int width = 64, int height = 48)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 37) % 256, (y * 53) % 256, (x * y) % 256));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return bytes;
}

// `photo` with an APP1 segment inserted after its start marker.
inline QByteArray withApp1(const QByteArray& photo, const QByteArray& payload)
{
    const int length = int(payload.size()) + 2;
    QByteArray segment("\xFF\xE1", 2);
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    segment += payload;
    return photo.left(2) + segment + photo.mid(2);
}

// A JPEG with an EXIF block of one entry: the rating (tag 0x4746, SHORT).
inline QByteArray jpegWithExifRating(int stars)
{
    const char tiff[] = {'E',  'x',  'i', 'f', 0, 0, 'M', 'M', 0, 42,          0, 0, 0, 8, 0, 1,
                         0x47, 0x46, 0,   3,   0, 0, 0,   1,   0, char(stars), 0, 0, 0, 0, 0, 0};
    return withApp1(jpeg(), QByteArray(tiff, sizeof tiff));
}

// A JPEG with the rating in its own XMP packet.
inline QByteArray jpegWithXmpRating(int rating)
{
    const QByteArray packet =
        "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
        "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
        "xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='" +
        QByteArray::number(rating) + "'/></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
    return withApp1(jpeg(), QByteArray("http://ns.adobe.com/xap/1.0/", 29) + packet);
}

// A sidecar as darktable writes it: a rating, a label and an edit history of three steps.
inline QByteArray darktableSidecar(const char* ratingAttribute = "   xmp:Rating=\"1\"\n")
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"XMP Core 4.4.0-Exiv2\">\n"
                      " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
                      "  <rdf:Description rdf:about=\"\"\n"
                      "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
                      "    xmlns:xmpMM=\"http://ns.adobe.com/xap/1.0/mm/\"\n"
                      "    xmlns:darktable=\"http://darktable.sf.net/\"\n") +
           ratingAttribute +
           "   xmpMM:DerivedFrom=\"IMG_0001.JPG\"\n"
           "   darktable:xmp_version=\"5\"\n"
           "   darktable:raw_params=\"0\"\n"
           "   darktable:auto_presets_applied=\"1\"\n"
           "   darktable:history_end=\"3\"\n"
           "   darktable:iop_order_version=\"4\">\n"
           "   <darktable:masks_history>\n"
           "    <rdf:Seq/>\n"
           "   </darktable:masks_history>\n"
           "   <darktable:history>\n"
           "    <rdf:Seq>\n"
           "     <rdf:li\n"
           "      darktable:num=\"0\"\n"
           "      darktable:operation=\"exposure\"\n"
           "      darktable:enabled=\"1\"\n"
           "      darktable:modversion=\"6\"\n"
           "      darktable:params=\"00000000000080b90000403f00004842000080c001000000\"\n"
           "      darktable:multi_name=\"\"\n"
           "      darktable:multi_priority=\"0\"/>\n"
           "     <rdf:li\n"
           "      darktable:num=\"1\"\n"
           "      darktable:operation=\"colorbalancergb\"\n"
           "      darktable:enabled=\"1\"\n"
           "      darktable:modversion=\"5\"\n"
           "      darktable:params=\"gz04eJxjYGiwZ2BgcGAAAQAOEAFx\"\n"
           "      darktable:multi_name=\"basic colorfulness\"\n"
           "      darktable:multi_priority=\"0\"/>\n"
           "     <rdf:li\n"
           "      darktable:num=\"2\"\n"
           "      darktable:operation=\"sharpen\"\n"
           "      darktable:enabled=\"0\"\n"
           "      darktable:modversion=\"1\"\n"
           "      darktable:params=\"000000400000003f0000003f\"\n"
           "      darktable:multi_name=\"\"\n"
           "      darktable:multi_priority=\"0\"/>\n"
           "    </rdf:Seq>\n"
           "   </darktable:history>\n"
           "   <dc:subject xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
           "    <rdf:Bag>\n"
           "     <rdf:li>harbour</rdf:li>\n"
           "    </rdf:Bag>\n"
           "   </dc:subject>\n"
           "  </rdf:Description>\n"
           " </rdf:RDF>\n"
           "</x:xmpmeta>\n";
}
} // namespace XmpTestFiles
