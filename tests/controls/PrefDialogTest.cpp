#include "Convex.h"
#include "EditCstm.h"
#include "Gauges.h"
#include "uPref.h"
#include "uSeek.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QtTest>

using namespace tonelark;

// The settings dialog on its own: what fill() shows, what edited() gives back, and the
// controls that live inside the dialog (mode buttons, presets, hot key, descriptions).
class PrefDialogTest : public QObject {
    Q_OBJECT

private:
    static TfrmTonelark2Pref *makeDialog(const QStringList &ports = {QStringLiteral("Port A"), QStringLiteral("Port B")},
                                         std::function<QString()> version = {})
    {
        return new TfrmTonelark2Pref(nullptr, ports, std::move(version));
    }

private slots:
    void fillThenEditedGivesTheSameSettings_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::newRow("defaults") << QByteArray();
        QTest::newRow("every key otherwise")
            << QByteArray("[Tonelark]\nBrsNormalizeOption=1\nDisableLoop=1\nSkipFirstBlank=0\nIgnoreSysEx=1\n"
                          "SettingMode=1\nMidiOutDeviceId=1\nSoundFont=/sf/x.sf2\nPlaybackBaseMode=0\n"
                          "ReloadWhenModified=1\nHotKey=49268\nCombinationWithWinKey=0\nHideIfWindowIsActive=0\n"
                          "RestoreWindowPos=1\nUseClassicDialogForFile=1\nInfoBoxStyle=2\nSeparatorType=1\n"
                          "UseSystemContextMenu=1\nSecondsToSkip=60\n"
                          "[Lyric]\nAutoLyricTab=0\nTrimAnySpace=1\nNoEmptyLines=1\nApplyColor=1\nFontBold=0\n"
                          "FontItalic=1\nBackColor=255\nTextColor=65280\n"
                          "[Progress]\nForeColor=1\nBackColor=2\nFrameColor=3\n");
        // Values the dialog cannot show keep theirs: no mode button, a port that is gone, a
        // unit that still means time, a hot key no combination stands for.
        QTest::newRow("undecided values kept")
            << QByteArray("[Tonelark]\nSettingMode=2\nMidiOutDeviceId=7\nPlaybackBaseMode=5\nHotKey=255\n");
    }
    void fillThenEditedGivesTheSameSettings()
    {
        QFETCH(QByteArray, ini);
        const Settings settings = Settings::load(Convex::fromBytes(ini));
        std::unique_ptr<TfrmTonelark2Pref> dialog(makeDialog());
        dialog->fill(settings);
        QCOMPARE(dialog->edited(settings), settings);
    }

    void radioGroupsAndDeviceListShowWhatTheyCan()
    {
        std::unique_ptr<TfrmTonelark2Pref> dialog(makeDialog());
        QCOMPARE(dialog->comboMidiOutDevs->count(), 3);
        QCOMPARE(dialog->comboMidiOutDevs->itemData(0).toInt(), -1100);
        QCOMPARE(dialog->comboMidiOutDevs->itemText(2), QStringLiteral("Port B"));

        const Settings settings = Settings::load(Convex::fromBytes(
            "[Tonelark]\nSettingMode=2\nMidiOutDeviceId=1\nInfoBoxStyle=9\nSeparatorType=-1\n"));
        dialog->fill(settings);
        QCOMPARE(dialog->comboMidiOutDevs->currentText(), QStringLiteral("Port B")); // by id
        QVERIFY(!dialog->radioSettingsManual->isChecked() && !dialog->radioSettingsWolf->isChecked());
        QVERIFY(dialog->checkDisableLoop->isEnabled());
        QCOMPARE(dialog->rgInfoBoxStyle->itemIndex(), 2);
        QCOMPARE(dialog->rgSeparator->itemIndex(), -1);
        const Settings edited = dialog->edited(settings);
        QCOMPARE(edited.InfoBoxStyle, 2);
        QCOMPARE(edited.SeparatorType, -1);

        // The other mode fixes the play options as soon as it is shown; manual frees them.
        std::unique_ptr<TfrmTonelark2Pref> wolf(makeDialog());
        wolf->fill(Settings::load(Convex::fromBytes("[Tonelark]\nSettingMode=1\n")));
        for (QCheckBox *box : {wolf->checkBrsNormalize, wolf->checkDisableLoop, wolf->checkSkipFirstBlank,
                               wolf->checkIgnoreSysEx})
            QVERIFY(!box->isEnabled());
        wolf->radioSettingsManual->click();
        QVERIFY(wolf->checkIgnoreSysEx->isEnabled());
        QCOMPARE(wolf->edited(settings).SettingMode, 0);
    }

    void presetsSetTheThreeSeekBarColoursOnly()
    {
        std::unique_ptr<TfrmTonelark2Pref> dialog(makeDialog());
        const Settings settings = Settings::load(Convex::fromBytes("[Progress]\nForeColor=1\nBackColor=2\nFrameColor=3\n"));
        dialog->fill(settings);
        QCOMPARE(dialog->gaugePreview->progress(), 25);
        QCOMPARE(dialog->gaugePreview->medValue(), 33);
        const QList<QAction *> items = dialog->popupMenuProgress->actions();
        QCOMPARE(items.size(), 4);
        QCOMPARE(items[2]->text(), QStringLiteral("ブライト サンセット(&S)"));
        items[2]->trigger();
        QCOMPARE(dialog->imageGaugeForeColor->color(), 0xFFDFDF);
        items[0]->trigger();
        const Settings edited = dialog->edited(settings);
        QCOMPARE(edited.Progress.ForeColor, -16777203);
        QCOMPARE(edited.Progress.BackColor, -16777211);
        QCOMPARE(edited.Progress.FrameColor, -16777210);
        QCOMPARE(edited.Lyric, settings.Lyric);
        dialog->ColorSettingsSelected(dialog->buttonOk); // not a menu item: nothing
        QCOMPARE(dialog->edited(settings).Progress, edited.Progress);
    }

    void hotKeyTakesOneCombinationAHotKeyCanUse()
    {
        std::unique_ptr<TfrmTonelark2Pref> dialog(makeDialog());
        const Settings settings; // Ctrl+Shift+A with the Win key
        dialog->fill(settings);
        QCOMPARE(dialog->hotKey->keySequence(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
        struct {
            Qt::Key key;
            Qt::KeyboardModifiers modifiers;
            quint16 value;
        } presses[] = {
            {Qt::Key_F5, Qt::ControlModifier | Qt::AltModifier, 0x4000 | 0x8000 | 0x74},
            {Qt::Key_Launch0, Qt::ControlModifier, 0x4000 | 0x8000 | 0x74}, // no virtual key: kept
            {Qt::Key_Home, Qt::ShiftModifier, 0x2000 | 0x24},
            {Qt::Key_K, Qt::ControlModifier | Qt::MetaModifier, 0x4000 | 'K'},
        };
        dialog->checkCombinationWithWinKey->setChecked(false);
        for (const auto &press : presses) {
            QTest::keyClick(dialog->hotKey, press.key, press.modifiers);
            QCOMPARE(dialog->hotKey->shortcutValue(), press.value);
            QCOMPARE(dialog->hotKey->keySequence().count(), 1);
        }
        QVERIFY(dialog->checkCombinationWithWinKey->isChecked()); // Super asked for the Win box
        const Settings edited = dialog->edited(settings);
        QCOMPARE(edited.HotKey, quint16(0x4000 | 'K'));
        dialog->hotKey->clear();
        QCOMPARE(dialog->edited(settings).HotKey, quint16(0));

        // A key alone is refused (the panel says why), a function key alone is taken.
        dialog->hotKey->setShortcutValue(0x4000 | 'K');
        QTest::keyClick(dialog->hotKey, Qt::Key_A);
        QCOMPARE(dialog->hotKey->shortcutValue(), quint16(0x4000 | 'K'));
        QVERIFY(dialog->labelDesc->text().contains(QStringLiteral("Ctrl、Alt、Shift、Win")));
        QTest::keyClick(dialog->hotKey, Qt::Key_F9);
        QCOMPARE(dialog->hotKey->shortcutValue(), quint16(0x78));
    }

    void escEnterAndSpaceInTheHotKeyFieldKeepTheirDialogMeaning()
    {
        for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
            std::unique_ptr<TfrmTonelark2Pref> dialog(makeDialog());
            dialog->fill(Settings());
            dialog->show();
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
            dialog->pageCtrl->setCurrentWidget(dialog->tabSystem);
            dialog->hotKey->setFocus();
            QTRY_VERIFY(dialog->hotKey->hasFocus() || dialog->hotKey->isAncestorOf(QApplication::focusWidget()));
            QTest::keyClick(QApplication::focusWidget(), key);
            QCOMPARE(dialog->hotKey->shortcutValue(), quint16(0x6041));
            if (key == Qt::Key_Space) {
                QVERIFY(dialog->isVisible());
                dialog->reject();
            } else {
                QVERIFY(!dialog->isVisible());
                QCOMPARE(dialog->result(), key == Qt::Key_Escape ? int(QDialog::Rejected) : int(QDialog::Accepted));
            }
        }
    }

    void descriptionFollowsMouseFocusAndPage()
    {
        int versionBuilds = 0;
        std::unique_ptr<TfrmTonelark2Pref> dialog(makeDialog({}, [&] { return QStringLiteral("v%1").arg(++versionBuilds); }));
        dialog->show();
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(dialog->checkBrsNormalize, &enter);
        QCOMPARE(dialog->labelDesc->text(), QStringLiteral("BRSPLAY_NORMALIZE オプションを有効にします。\n"
                                                           "音量が小さすぎる場合に試してみてください。"));
        dialog->pageCtrl->setCurrentWidget(dialog->tabOthers);
        QCOMPARE(dialog->labelDesc->text(), QString());
        dialog->rgSeparator->button(1)->setFocus();
        QCOMPARE(dialog->labelDesc->text(), QStringLiteral("作者/曲名を同時にコピーする時の区切り線を指定します。"));
        QApplication::sendEvent(dialog->labelTimeSkipping, &enter); // the group box speaks for its label
        QVERIFY(dialog->labelDesc->text().endsWith(QStringLiteral("\nこの値を 0 にすると機能を無効化します。")));

        // The version page is built on every showing.
        dialog->pageCtrl->setCurrentWidget(dialog->tabVersion);
        QCOMPARE(dialog->labelDesc->text(), QStringLiteral("バージョン情報を表示します。"));
        QCOMPARE(dialog->labelVersion->text(), QStringLiteral("v1"));
        dialog->pageCtrl->setCurrentWidget(dialog->tabLyric);
        dialog->pageCtrl->setCurrentWidget(dialog->tabVersion);
        QCOMPARE(dialog->labelVersion->text(), QStringLiteral("v2"));
    }

    void everyHintFitsTheDescriptionPanelAtTheWindowsFontSize()
    {
        for (const int points : {9, 16}) {
            QWidget owner;
            QFont font = owner.font();
            font.setPointSize(points);
            owner.setFont(font);
            std::unique_ptr<TfrmTonelark2Pref> dialog(new TfrmTonelark2Pref(&owner, {}, {}));
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
            if (points == 9)
                QCOMPARE(dialog->panelDesc->height(), 45); // the designed height
            QStringList hints;
            for (const QWidget *widget : dialog->findChildren<QWidget *>())
                if (!widget->statusTip().isEmpty())
                    hints << widget->statusTip().replace(QLatin1String("\\n"), QLatin1String("\n"));
            QVERIFY(hints.size() > 20);
            for (const QString &hint : hints) {
                dialog->labelDesc->setText(hint);
                QVERIFY2(dialog->labelDesc->heightForWidth(dialog->labelDesc->width()) <= dialog->labelDesc->height(),
                         qPrintable(QStringLiteral("%1 pt: %2").arg(points).arg(hint)));
            }
            dialog->hide();
        }
    }

    void secondsUpDownStaysInItsRange()
    {
        std::unique_ptr<TfrmTonelark2Pref> dialog(makeDialog());
        Settings settings;
        settings.SecondsToSkip = 99;
        dialog->fill(settings);
        QCOMPARE(dialog->edited(settings).SecondsToSkip, 60);
        dialog->editSecondsToSkip->selectAll();
        QTest::keyClicks(dialog->editSecondsToSkip, QStringLiteral("7"));
        QCOMPARE(dialog->edited(settings).SecondsToSkip, 7);
    }
};

QTEST_MAIN(PrefDialogTest)
#include "PrefDialogTest.moc"
