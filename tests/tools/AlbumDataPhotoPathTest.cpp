#include "tools/library/AlbumDataPhotoPath.h"

#include <gtest/gtest.h>

namespace {
// Photo 7 in the master list; a roll and a comment that also speak of a "7" with a path, which
// must not be taken for it.
const QByteArray library = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>List of Rolls</key>
	<dict>
		<key>7</key>
		<dict><key>ImagePath</key><string>/wrong/roll.jpg</string></dict>
	</dict>
	<!-- <key>7</key><dict><key>ImagePath</key><string>/wrong/comment.jpg</string></dict> -->
	<key>Master Image List</key>
	<dict>
		<key>6</key>
		<dict>
			<key>ImagePath</key>
			<string>/photos/six.jpg</string>
		</dict>
		<key>7</key>
		<dict>
			<key>Keywords</key>
			<array><dict><key>ImagePath</key><string>/wrong/nested.jpg</string></dict></array>
			<key>Caption</key>
			<string attr="a>b">Sea &amp; sky</string>
			<key>ImagePath</key>
			<string>/photos/Sea &amp; sky &#x2014; <![CDATA[<1>]]>.jpg</string>
		</dict>
		<key>8</key>
		<dict><key>ImagePath</key><string/></dict>
	</dict>
</dict>
</plist>
)";
} // namespace

TEST(AlbumDataPhotoPathTest, FindsThePhotosOwnPathAndNoOther)
{
    EXPECT_EQ(AlbumDataPhotoPath::find(library, "7"), QString::fromUtf8("/photos/Sea & sky \u2014 <1>.jpg"));
    EXPECT_EQ(AlbumDataPhotoPath::find(library, "6"), "/photos/six.jpg");
    EXPECT_EQ(AlbumDataPhotoPath::find(library, "8"), "");
    EXPECT_EQ(AlbumDataPhotoPath::find(library, "9"), std::nullopt);
    EXPECT_EQ(AlbumDataPhotoPath::find(library, "ImagePath"), std::nullopt);
}

TEST(AlbumDataPhotoPathTest, BytesItCannotFollowGiveNothing)
{
    for (const QByteArray& cut :
         {library.left(library.indexOf("/photos/Sea")), library.left(library.indexOf("<!--") + 6),
          QByteArray(library).replace("&#x2014;", "&bogus;")})
        EXPECT_EQ(AlbumDataPhotoPath::find(cut, "7"), std::nullopt) << cut.right(40).constData();
}
