#include "tools/library/AlbumDataPhotoSearch.h"

#include "PlistDifferential.h"
#include "platform/foundation/PropertyListSerialization.h"

#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace {
using Outcome = AlbumDataRatingEditor::Outcome;

// A library whose photo 7 stands between photo 3 and `rest`, more of the root dictionary.
QByteArray library(const QByteArray& rest = {})
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n"
           "<dict>\n"
           "\t<key>Master Image List</key>\n"
           "\t<dict>\n"
           "\t\t<key>3</key>\n"
           "\t\t<dict>\n"
           "\t\t\t<key>Rating</key>\n"
           "\t\t\t<integer>0</integer>\n"
           "\t\t</dict>\n"
           "\t\t<key>7</key>\n"
           "\t\t<dict>\n"
           "\t\t\t<key>Caption</key>\n"
           "\t\t\t<string>7 &amp; 3</string>\n"
           "\t\t\t<key>Rating</key>\n"
           "\t\t\t<integer>1</integer>\n"
           "\t\t</dict>\n"
           "\t</dict>\n" +
           rest +
           "</dict>\n"
           "</plist>\n";
}

QByteArray replaced(QByteArray bytes, const QByteArray& before, const QByteArray& after)
{
    EXPECT_EQ(bytes.count(before), 1)
        << "the test's own input must hold the text once: " << before.constData();
    return bytes.replace(bytes.indexOf(before), before.size(), after);
}

bool readable(const QByteArray& bytes)
{
    Error error;
    return PropertyListSerialization::fromData(bytes, &error) != nullptr;
}
} // namespace

// Whatever the pass finds, rating there gives what the editor's walk of the whole file gives, byte
// for byte, and the same layout for the next rating, also where a search could be misled.
TEST(AlbumDataPhotoSearchTest, FindsThePhotoAndItsLayoutAsAWalkOfTheWholeFileWould)
{
    const std::vector<std::pair<QByteArray, QByteArray>> variants = {
        {"", ""},
        // The photo's key where no element is, before its entry.
        {"\t\t<key>3</key>", "<!-- <key>7</key><dict></dict> -->\t\t<key>3</key>"},
        {"<string>7 &amp; 3</string>", "<string><![CDATA[<key>7</key>]]></string>"},
        // A key like a photo's inside another entry.
        {"<key>3</key>\n\t\t<dict>\n",
         "<key>3</key>\n\t\t<dict>\n<key>Faces</key><dict><key>7</key><true/></dict>"},
        // The photo's key spelled otherwise, or listed twice.
        {"<key>7</key>", "<key>&#55;</key>"},
        {"<key>3</key>\n\t\t<dict>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>0</integer>",
         "<key>7</key>\n\t\t<dict>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>0</integer>"},
        // Two photo lists, the photo in the second; an empty entry; an albums list after the photos.
        {"<dict>\n\t<key>Master", "<dict>\n\t<key>Master Image List</key><dict/>\n\t<key>Master"},
        {"\t\t\t<key>Caption</key>\n\t\t\t<string>7 &amp; 3</string>\n\t\t\t<key>Rating</key>\n\t\t\t"
         "<integer>1</integer>\n",
         ""},
        {"\t</dict>\n</dict>", "\t</dict>\n\t<key>List of Albums</key>\n\t<array><dict><key>KeyList</key>"
                               "<array><string>7</string></array></dict></array>\n</dict>"},
    };
    int withLayout = 0;
    for (const auto& [before, after] : variants) {
        const QByteArray bytes = before.isEmpty() ? library() : replaced(library(), before, after);
        ASSERT_TRUE(readable(bytes)) << after.constData();
        const auto found = AlbumDataPhotoSearch::search(bytes, "7");
        ASSERT_TRUE(found) << "the streaming reader takes every spelling here: " << after.constData();
        const auto walked = AlbumDataRatingEditor::withRating(bytes, "7", 5);
        const auto atFound =
            AlbumDataRatingEditor::withRatingAt(bytes, "7", 5, found->entries, found->layout);
        ASSERT_EQ(walked.outcome, Outcome::Changed) << walked.problem;
        ASSERT_EQ(atFound.outcome, Outcome::Changed) << after.constData() << ": " << atFound.problem;
        EXPECT_EQ(atFound.bytes.toStdString(), walked.bytes.toStdString()) << after.constData();
        EXPECT_EQ(atFound.entries, walked.entries) << after.constData();
        ASSERT_EQ(atFound.layout.has_value(), walked.layout.has_value()) << after.constData();
        if (walked.layout) {
            ++withLayout;
            EXPECT_EQ(atFound.layout->photosBegin, walked.layout->photosBegin);
            EXPECT_EQ(atFound.layout->photosEnd, walked.layout->photosEnd);
        }
    }
    // The plain library and the one with an albums list after its photos are searchable.
    EXPECT_EQ(withLayout, 3);

    const auto missing = AlbumDataPhotoSearch::search(library(), "8");
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing->entries.empty());
    EXPECT_EQ(
        AlbumDataRatingEditor::withRatingAt(library(), "8", 5, missing->entries, missing->layout).outcome,
        Outcome::NoSuchPhoto);
}

// It never refuses on its own: a fault anywhere, however far after the photo, and any spelling the
// streaming reader leaves to the one reader, give no answer, so the one reader decides.
TEST(AlbumDataPhotoSearchTest, LeavesFaultsAndSpellingsItDoesNotTakeToTheOneReader)
{
    const QByteArray late = "\t</dict>\n</dict>";
    const std::vector<std::pair<QByteArray, bool>> files = {
        // Faults after the photo list: the one reader refuses these.
        {replaced(library(), late, "\t</dict>\n\t<key>Late</key>\n\t<integer>twelve</integer>\n</dict>"),
         false},
        {replaced(library(), late, "\t</dict>\n\t<key>Late</key>\n\t<colour/>\n</dict>"), false},
        {replaced(library(), late, "\t</dict>\n\t<key>Late</key>\n</dict>"), false},
        {replaced(library(), late, "\t</dict>\n\t<key>Late</key>\n\t<array><key>x</key></array>\n</dict>"),
         false},
        {replaced(library(), late, "\t</dict>\n\t<key>Late</key>\n\t<string>&#0;</string>\n</dict>"), false},
        {replaced(library(), late, "\t</dict>\n\t<key>Late</key>\n\t<string>a<b/></string>\n</dict>"), false},
        // Sound, in spellings the streaming reader does not take: the one reader reads them.
        {replaced(library(), late, "\t</dict>\n<?note?>\n</dict>"), true},
        {library() + "<plist><dict/></plist>", true},
        {replaced(library(), "<dict>\n\t<key>Master", "<dict >\n\t<key>Master"), true},
        {replaced(library(), "<string>7 &amp; 3</string>", "<string>7 &#x26; 3</string>\r\n"), true},
    };
    for (const auto& [bytes, sound] : files) {
        EXPECT_EQ(readable(bytes), sound) << bytes.right(80).constData();
        const auto found = AlbumDataPhotoSearch::search(bytes, "7");
        if (!sound) {
            EXPECT_FALSE(found) << bytes.right(80).constData();
        } else if (found) { // a spelling it takes after all: then it must find what the walk finds
            EXPECT_EQ(AlbumDataRatingEditor::withRatingAt(bytes, "7", 5, found->entries, found->layout).bytes,
                      AlbumDataRatingEditor::withRating(bytes, "7", 5).bytes);
        }
    }
    // A binary list, a root that is no dictionary.
    EXPECT_FALSE(AlbumDataPhotoSearch::search("bplist00", "7"));
    EXPECT_FALSE(AlbumDataPhotoSearch::search("<plist><array/></plist>", "7"));
}

namespace {
// Photos 1 to 40 and an album: large enough for the middle, where a second walk starts, to fall
// among the photos.
QByteArray longLibrary()
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                     "\t<key>Master Image List</key>\n\t<dict>\n";
    for (int id = 1; id <= 40; ++id) {
        const QByteArray n = QByteArray::number(id);
        xml += "\t\t<key>" + n + "</key>\n\t\t<dict>\n\t\t\t<key>Caption</key>\n\t\t\t<string>Photo " + n +
               "</string>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>" + QByteArray::number(id % 6) +
               "</integer>\n\t\t</dict>\n";
    }
    return xml + "\t</dict>\n\t<key>List of Albums</key>\n\t<array>\n\t\t<dict>\n\t\t\t<key>KeyList</key>\n"
                 "\t\t\t<array><string>5</string></array>\n\t\t</dict>\n\t</array>\n</dict>\n</plist>\n";
}

// Whether two searches tell the same, for a message.
std::string difference(const std::optional<AlbumDataPhotoSearch::Found>& one,
                       const std::optional<AlbumDataPhotoSearch::Found>& other)
{
    if (one.has_value() != other.has_value())
        return one ? "only the first vouches" : "only the second vouches";
    if (!one)
        return {};
    if (one->entries != other->entries)
        return "different entries";
    if (one->lists != other->lists)
        return "different counts of photo lists";
    if (one->layout.has_value() != other->layout.has_value())
        return one->layout ? "only the first learns a layout" : "only the second learns a layout";
    if (one->layout && (one->layout->photosBegin != other->layout->photosBegin ||
                        one->layout->photosEnd != other->layout->photosEnd))
        return "different layouts";
    return {};
}
} // namespace

// Large contents are walked in two halves at once; whatever either half meets (a fault, a comment, a
// duplicate or decoded key, a later photo list, a guessed start inside an entry or a CDATA section),
// the answer is the one a single walk gives.
TEST(AlbumDataPhotoSearchTest, TwoWalksAtOnceTellWhatOneWalkTells)
{
    std::vector<std::pair<QByteArray, QByteArray>> variants = {
        {"", ""},
        {"<string>Photo 33</string>", "<string>Photo 33</string><!-- a note -->"},
        {"<string>Photo 8</string>", "<string>Photo 8</string><!-- a note -->"},
        {"<key>35</key>", "<key>5</key>"},
        {"<key>36</key>", "<key>&#51;6</key>"},
        {"<string>Photo 37</string>", "<string>Photo 37</string><colour/>"},
        {"<string>Photo 38</string>", "<string>Photo &unknown; 38</string>"},
        {"<string>Photo 3</string>", "<string>Photo 3&#0;</string>"},
        {"\t<key>List of Albums</key>",
         "\t<key>Master Image List</key>\n\t<dict><key>33</key><dict/></dict>\n\t<key>List of Albums</key>"},
        {"<key>20</key>\n\t\t<dict>\n\t\t\t<key>Caption</key>\n\t\t\t<string>Photo 20</string>\n\t\t\t<key>"
         "Rating</key>\n\t\t\t<integer>2</integer>\n\t\t</dict>",
         "<key>20</key>\n\t\t<dict/>"},
        {"</dict>\n\t<key>List of Albums</key>", "</dict>\n</dict>\n</plist>\n<!--"},
    };
    // An entry's end that looks like the end of a photo's, inside an entry or a CDATA section.
    for (int id = 16; id <= 25; ++id) {
        const QByteArray caption = "<string>Photo " + QByteArray::number(id) + "</string>";
        variants.emplace_back(caption, caption + "\n\t\t\t<key>Faces</key>\n\t\t\t<dict><key>a</key><true/>"
                                                 "</dict>\n\t\t\t<key>9</key>\n\t\t\t<true/>");
        variants.emplace_back(caption, "<string><![CDATA[</dict>\n\t\t<key>30</key>]]></string>");
    }
    int vouched = 0;
    for (const auto& [before, after] : variants) {
        const QByteArray bytes = before.isEmpty() ? longLibrary() : replaced(longLibrary(), before, after);
        for (const char* key : {"5", "21", "33", "40", "99"}) {
            const auto once = AlbumDataPhotoSearch::search(bytes, key, bytes.size() + 1);
            const auto twice = AlbumDataPhotoSearch::search(bytes, key, 0);
            EXPECT_EQ(difference(once, twice), "") << key << " in " << after.constData();
            vouched += once.has_value();
            if (once) {
                EXPECT_TRUE(readable(bytes)) << after.constData();
            }
        }
    }
    EXPECT_GT(vouched, int(variants.size()) * 5 / 2);
}

// The same over thousands of generated and damaged album data files, and whatever it vouches for,
// the one reader reads.
TEST(AlbumDataPhotoSearchTest, TwoWalksAtOnceTellWhatOneWalkTellsOfDamagedFiles)
{
    int vouched = 0;
    for (uint64_t seed = 0; seed < 2000; ++seed) {
        const QByteArray bytes = PlistDifferential::caseFor(seed);
        for (const char* key : {"1", "4"}) {
            const auto once = AlbumDataPhotoSearch::search(bytes, key, bytes.size() + 1);
            const auto twice = AlbumDataPhotoSearch::search(bytes, key, 0);
            ASSERT_EQ(difference(once, twice), "") << "seed " << seed << ", photo " << key;
            if (once) {
                ++vouched;
                ASSERT_TRUE(readable(bytes)) << "seed " << seed;
            }
        }
    }
    EXPECT_GT(vouched, 1000);
}
