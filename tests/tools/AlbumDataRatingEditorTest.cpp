#include "tools/library/AlbumDataRatingEditor.h"

#include "platform/foundation/PropertyListSerialization.h"

#include <cstring>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace {
using Outcome = AlbumDataRatingEditor::Outcome;

const QByteArray header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                          "<plist version=\"1.0\">\n";

// A library whose photo 7 carries `entry` (the inside of its dictionary, tab-indented).
QByteArray library(const QByteArray& entry)
{
    return header +
           "<dict>\n"
           "\t<key>Master Image List</key>\n"
           "\t<dict>\n"
           "\t\t<key>3</key>\n"
           "\t\t<dict>\n"
           "\t\t\t<key>Rating</key>\n"
           "\t\t\t<integer>0</integer>\n"
           "\t\t</dict>\n"
           "\t\t<key>7</key>\n"
           "\t\t<dict>\n" +
           entry +
           "\t\t</dict>\n"
           "\t</dict>\n"
           "</dict>\n"
           "</plist>\n";
}

int64_t ratingOf(const QByteArray& xml, const std::string& key)
{
    Error error;
    const PlistPtr tree = PropertyListSerialization::fromData(xml, &error);
    EXPECT_TRUE(tree) << error.description();
    if (!tree)
        return -1;
    const PlistPtr rating =
        tree->objectForKey("Master Image List")->objectForKey(key)->objectForKey("Rating");
    return rating && rating->asInteger() ? *rating->asInteger() : -1;
}

// The edit must be exactly `before` replaced by `after`, once, and nothing else.
void expectOnlyChange(const QByteArray& original, const QByteArray& edited, const QByteArray& before,
                      const QByteArray& after)
{
    ASSERT_EQ(original.count(before), 1) << "the test's own input must hold the text once";
    QByteArray expected = original;
    expected.replace(before, after);
    EXPECT_EQ(edited.toStdString(), expected.toStdString());
}
} // namespace

TEST(AlbumDataRatingEditorTest, ChangesOnlyTheRatingAndKeepsWhatWritersWouldRewrite)
{
    // Dates outside what the property-list writers represent, keys out of order, entities and
    // character references, a comment, a CDATA key, and a second top-level value after the first.
    const QByteArray original =
        header + "<dict>\n"
                 "\t<key>Zebra</key><date>1925-03-01T00:00:00Z</date>\n"
                 "\t<key>Alpha</key><date>2075-12-31T23:59:59Z</date>\n"
                 "\t<!-- written by hand -->\n"
                 "\t<key>Master Image List</key>\n"
                 "\t<dict>\n"
                 "\t\t<key>12</key>\n"
                 "\t\t<dict>\n"
                 "\t\t\t<key>Caption</key>\n"
                 "\t\t\t<string>Tom &amp; Jerry &#x263A; &lt;3</string>\n"
                 "\t\t\t<key><![CDATA[Rating]]></key>\n"
                 "\t\t\t<integer>2</integer>\n"
                 "\t\t\t<key>Date</key>\n"
                 "\t\t\t<date>1925-01-01T00:00:00Z</date>\n"
                 "\t\t</dict>\n"
                 "\t\t<key>1&#50;3</key>\n"
                 "\t\t<dict><key>Rating</key><integer>1</integer></dict>\n"
                 "\t</dict>\n"
                 "</dict>\n"
                 "<dict><key>Master Image List</key><dict><key>12</key><dict><key>Rating</key><integer>9"
                 "</integer></dict></dict></dict>\n"
                 "</plist>\n";
    const auto result = AlbumDataRatingEditor::withRating(original, "12", 5);
    ASSERT_EQ(result.outcome, Outcome::Changed) << result.problem;
    expectOnlyChange(original, result.bytes, "<integer>2</integer>", "<integer>5</integer>");

    // The key written with a character reference is found too.
    const auto entity = AlbumDataRatingEditor::withRating(original, "123", 4);
    ASSERT_EQ(entity.outcome, Outcome::Changed) << entity.problem;
    expectOnlyChange(original, entity.bytes, "<integer>1</integer>", "<integer>4</integer>");
}

TEST(AlbumDataRatingEditorTest, AddsAMissingRatingInTheEntrysOwnIndentation)
{
    const QByteArray tabs = library("\t\t\t<key>Caption</key>\n"
                                    "\t\t\t<string>x</string>\n"
                                    "\t\t\t<key>GUID</key>\n"
                                    "\t\t\t<string>G</string>\n");
    const auto tabbed = AlbumDataRatingEditor::withRating(tabs, "7", 3);
    ASSERT_EQ(tabbed.outcome, Outcome::Changed) << tabbed.problem;
    expectOnlyChange(tabs, tabbed.bytes, "<string>G</string>\n",
                     "<string>G</string>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>3</integer>\n");
    EXPECT_EQ(ratingOf(tabbed.bytes, "7"), 3);

    QByteArray spaces =
        "<plist version=\"1.0\">\r\n<dict>\r\n  <key>Master Image List</key>\r\n  <dict>\r\n"
        "    <key>7</key>\r\n    <dict>\r\n      <key>GUID</key>\r\n      <string>G</string>\r\n"
        "    </dict>\r\n  </dict>\r\n</dict>\r\n</plist>\r\n";
    const auto spaced = AlbumDataRatingEditor::withRating(spaces, "7", 1);
    ASSERT_EQ(spaced.outcome, Outcome::Changed) << spaced.problem;
    expectOnlyChange(spaces, spaced.bytes, "<string>G</string>\r\n",
                     "<string>G</string>\r\n      <key>Rating</key>\r\n      <integer>1</integer>\r\n");

    const QByteArray inline_ = "<plist><dict><key>Master Image List</key><dict><key>7</key><dict><key>A</key>"
                               "<true/></dict></dict></dict></plist>";
    const auto compact = AlbumDataRatingEditor::withRating(inline_, "7", 2);
    ASSERT_EQ(compact.outcome, Outcome::Changed) << compact.problem;
    expectOnlyChange(inline_, compact.bytes, "<true/>", "<true/><key>Rating</key><integer>2</integer>");
}

TEST(AlbumDataRatingEditorTest, FillsEmptyEntriesAndReplacesEveryRatingOfThePhoto)
{
    for (const QByteArray& empty : {QByteArray("<dict/>"), QByteArray("<dict></dict>")}) {
        QByteArray original = library("");
        original.replace("\t\t<key>7</key>\n\t\t<dict>\n\t\t</dict>", "\t\t<key>7</key>\n\t\t" + empty);
        const auto result = AlbumDataRatingEditor::withRating(original, "7", 4);
        ASSERT_EQ(result.outcome, Outcome::Changed) << result.problem;
        expectOnlyChange(original, result.bytes, "\t\t" + empty,
                         "\t\t<dict>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>4</integer>\n\t\t</dict>");
    }

    // Whatever type the rating had, and however often it stands there, every reader sees the new one.
    const QByteArray twice = library("\t\t\t<key>Rating</key>\n\t\t\t<string>0</string>\n"
                                     "\t\t\t<key>Rating</key>\n\t\t\t<integer/>\n");
    const auto result = AlbumDataRatingEditor::withRating(twice, "7", 2);
    ASSERT_EQ(result.outcome, Outcome::Changed);
    EXPECT_EQ(result.bytes.count("<integer>2</integer>"), 2);
    EXPECT_EQ(ratingOf(result.bytes, "7"), 2);
    // The other photo keeps its rating.
    EXPECT_EQ(result.bytes.count("<integer>0</integer>"), 1);
}

TEST(AlbumDataRatingEditorTest, RefusesWhatItCannotEditSafely)
{
    const QByteArray original = library("\t\t\t<key>Rating</key>\n\t\t\t<integer>0</integer>\n");
    EXPECT_EQ(AlbumDataRatingEditor::withRating(original, "8", 3).outcome, Outcome::NoSuchPhoto);
    EXPECT_EQ(AlbumDataRatingEditor::withRating(original, "", 3).outcome, Outcome::NoSuchPhoto);
    // A key that is a prefix of another is no match.
    EXPECT_EQ(AlbumDataRatingEditor::withRating(original, "77", 3).outcome, Outcome::NoSuchPhoto);

    QByteArray notADictionary = original;
    notADictionary.replace("<key>7</key>\n\t\t<dict>", "<key>7</key>\n\t\t<array>");
    notADictionary.replace("\t\t</dict>\n\t</dict>", "\t\t</array>\n\t</dict>");
    const auto refused = AlbumDataRatingEditor::withRating(notADictionary, "7", 3);
    EXPECT_EQ(refused.outcome, Outcome::Unsupported);
    EXPECT_EQ(refused.problem, "the photo's entry is no dictionary");

    EXPECT_EQ(AlbumDataRatingEditor::withRating("<plist><array/></plist>", "7", 3).outcome,
              Outcome::Unsupported);
    EXPECT_EQ(AlbumDataRatingEditor::withRating("\xFF\xFE<\0p\0", "7", 3).outcome, Outcome::Unsupported);
    // An entity the editor does not know, in a key it has to compare, is a refusal, not a guess.
    QByteArray unknownEntity = original;
    unknownEntity.replace("<key>7</key>", "<key>&seven;</key>");
    EXPECT_EQ(AlbumDataRatingEditor::withRating(unknownEntity, "7", 3).outcome, Outcome::Unsupported);
    // Cut short inside the photo's entry.
    EXPECT_EQ(AlbumDataRatingEditor::withRating(
                  original.left(original.indexOf("<integer>0</integer>\n\t\t</dict>")), "7", 3)
                  .outcome,
              Outcome::Unsupported);
}

TEST(AlbumDataRatingEditorTest, ADuplicatedPhotoEntryIsChangedWhereverItStands)
{
    // Readers differ on which of two equal keys wins; whichever they take carries the new rating.
    for (const QByteArray& secondKey : {QByteArray("<key>7</key>"), QByteArray("<key>&#55;</key>")}) {
        QByteArray original = library("\t\t\t<key>Rating</key>\n\t\t\t<integer>0</integer>\n");
        original.replace("\t</dict>\n</dict>",
                         "\t\t" + secondKey +
                             "<dict><key>Rating</key><integer>1</integer></dict>\n\t</dict>\n</dict>");
        const auto result = AlbumDataRatingEditor::withRating(original, "7", 5);
        ASSERT_EQ(result.outcome, Outcome::Changed) << result.problem;
        EXPECT_EQ(result.bytes.count("<integer>5</integer>"), 2) << secondKey.constData();
        EXPECT_EQ(result.bytes.size(), original.size());
    }
}

TEST(AlbumDataRatingEditorTest, TheLayoutOfAWalkLetsLaterRatingsSearchWithTheSameResult)
{
    // Photo 7 without a rating first, so the first change moves the end of the list.
    QByteArray bytes = library("\t\t\t<key>Caption</key>\n\t\t\t<string>7 &amp; 3</string>\n");
    auto walked = AlbumDataRatingEditor::withRating(bytes, "7", 4);
    ASSERT_EQ(walked.outcome, Outcome::Changed) << walked.problem;
    ASSERT_TRUE(walked.layout);
    EXPECT_EQ(walked.bytes.mid(walked.layout->photosBegin - 6, 6), "<dict>");
    EXPECT_TRUE(walked.bytes.mid(walked.layout->photosEnd).startsWith("</dict>\n</dict>\n</plist>"));
    EXPECT_EQ(walked.bytes.left(walked.changedFrom), bytes.left(walked.changedFrom));
    const qsizetype growth = walked.bytes.size() - bytes.size();
    EXPECT_GT(growth, 0);
    EXPECT_EQ(walked.bytes.mid(walked.changedTo), bytes.mid(walked.changedTo - growth));

    // Each rating after it, searching, gives byte for byte what a walk would, layout included.
    for (const auto& [key, stars] : std::vector<std::pair<std::string, int>>{{"3", 2}, {"7", 5}, {"3", 1}}) {
        bytes = walked.bytes;
        const auto searched = AlbumDataRatingEditor::withRating(bytes, key, stars, walked.layout);
        walked = AlbumDataRatingEditor::withRating(bytes, key, stars);
        ASSERT_EQ(searched.outcome, Outcome::Changed) << searched.problem;
        EXPECT_EQ(searched.bytes.toStdString(), walked.bytes.toStdString()) << key;
        ASSERT_TRUE(searched.layout && walked.layout);
        EXPECT_EQ(searched.layout->photosBegin, walked.layout->photosBegin);
        EXPECT_EQ(searched.layout->photosEnd, walked.layout->photosEnd);
        EXPECT_EQ(AlbumDataRatingEditor::Layout::fromNote(walked.layout->toNote())->photosEnd,
                  walked.layout->photosEnd);
    }
    EXPECT_EQ(ratingOf(walked.bytes, "3"), 1);
    EXPECT_EQ(ratingOf(walked.bytes, "7"), 5);
    EXPECT_EQ(AlbumDataRatingEditor::withRating(walked.bytes, "8", 1, walked.layout).outcome,
              Outcome::NoSuchPhoto);
    EXPECT_EQ(AlbumDataRatingEditor::withRating(walked.bytes, "77", 1, walked.layout).outcome,
              Outcome::NoSuchPhoto);
}

TEST(AlbumDataRatingEditorTest, NoLayoutWhereASearchForThePhotosKeyCouldMeetSomethingElse)
{
    const QByteArray rated = "\t\t\t<key>Rating</key>\n\t\t\t<integer>0</integer>\n";
    const std::vector<std::pair<QByteArray, QByteArray>> traps = {
        // A key like a photo's inside another photo's entry, before the photo's own.
        {"<key>3</key>\n\t\t<dict>\n",
         "<key>3</key>\n\t\t<dict>\n<key>Faces</key><dict><key>7</key><true/></dict>"},
        {"<key>3</key>\n\t\t<dict>\n", "<key>3</key>\n\t\t<dict>\n<key>7</key><true/>"},
        // The photo's key where no element is.
        {"\t\t<key>3</key>", "<!-- <key>7</key> -->\t\t<key>3</key>"},
        {"\t\t<key>3</key>", "<?note <key>7</key> ?>\t\t<key>3</key>"},
        // A photo's key that a search for its bytes would not find, or find twice.
        {"<key>3</key>", "<key>&#51;</key>"},
        {"<key>3</key>", "<key><![CDATA[3]]></key>"},
        {"<key>3</key>", "<key >3</key>"},
        {"<key>3</key>", "<key>3</key >"},
        {"<key>3</key>\n\t\t<dict>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>0</integer>\n\t\t</dict>",
         "<key>7</key>\n\t\t<dict>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>0</integer>\n\t\t</dict>"},
        // Tags whose ends a count of names alone would misjudge.
        {"<key>3</key>\n\t\t<dict>", "<key>3</key>\n\t\t<dict id=\"a>b\">"},
        // A second list of photos.
        {"</dict>\n</plist>", "<key>Master Image List</key><dict/>\n</dict>\n</plist>"},
    };
    for (const auto& [before, after] : traps) {
        QByteArray original = library(rated);
        ASSERT_EQ(original.count(before), 1) << before.constData();
        original.replace(original.indexOf(before), before.size(), after);
        const auto result = AlbumDataRatingEditor::withRating(original, "7", 5);
        ASSERT_EQ(result.outcome, Outcome::Changed) << after.constData() << ": " << result.problem;
        EXPECT_FALSE(result.layout) << after.constData();
    }
    // Without a trap, the same entries are searchable.
    EXPECT_TRUE(AlbumDataRatingEditor::withRating(library(rated), "7", 5).layout);
}

TEST(AlbumDataRatingEditorTest, SetsTheRatingSeenElsewhereBesideTheRating)
{
    // Both present: both replaced in place, nothing else touched, also when searched by layout.
    const QByteArray both = library("\t\t\t<key>RatingElsewhere</key>\n\t\t\t<integer>3</integer>\n"
                                    "\t\t\t<key>Rating</key>\n\t\t\t<integer>2</integer>\n");
    const auto walked = AlbumDataRatingEditor::withRating(both, "7", 5, std::nullopt, 5);
    ASSERT_EQ(walked.outcome, Outcome::Changed) << walked.problem;
    QByteArray expected = both;
    expected.replace("<integer>3</integer>", "<integer>5</integer>")
        .replace("<integer>2</integer>", "<integer>5</integer>");
    EXPECT_EQ(walked.bytes.toStdString(), expected.toStdString());
    ASSERT_TRUE(walked.layout);
    const auto searched = AlbumDataRatingEditor::withRating(walked.bytes, "7", 4, walked.layout, -1);
    ASSERT_EQ(searched.outcome, Outcome::Changed) << searched.problem;
    expected.replace("<integer>5</integer>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>5</integer>",
                     "<integer>-1</integer>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>4</integer>");
    EXPECT_EQ(searched.bytes.toStdString(), expected.toStdString());
    EXPECT_EQ(
        searched.changedTo - searched.changedFrom,
        qsizetype(std::strlen("<integer>-1</integer>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>4</integer>")));

    // Missing: appended after the entry's last pair, the rating first, in the entry's indentation.
    const QByteArray neither = library("\t\t\t<key>GUID</key>\n\t\t\t<string>G</string>\n");
    const auto appended = AlbumDataRatingEditor::withRating(neither, "7", 3, std::nullopt, 3);
    ASSERT_EQ(appended.outcome, Outcome::Changed) << appended.problem;
    expectOnlyChange(neither, appended.bytes, "<string>G</string>\n",
                     "<string>G</string>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>3</integer>\n"
                     "\t\t\t<key>RatingElsewhere</key>\n\t\t\t<integer>3</integer>\n");
    const QByteArray rated = library("\t\t\t<key>Rating</key>\n\t\t\t<integer>1</integer>\n");
    const auto onlySeen = AlbumDataRatingEditor::withRating(rated, "7", 2, std::nullopt, 2);
    ASSERT_EQ(onlySeen.outcome, Outcome::Changed) << onlySeen.problem;
    expectOnlyChange(rated, onlySeen.bytes, "<integer>1</integer>\n",
                     "<integer>2</integer>\n\t\t\t<key>RatingElsewhere</key>\n\t\t\t<integer>2</integer>\n");
    QByteArray empty = library("");
    empty.replace("\t\t<key>7</key>\n\t\t<dict>\n\t\t</dict>", "\t\t<key>7</key>\n\t\t<dict/>");
    const auto filled = AlbumDataRatingEditor::withRating(empty, "7", 4, std::nullopt, 4);
    ASSERT_EQ(filled.outcome, Outcome::Changed) << filled.problem;
    expectOnlyChange(empty, filled.bytes, "\t\t<dict/>",
                     "\t\t<dict>\n\t\t\t<key>Rating</key>\n\t\t\t<integer>4</integer>\n"
                     "\t\t\t<key>RatingElsewhere</key>\n\t\t\t<integer>4</integer>\n\t\t</dict>");

    // Without it, a rating leaves the key alone.
    const auto plain = AlbumDataRatingEditor::withRating(both, "7", 1);
    ASSERT_EQ(plain.outcome, Outcome::Changed);
    expectOnlyChange(both, plain.bytes, "<integer>2</integer>", "<integer>1</integer>");
}
