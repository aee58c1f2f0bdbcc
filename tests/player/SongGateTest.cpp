#include "SongGate.h"
#include "WindowTestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace tonelark;
using namespace tonelark::test;

namespace {

// A Ui whose error box "stays open" while `whileOpen` runs: what arrives then is what
// arrives in the box's event loop. It can change the text of the box it shows.
class BoxUi : public FakeUi {
public:
    std::function<void()> whileOpen;
    QStringList shownTexts;     // the text each box had when it closed
    int open = 0;
    int mostOpen = 0;
    bool canReplace = true;

    void showError(const QString &text) override
    {
        FakeUi::showError(text);
        m_text = text;
        mostOpen = std::max(mostOpen, ++open);
        if (const std::function<void()> run = std::exchange(whileOpen, {}))
            run();
        --open;
        shownTexts << m_text;
    }
    bool replaceOpenErrorText(const QString &text) override
    {
        if (!canReplace || open == 0)
            return false;
        m_text = text;
        return true;
    }

private:
    QString m_text;
};

class SongGateTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    BoxUi ui;
    QStringList loads;
    int loadDepth = 0;
    int deepestLoad = 0;
    // What the test's load does besides being logged: show a box, or nothing.
    std::function<LoadOutcome(const QString &)> loadBody = [](const QString &) { return LoadOutcome::Success; };
    SongGate gate{ui, [this](const QString &fileName) {
                      loads << QFileInfo(fileName).fileName();
                      deepestLoad = std::max(deepestLoad, ++loadDepth);
                      const LoadOutcome outcome = loadBody(fileName);
                      --loadDepth;
                      return outcome;
                  }};

    QString existing(const QString &name)
    {
        const QString path = dir.filePath(name);
        writeFile(path, SmfBuilder().note(0, 60, 480).bytes());
        return path;
    }
    QString missing(int i) const { return dir.filePath(QStringLiteral("none-%1.mid").arg(i)); }
    // A load that fails with the loader's missing-file box.
    void failWithABox()
    {
        loadBody = [this](const QString &fileName) {
            gate.loaderUi().showError(missingFileMessage(fileName));
            return LoadOutcome::MissingFile;
        };
    }
};

TEST_F(SongGateTest, MissingSongsArrivingDuringABoxJoinItsText)
{
    // The crash: each request ran its load inside the previous one's box, 5000 deep.
    failWithABox();
    ui.whileOpen = [this] {
        for (int i = 1; i < 5000; ++i)
            EXPECT_EQ(gate.request({missing(i), SongSource::Mpris}), LoadOutcome::MissingFile);
    };
    EXPECT_EQ(gate.request({missing(0), SongSource::Mpris}), LoadOutcome::MissingFile);

    EXPECT_EQ(loads, QStringList{QStringLiteral("none-0.mid")});
    EXPECT_EQ(ui.errors.size(), 1);
    EXPECT_EQ(ui.mostOpen, 1);
    const QString text = ui.shownTexts.value(0);
    EXPECT_TRUE(text.startsWith(missingFileMessage(missing(0)))) << qPrintable(text);
    EXPECT_TRUE(text.contains(QStringLiteral("続けて届いた 4999 件の曲も開けませんでした（最後の 5 件）:")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("\"%1\" が見つかりません。").arg(missing(4999))));
    EXPECT_FALSE(text.contains(missing(4994) + QLatin1Char('"')));
    EXPECT_EQ(text.count(QLatin1Char('\n')), 4 + 5);
    EXPECT_FALSE(gate.isBusy());
}

TEST_F(SongGateTest, SongsArrivingDuringABoxWaitAndTheLatestRunsAfterIt)
{
    failWithABox();
    const QString a = existing(QStringLiteral("a.mid"));
    const QString b = existing(QStringLiteral("b.mid"));
    ui.whileOpen = [&] {
        EXPECT_EQ(gate.request({a, SongSource::HandOver}), LoadOutcome::Deferred);
        EXPECT_EQ(gate.request({missing(1), SongSource::HandOver}), LoadOutcome::MissingFile);
        EXPECT_EQ(gate.request({b, SongSource::Drop}), LoadOutcome::Deferred);
        EXPECT_TRUE(gate.isBusy());
        EXPECT_TRUE(loads.size() == 1);
    };
    QStringList notices;
    gate.setNotice([&](const QString &text) { notices << text; });
    gate.request({missing(0), SongSource::CommandLine});
    // b's load runs after the box, from the gate's own level: no load inside another.
    EXPECT_EQ(loads, (QStringList{QStringLiteral("none-0.mid"), QStringLiteral("b.mid")}));
    EXPECT_EQ(deepestLoad, 1);
    EXPECT_EQ(ui.mostOpen, 1);
    // The failure that arrived in the box was shown in it, not in a box of its own.
    EXPECT_EQ(ui.errors.size(), 2);   // none-0's box, then b's (it fails here as well)
    EXPECT_TRUE(ui.shownTexts.value(0).contains(QStringLiteral("続けて届いた 1 件の曲も開けませんでした:")));
    // The song b replaced is named, not dropped without a word.
    EXPECT_EQ(notices, QStringList{SongGate::replacedNotice(1, {QStringLiteral("\"%1\"").arg(a)})});
    EXPECT_TRUE(notices.value(0).startsWith(QStringLiteral("[曲の受け取り]\r\n読み込み中に届いた 1 曲は")));
}

TEST_F(SongGateTest, FailuresNoBoxCouldTakeAreShownInOneBoxAfterTheLoad)
{
    // A load without a box of its own during which requests arrive (an event loop of the
    // load), and a Ui that cannot change an open box: one box after the load, not one each.
    const QString song = existing(QStringLiteral("song.mid"));
    loadBody = [this](const QString &fileName) {
        if (fileName.endsWith(QLatin1String("song.mid")))
            for (int i = 0; i < 3; ++i)
                gate.request({missing(i), SongSource::Mpris});
        return LoadOutcome::Success;
    };
    EXPECT_EQ(gate.request({song, SongSource::OpenDialog}), LoadOutcome::Success);
    EXPECT_EQ(loads, QStringList{QStringLiteral("song.mid")});
    ASSERT_EQ(ui.errors.size(), 1);
    EXPECT_TRUE(ui.errors.first().startsWith(missingFileMessage(missing(0))));
    EXPECT_TRUE(ui.errors.first().contains(QStringLiteral("続けて届いた 2 件")));

    ui.canReplace = false;
    ui.errors.clear();
    failWithABox();
    ui.whileOpen = [this] { gate.request({missing(9), SongSource::Mpris}); };
    gate.request({missing(8), SongSource::Mpris});
    EXPECT_EQ(ui.errors.size(), 2);
    EXPECT_EQ(ui.mostOpen, 1);
    EXPECT_EQ(ui.errors.last(), missingFileMessage(missing(9)));
}

TEST_F(SongGateTest, ClosingDropsWhatWaits)
{
    failWithABox();
    const QString a = existing(QStringLiteral("a.mid"));
    ui.whileOpen = [&] {
        gate.request({a, SongSource::HandOver});
        gate.dropWaiting();
    };
    gate.request({missing(0), SongSource::Mpris});
    EXPECT_EQ(loads, QStringList{QStringLiteral("none-0.mid")});
}

} // namespace
