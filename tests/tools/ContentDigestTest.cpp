#include "tools/library/ContentDigest.h"

#include <QByteArray>
#include <gtest/gtest.h>

namespace {
// Three and a half blocks that differ from block to block.
QByteArray contents()
{
    QByteArray bytes(ContentDigest::blockSize * 7 / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char('a' + (i * 7 + i / 4093) % 26);
    return bytes;
}
} // namespace

TEST(ContentDigestTest, AnUpdateAfterAChangeGivesTheDigestOfTheNewContents)
{
    const QByteArray original = contents();
    const ContentDigest before(original);

    // The same length: a byte in the third block, and a change across a block's end.
    for (const qsizetype at : {ContentDigest::blockSize * 2 + 17, ContentDigest::blockSize - 2}) {
        QByteArray changed = original;
        changed.replace(at, 4, "1234");
        ContentDigest updated = before;
        updated.update(changed, at, at + 4);
        EXPECT_EQ(updated.value(), ContentDigest(changed).value()) << at;
        EXPECT_NE(updated.value(), before.value()) << at;
    }

    // Longer and shorter: everything after the change moved.
    for (const qsizetype length : {0, 40}) {
        QByteArray changed = original;
        const qsizetype at = ContentDigest::blockSize + 5;
        changed.replace(at, 20, QByteArray(length, 'x'));
        ContentDigest updated = before;
        updated.update(changed, at, at + length);
        EXPECT_EQ(updated.size(), changed.size());
        EXPECT_EQ(updated.value(), ContentDigest(changed).value()) << length;
    }
}

TEST(ContentDigestTest, TellsContentsOfOneLengthApartWhereverTheyDiffer)
{
    const QByteArray original = contents();
    for (const qsizetype at : {qsizetype(0), ContentDigest::blockSize, original.size() - 1}) {
        QByteArray changed = original;
        changed[at] = '!';
        EXPECT_NE(ContentDigest(changed).value(), ContentDigest(original).value()) << at;
    }
    EXPECT_NE(ContentDigest("").value(), ContentDigest(QByteArray(1, '\0')).value());
}
