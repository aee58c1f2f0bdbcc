#include <gtest/gtest.h>

#include "ChannelMixer.h"
#include "InstrumentNames.h"
#include "MixerMemory.h"
#include "MixerSession.h"

#include <QDir>
#include <cmath>
#include <QFile>
#include <QTemporaryDir>

using namespace tonelark;

namespace {

struct Recorder : MixerOutput {
    std::vector<std::string> calls;
    void setChannelMute(int ch, bool muted) override { calls.push_back("mute " + std::to_string(ch) + " " + std::to_string(muted)); }
    void setChannelSolo(int ch, bool soloed) override { calls.push_back("solo " + std::to_string(ch) + " " + std::to_string(soloed)); }
    void setChannelLevel(int ch, int level) override { calls.push_back("level " + std::to_string(ch) + " " + std::to_string(level)); }
    void setMasterVolume(int percent) override { calls.push_back("volume " + std::to_string(percent)); }
};

} // namespace

TEST(ChannelMixer, GuideMelodyCombinesWithTheUsersSettingsAndSendsOnlyChanges)
{
    Recorder out;
    ChannelMixer mixer(out);
    mixer.applyAll();
    EXPECT_EQ(out.calls.size(), 16u * 3 + 1);
    out.calls.clear();

    mixer.setMelodyChannels(1u << 3);
    EXPECT_TRUE(out.calls.empty()) << "in 通常 the melody sounds as set";
    EXPECT_EQ(mixer.guideMark(), QString());
    mixer.setLevel(3, 80);
    mixer.cycleGuideMelody();
    EXPECT_EQ(mixer.guideMark(), QStringLiteral("メロ小"));
    mixer.cycleGuideMelody();
    EXPECT_EQ(mixer.guideMark(), QStringLiteral("メロ消"));
    mixer.cycleGuideMelody();
    EXPECT_EQ(mixer.guideMark(), QString());
    EXPECT_EQ(out.calls, (std::vector<std::string>{"level 3 80", "level 3 40", "mute 3 1", "level 3 80", "mute 3 0"}));

    out.calls.clear();
    mixer.setGuideMelody(GuideMelody::Off);
    mixer.setMuted(3, true);
    mixer.setGuideMelody(GuideMelody::Normal);
    EXPECT_EQ(out.calls, (std::vector<std::string>{"mute 3 1"})) << "still muted by the user";
    mixer.setGuideMelody(GuideMelody::Off);
    mixer.setMelodyChannels(0);
    EXPECT_EQ(mixer.guideMark(), QString()) << "no mark for a song without melody";

    out.calls.clear();
    mixer.setSoloed(7, true);
    mixer.setChannels({});
    EXPECT_EQ(out.calls, (std::vector<std::string>{"solo 7 1", "mute 3 0", "level 3 100", "solo 7 0"}));
    EXPECT_TRUE(mixer.isDefault());
}

TEST(ChannelMixer, MasterVolumeAndItsEngineScale)
{
    Recorder out;
    ChannelMixer mixer(out);
    EXPECT_FALSE(mixer.setMasterVolume(130)) << "100 already";
    EXPECT_TRUE(mixer.setMasterVolume(-5));
    EXPECT_EQ(mixer.masterVolume(), 0);
    EXPECT_EQ(out.calls, (std::vector<std::string>{"volume 0"}));
    EXPECT_EQ(ChannelMixer::engineVolumeOfPercent(100), 0);
    EXPECT_EQ(ChannelMixer::engineVolumeOfPercent(0), -127);
    EXPECT_EQ(ChannelMixer::engineVolumeOfPercent(50), -63);
}

TEST(ChannelMixer, PerSongMemoryRoundTripsAndRefusesDamage)
{
    ChannelMixer::Channels channels{};
    channels[0].muted = true;
    channels[9] = {false, true, 35};
    EXPECT_EQ(ChannelMixer::serialize(channels), QByteArray("1=mute 100\n10=solo 35\n"));
    EXPECT_EQ(ChannelMixer::deserialize(ChannelMixer::serialize(channels)), channels);
    for (const char *bad : {"17=mute", "0=solo", "x=1", "3=loud", "3=101", "3"})
        EXPECT_FALSE(ChannelMixer::deserialize(bad)) << bad;

    QTemporaryDir state;
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    const QString song = state.path() + QStringLiteral("/曲 1.mid");
    EXPECT_FALSE(loadSongMixer(song));
    EXPECT_FALSE(saveSongMixer(song, channels));
    EXPECT_TRUE(mixerMemoryFile(song).startsWith(state.path() + QStringLiteral("/Tonelark/mixer/")));
    EXPECT_EQ(loadSongMixer(song), channels);
    EXPECT_FALSE(loadSongMixer(state.path() + QStringLiteral("/other.mid")));
    EXPECT_FALSE(saveSongMixer(song, {}));
    EXPECT_FALSE(QFile::exists(mixerMemoryFile(song))) << "a default state keeps no file";
    qputenv("XDG_STATE_HOME", saved);
}

TEST(ChannelMeters, HitsDecayAndNothingChangesWhileNotPlaying)
{
    ChannelMeters meters;
    TBrs4ChannelStatus c[16] = {};
    EXPECT_FALSE(meters.update(c, true, 0));
    c[2].NoteOns = 1;
    c[2].Velocity = 127;
    EXPECT_TRUE(meters.update(c, true, 16));
    EXPECT_EQ(meters.height(2), ChannelMeters::kSteps);
    EXPECT_TRUE(meters.update(c, true, 166));
    EXPECT_EQ(meters.height(2), ChannelMeters::kSteps / 2) << "halved in 150 ms";
    c[2].Sounding = 1;
    for (qint64 t = 182; t < 1000; t += 16)
        meters.update(c, true, t);
    EXPECT_EQ(meters.height(2), std::lround(0.4 * ChannelMeters::kSteps)) << "a held note stays lit";
    EXPECT_TRUE(meters.update(c, false, 1000));
    EXPECT_EQ(meters.height(2), 0);
    c[2].NoteOns = 2;
    for (qint64 t = 1016; t < 2000; t += 16)
        EXPECT_FALSE(meters.update(c, false, t)) << "paused: nothing to repaint";
}

TEST(InstrumentNames, GeneralMidiNamesDrumsAndBanks)
{
    EXPECT_EQ(gmProgramName(0), QStringLiteral("アコースティック・ピアノ"));
    EXPECT_EQ(gmProgramName(48), QStringLiteral("ストリングス"));
    EXPECT_EQ(gmProgramName(127), QStringLiteral("銃声"));
    EXPECT_TRUE(gmProgramName(128).isEmpty());
    EXPECT_EQ(instrumentText(true, 48, 8, 0, false), QStringLiteral("ストリングス (バンク 8:0)"));
    EXPECT_EQ(instrumentText(false, 0, 0, 0, true), QStringLiteral("ドラム"));
    EXPECT_EQ(instrumentText(false, 0, 0, 0, false), QStringLiteral("—"));
}

TEST(MixerSession, ChannelsResetAtEachSongUnlessRememberedPerFile)
{
    QTemporaryDir state;
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    Recorder out;
    MixerSession session(out);
    const QString a = state.path() + QStringLiteral("/a.mid"), b = state.path() + QStringLiteral("/b.mid");
    session.songLoaded({}, a, 0, {});
    session.mixer().setMuted(2, true);
    EXPECT_FALSE(session.channelsChanged()) << "not kept: nothing to save";
    session.songLoaded({}, b, 0, {});
    EXPECT_FALSE(session.mixer().channel(2).muted) << "a new song starts fresh";

    session.mixer().setSoloed(5, true);
    EXPECT_FALSE(session.setRememberPerSong(true)) << "switching it on keeps b's channels";
    session.songLoaded({}, a, 0, {});
    EXPECT_TRUE(session.mixer().isDefault());
    session.songLoaded({}, b, 0, {});
    EXPECT_TRUE(session.mixer().channel(5).soloed);

    // A state folder that cannot be made is said, and the mixer goes on.
    session.mixer().setLevel(1, 30);
    qputenv("XDG_STATE_HOME", (state.path() + QStringLiteral("/file")).toUtf8());
    QFile file(state.path() + QStringLiteral("/file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const auto error = session.channelsChanged();
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->contains(QStringLiteral("作成できません"))) << error->toStdString();
    EXPECT_EQ(session.mixer().channel(1).level, 30);
    qputenv("XDG_STATE_HOME", saved);
}
