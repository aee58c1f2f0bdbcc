#include "HotKeyMap.h"
#include "Mpris.h"

#include <QDBusObjectPath>

#include <gtest/gtest.h>

using namespace tonelark;

TEST(HotKeyMap, VirtualKeysMapToTheirKeysyms)
{
    const std::pair<quint16, std::uint32_t> cases[] = {
        {'A', 'a'},        {'Z', 'z'},          {'0', '0'},          {'9', '9'},
        {0x70, 0xffbe},    {0x7B, 0xffc9},      {0x87, 0xffd5},      // F1, F12, F24
        {0x25, 0xff51},    {0x28, 0xff54},      {0x24, 0xff50},      {0x23, 0xff57},
        {0x21, 0xff55},    {0x22, 0xff56},      {0x2D, 0xff63},      {0x2E, 0xffff},
        {0x20, 0x20},      {0x0D, 0xff0d},      {0x1B, 0xff1b},      {0x09, 0xff09},
        {0x60, 0xffb0},    {0x69, 0xffb9},      {0x6B, 0xffab},      {0x6F, 0xffaf},
    };
    for (const auto &[virtualKey, keysym] : cases)
        EXPECT_EQ(keysymForVirtualKey(virtualKey), keysym) << std::hex << virtualKey;
    for (quint16 unmapped : {0x00, 0x10, 0x5B, 0x88, 0xBA, 0x1FFF})
        EXPECT_EQ(keysymForVirtualKey(unmapped), std::nullopt) << std::hex << unmapped;
}

TEST(HotKeyMap, ModifiersAndLockVariants)
{
    // Ctrl+Shift+A with the Windows key: Shift 1, Control 4, Mod4 64.
    EXPECT_EQ(x11ModifiersFor(0x6041, true), 1 | 4 | 64);
    EXPECT_EQ(x11ModifiersFor(0x6041, false), 1 | 4);
    EXPECT_EQ(x11ModifiersFor(0x8000 | 'Q', false), 8); // Alt is Mod1
    EXPECT_EQ(x11ModifiersFor('Q', false), 0);
    // Num Lock on Mod2 (16): plain, Caps Lock, Num Lock, both.
    EXPECT_EQ(lockVariant(0, 16), 0);
    EXPECT_EQ(lockVariant(1, 16), 2);
    EXPECT_EQ(lockVariant(2, 16), 16);
    EXPECT_EQ(lockVariant(3, 16), 18);
}

TEST(MprisMetadata, CarriesTheSongAndANoTrackIdWithoutOne)
{
    MprisSnapshot none;
    const QVariantMap empty = MprisService::metadataFor(none);
    EXPECT_EQ(empty.size(), 1);
    EXPECT_EQ(empty.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path(),
              QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));

    MprisSnapshot song;
    song.hasSong = true;
    song.songId = 7;
    song.lengthUs = 90'000'000;
    song.title = QStringLiteral("さくら");
    song.artist = QStringLiteral("作者");
    song.url = QStringLiteral("file:///tmp/a%20b.mid");
    song.lyricLine = QStringLiteral("さいた");
    const QVariantMap map = MprisService::metadataFor(song);
    EXPECT_EQ(map.value(QStringLiteral("mpris:trackid")).value<QDBusObjectPath>().path(),
              QStringLiteral("/org/tonelark/Song/7"));
    EXPECT_EQ(map.value(QStringLiteral("mpris:length")).toLongLong(), 90'000'000);
    EXPECT_EQ(map.value(QStringLiteral("xesam:title")).toString(), song.title);
    EXPECT_EQ(map.value(QStringLiteral("xesam:artist")).toStringList(), QStringList{song.artist});
    EXPECT_EQ(map.value(QStringLiteral("xesam:url")).toString(), song.url);
    EXPECT_EQ(map.value(QStringLiteral("xesam:asText")).toString(), song.lyricLine);
}
