#include "PlistDifferential.h"

#include "platform/foundation/PropertyListSerialization.h"

#include <gtest/gtest.h>

// Thousands of generated and damaged album data files, each read by every reader of XML property
// lists; the seeds are fixed, so a failure names a case that can be replayed.
TEST(PlistDifferentialTest, everyReaderGivesOneVerdictForEveryFile)
{
    constexpr uint64_t cases = 3000;
    int accepted = 0;
    int readInOnePass = 0;
    int failures = 0;
    for (uint64_t seed = 0; seed < cases && failures < 5; ++seed) {
        const QByteArray bytes = PlistDifferential::caseFor(seed);
        const std::string problem = PlistDifferential::disagreement(bytes);
        if (!problem.empty()) {
            ++failures;
            ADD_FAILURE() << "seed " << seed << ": " << problem << "\n" << bytes.toStdString();
        }
        accepted += PropertyListSerialization::fromData(bytes) != nullptr;
        readInOnePass += PlistDifferential::readInOnePass(bytes).has_value();
    }
    // The one-pass reader must take a fair share of the files itself, or it is barely compared.
    EXPECT_GT(readInOnePass, accepted * 3 / 4);
    // Both verdicts must be well represented, or the comparison proves little.
    EXPECT_GT(accepted, int(cases) / 3);
    EXPECT_LT(accepted, int(cases) * 9 / 10);
}

// Spellings the readers used to disagree on, each with the one verdict now given.
TEST(PlistDifferentialTest, spellingsOnceReadDifferentlyHaveOneVerdict)
{
    const QByteArray body = "<dict><key>a</key><string>x</string></dict>";
    const std::vector<std::pair<QByteArray, bool>> cases = {
        {"\xEF\xBB\xBF<plist>" + body + "</plist>", true},
        {"<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"x.dtd\"><plist>" + body + "</plist>",
         true},
        {"<plist><dict><key>a</key><string>x&#0;y</string></dict></plist>", false},
        {"<plist><dict><key>a</key><string>x&#x000;y</string></dict></plist>", false},
        {"<plist>" + body, false},
        {"<plist><dict><key>a</key><integer>0x10</integer></dict></plist>", false},
        {"<plist><dict><key>a</key><date>2001-01-01T00:00:00.5Z</date></dict></plist>", false},
        {"<plist>" + body + body + "</plist>", false},
    };
    for (const auto& [bytes, accepted] : cases) {
        EXPECT_EQ(PropertyListSerialization::fromData(bytes) != nullptr, accepted) << bytes.toStdString();
        EXPECT_EQ(PlistDifferential::disagreement(bytes), "") << bytes.toStdString();
    }
}
