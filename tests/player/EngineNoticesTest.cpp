#include "EngineNotices.h"
#include "FakeEngine.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

// What the info area says about the output: the sound server going and coming back, and
// SoundFonts that could not be used.

using namespace tonelark;
using tonelark::test::FakeEngine;

namespace {

const QString kLost = QStringLiteral("[演奏エンジン] サウンドサーバーとの接続が切れました。再接続を待っています。");
const QString kBack = QStringLiteral("[演奏エンジン] サウンドサーバーに再接続しました。演奏中の位置から音が出ます。");
const QString kNone =
    QStringLiteral("[演奏エンジン] サウンドサーバーが見つかりません。起動するのを待っています（それまで音は出ません）。");
const QString kFound = QStringLiteral("[演奏エンジン] サウンドサーバーに接続しました。");

struct ServerCase {
    const char *name;
    TBrs4OutputStatus before, now;
    bool everConnected;
    QStringList expected;
};

} // namespace

TEST(EngineNotices, EachChangeOfTheServerIsSaidOnce)
{
    const std::int32_t N = BRSSERVER_NOTUSED, C = BRSSERVER_CONNECTED, W = BRSSERVER_WAITING;
    const ServerCase cases[] = {
        {"nothing changed", {W, 3, 0, 0}, {W, 3, 0, 0}, true, {}},
        {"lost while playing", {C, 1, 0, 0}, {W, 2, 0, 0}, true, {kLost}},
        {"back", {W, 2, 0, 0}, {C, 3, 0, 0}, true, {kBack}},
        {"none at the open", {N, 0, 0, 0}, {W, 1, 0, 0}, false, {kNone}},
        {"first server found", {W, 1, 0, 0}, {C, 2, 0, 0}, false, {kFound}},
        {"gone and back between two polls", {C, 1, 0, 0}, {C, 3, 0, 0}, true, {kLost, kBack}},
        {"the device reopened on the server", {C, 1, 0, 0}, {C, 1, 0, 0}, true, {}},
        {"a port opened instead", {W, 2, 0, 0}, {N, 3, 0, 0}, true, {}},
        {"a port opened on a connected server", {C, 2, 0, 0}, {N, 3, 0, 0}, true, {}},
    };
    for (const ServerCase &c : cases)
        EXPECT_EQ(serverNotices(c.before, c.now, c.everConnected), c.expected) << c.name;
}

TEST(EngineNotices, SoundFontNoticesNameTheFileAndTheOneUsedInstead)
{
    const QString system = QStringLiteral("/usr/share/sounds/sf2/default-GM.sf2");
    EXPECT_EQ(soundFontAtStartNotice(QStringLiteral("/fonts/壊れた.sf2"), BRSERROR_DAMAGED_SOUNDFONT, system),
              QStringLiteral("[演奏エンジン] 設定の SoundFont「/fonts/壊れた.sf2」は壊れています（音色を鳴らせません）。"
                             "代わりに「/usr/share/sounds/sf2/default-GM.sf2」を使います。"));
    EXPECT_EQ(soundFontAtStartNotice(QStringLiteral("/fonts/gone.sf2"), BRSERROR_FILENOTFOUND, system),
              QStringLiteral("[演奏エンジン] 設定の SoundFont「/fonts/gone.sf2」が見つかりません。"
                             "代わりに「/usr/share/sounds/sf2/default-GM.sf2」を使います。"));
    EXPECT_EQ(soundFontAtStartNotice(QStringLiteral("/fonts/text.sf2"), BRSERROR_CANNOT_OPENFILE, QString()),
              QStringLiteral("[演奏エンジン] 設定の SoundFont「/fonts/text.sf2」を読み込めません。"
                             "ほかに使える SoundFont がないため、音は出ません。"));
    EXPECT_EQ(damagedSoundFontNotice(QStringLiteral("/fonts/drums.sf2"), system),
              QStringLiteral("[演奏エンジン] SoundFont「/fonts/drums.sf2」は壊れているため使えません"
                             "（この曲の音色を鳴らせません）。代わりに「/usr/share/sounds/sf2/default-GM.sf2」を使います。"));
}

TEST(EngineNotices, PollsSayWhatChangedAndWhatStillHoldsIsSaidAgainAfterALoad)
{
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    FakeEngine engine;
    engine.setServer(BRSSERVER_CONNECTED);
    EngineNotices notices(engine);
    QStringList said;
    QObject::connect(&notices, &EngineNotices::notice, [&](const QString &line) { said << line; });

    notices.poll();
    EXPECT_EQ(said, QStringList());
    engine.setServer(BRSSERVER_WAITING);
    notices.poll();
    notices.poll();
    EXPECT_EQ(said, QStringList{kLost}) << "said once, not at every poll";
    EXPECT_EQ(notices.standingNotices(), QStringList{kLost}) << "a new song's info area says it again";
    engine.setServer(BRSSERVER_CONNECTED);
    notices.poll();
    EXPECT_EQ(said, (QStringList{kLost, kBack}));
    EXPECT_EQ(notices.standingNotices(), QStringList());

    // A SoundFont refused for a song stays refused for the run.
    engine.refused = QStringLiteral("/fonts/drums.sf2\n/usr/share/sounds/sf2/default-GM.sf2");
    engine.output.SoundFontRefusals = 1;
    notices.poll();
    const QString refused = damagedSoundFontNotice(QStringLiteral("/fonts/drums.sf2"),
                                                   QStringLiteral("/usr/share/sounds/sf2/default-GM.sf2"));
    EXPECT_EQ(said.last(), refused);
    notices.addStandingNotice(QStringLiteral("at start"));
    EXPECT_EQ(said.last(), QStringLiteral("at start"));
    EXPECT_EQ(notices.standingNotices(), (QStringList{refused, QStringLiteral("at start")}));
}

TEST(EngineNotices, TheSettingsSoundFontRefusedLaterIsSaidOnceItIsKnown)
{
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    const QString font = QStringLiteral("/fonts/gone.sf2");
    const QString gone = soundFontAtStartNotice(font, BRSERROR_FILENOTFOUND, QString());
    struct Case {
        const char *name;
        std::int32_t atOnce;
        std::optional<std::int32_t> later;
        QStringList said;
    };
    const Case cases[] = {
        {"refused at once", BRSERROR_FILENOTFOUND, std::nullopt, {gone}},
        {"refused once checked", BRSERROR_NOERROR, BRSERROR_FILENOTFOUND, {gone}},
        {"accepted once checked", BRSERROR_NOERROR, BRSERROR_NOERROR, {}},
    };
    for (const Case &c : cases) {
        FakeEngine engine;
        engine.isReady = false;
        EngineNotices notices(engine);
        QStringList said;
        QObject::connect(&notices, &EngineNotices::notice, [&said](const QString &line) { said << line; });
        notices.watchSoundFontAtStart(font, c.atOnce);
        engine.lateSoundFontResult = c.later;
        notices.poll(); // still loading: nothing is asked
        engine.isReady = true;
        notices.poll();
        notices.poll();
        EXPECT_EQ(said, c.said) << c.name;
        EXPECT_EQ(notices.standingNotices(), c.said) << c.name;
    }
}
