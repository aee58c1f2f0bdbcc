#include "Brisola.h"
#include "EditCstm.h"
#include "SmfTempo.h"
#include "uSeek.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <memory>

using namespace tonelark;

namespace {

// Sends a wheel turn (positive: away from the user) at the centre of `widget`.
void wheelAt(QWidget *widget, int delta)
{
    const QPointF local = QRectF(widget->rect()).center();
    QWheelEvent event(local, widget->mapToGlobal(local), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class SeekDialogTest : public QObject {
    Q_OBJECT

private:
    // 120 beats per minute at 480 ticks per quarter: 960 ticks per second.
    TSmfEventTempoList m_tempo{480};
    TBrs4SmfInformation m_info{};
    TBrs4PlayerStatus m_status{};
    QWidget m_owner;

    std::unique_ptr<TfrmTonelark2Seek> open(const TSmfEventTempoList *tempo)
    {
        auto dialog = std::make_unique<TfrmTonelark2Seek>(&m_owner, tempo);
        dialog->SetTotalTick(&m_info, &m_status);
        return dialog;
    }

private slots:
    void initTestCase()
    {
        m_tempo.Add(TSmfEventTempo(0, 500000));
        m_owner.setGeometry(100, 200, 352, 251);
    }

    void init()
    {
        m_info = {};
        m_info.TimeBase = 480;
        m_info.TotalTick = 288000; // 5 minutes
        m_info.TotalTime = 300000;
        m_status = {};
        m_status.State = BRSSTATE_PLAY;
        m_status.Tick = 72384; // 1:15.400
        m_status.Time = 75400;
    }

    void formHasItsTextsSizeAndPlace()
    {
        auto dialog = open(&m_tempo);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("演奏位置の変更"));
        QCOMPARE(dialog->size(), QSize(292, 121));
        QCOMPARE(dialog->groupBoxSeek->title(), QStringLiteral(" 時間を直接指定 "));
        QCOMPARE(dialog->buttonGetCurrentPos->text(), QStringLiteral("現在の演奏位置を取得(&C)"));
        QVERIFY(dialog->buttonOk->isDefault());
        QVERIFY(dialog->checkUseAcceleration->isHidden());
        QVERIFY(!dialog->checkUseAcceleration->isChecked());
        QCOMPARE(dialog->buttonCancel->size(), QSize(0, 0));
        QCOMPARE(dialog->editSecond->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        // Centred across the owner, a sixth of the free height below its top.
        const QRect owner = m_owner.frameGeometry();
        const QSize margins = owner.size() - m_owner.size();
        QCOMPARE(dialog->pos(), QPoint(owner.x() + (owner.width() - 292 - margins.width()) / 2,
                                       owner.y() + (owner.height() - 121 - margins.height()) / 6));
        // The time row starts selected.
        QVERIFY(dialog->radioTimeToSeek->isChecked());
        QVERIFY(dialog->updownMinute->isEnabled() && dialog->textTime->isEnabled());
        QVERIFY(!dialog->updownTickToSet->isEnabled() && !dialog->textTick->isEnabled());
    }

    void everyCaptionShowsWholeInsideTheFrame()
    {
        // With the window's Japanese face and with the platform's default one; the suite runs
        // this test a second time at QT_SCALE_FACTOR=1.25.
        for (const QString &family : {QString(), QStringLiteral("IPAGothic")}) {
            QWidget owner;
            if (!family.isEmpty())
                owner.setFont(QFont(family, 9));
            TfrmTonelark2Seek dialog(&owner, &m_tempo);
            const QRect inside = dialog.groupBoxSeek->rect().adjusted(2, 0, -2, 0);
            for (QLabel *label : {dialog.labelTimeCoron, dialog.textTime, dialog.textTick}) {
                const int needed = label->fontMetrics().horizontalAdvance(label->text());
                QVERIFY2(needed <= label->contentsRect().width() && inside.contains(label->geometry()),
                         qPrintable(QStringLiteral("%1 %2: %3 px in %4 px at x %5")
                                        .arg(family, label->text()).arg(needed)
                                        .arg(label->width()).arg(label->x())));
            }
            for (QRadioButton *radio : {dialog.radioTimeToSeek, dialog.radioTickToSeek})
                QVERIFY2(radio->sizeHint().width() <= radio->width(), qPrintable(radio->text()));
            QVERIFY(!dialog.updownTickToSet->geometry().intersects(dialog.textTick->geometry()));
        }
    }

    void openingTakesThePositionAndTheTimeRowWins()
    {
        auto dialog = std::make_unique<TfrmTonelark2Seek>(&m_owner, &m_tempo);
        QSignalSpy ticks(dialog->updownTickToSet, &QSpinBox::valueChanged);
        dialog->SetTotalTick(&m_info, &m_status);
        QCOMPARE(dialog->updownMinute->value(), 1);
        QCOMPARE(dialog->updownSecond->value(), 15);
        // The engine's exact tick first, then the minutes (60 s) and seconds (75 s) carry over.
        QList<int> seen;
        for (const QList<QVariant> &args : ticks)
            seen << args.at(0).toInt();
        QCOMPARE(seen, (QList<int>{72384, 57600, 72000}));
        QCOMPARE(dialog->editTickToSeek->text(), QStringLiteral("72000"));
    }

    void rangesAndLengthsComeFromTheSong()
    {
        auto dialog = open(&m_tempo);
        QCOMPARE(dialog->updownTickToSet->maximum(), 288000);
        QCOMPARE(dialog->editTickToSeek->maxLength(), 6);
        QCOMPARE(dialog->editMinute->maxLength(), 3);
        QCOMPARE(dialog->editSecond->maxLength(), 2);
        QCOMPARE(dialog->updownMinute->maximum(), 999);
        // One quarter note per step.
        dialog->radioTickToSeek->setChecked(true);
        dialog->updownTickToSet->setValue(1000);
        dialog->updownTickToSet->stepUp();
        QCOMPARE(dialog->updownTickToSet->value(), 1480);
        // Digits only, and typed text past the range is held to it.
        dialog->radioTimeToSeek->setChecked(true);
        dialog->editSecond->selectAll();
        QTest::keyClicks(dialog->editSecond, QStringLiteral("x75"));
        QVERIFY(dialog->updownSecond->value() <= 59);
        QVERIFY(!dialog->editSecond->text().contains(QLatin1Char('x')));
    }

    void secondsWrapIntoMinutes_data()
    {
        QTest::addColumn<int>("minutes");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("expectedMinutes");
        QTest::addColumn<int>("expectedSeconds");
        QTest::newRow("59 up") << 0 << 59 << 1 << 1 << 0;
        QTest::newRow("0 down") << 2 << 0 << -1 << 1 << 59;
        QTest::newRow("0:00 down") << 0 << 0 << -1 << 0 << 0;
        QTest::newRow("inside") << 3 << 30 << 1 << 3 << 31;
    }
    void secondsWrapIntoMinutes()
    {
        QFETCH(int, minutes);
        QFETCH(int, seconds);
        QFETCH(int, step);
        QFETCH(int, expectedMinutes);
        QFETCH(int, expectedSeconds);
        auto dialog = open(&m_tempo);
        dialog->updownMinute->setValue(minutes);
        dialog->updownSecond->setValue(seconds);
        // As an arrow press: through the key the spin box maps to a step.
        QTest::keyClick(dialog->updownSecond, step > 0 ? Qt::Key_Up : Qt::Key_Down);
        QCOMPARE(dialog->updownMinute->value(), expectedMinutes);
        QCOMPARE(dialog->updownSecond->value(), expectedSeconds);
        // The tick row follows the wrapped time.
        QCOMPARE(dialog->updownTickToSet->value(), (expectedMinutes * 60 + expectedSeconds) * 960);
    }

    void onlyTheSelectedRowCarriesOver()
    {
        auto dialog = open(&m_tempo);
        dialog->editMinute->setText(QStringLiteral("2"));
        QCOMPARE(dialog->updownTickToSet->value(), 135 * 960);
        dialog->updownTickToSet->setValue(960); // the tick row is not selected
        QCOMPARE(dialog->updownMinute->value(), 2);
        QCOMPARE(dialog->updownSecond->value(), 15);

        dialog->radioTickToSeek->setChecked(true);
        dialog->editTickToSeek->setText(QStringLiteral("96000")); // 100 s
        QCOMPARE(dialog->updownMinute->value(), 1);
        QCOMPARE(dialog->updownSecond->value(), 40);
        dialog->updownSecond->setValue(5); // the time row is not selected
        QCOMPARE(dialog->updownTickToSet->value(), 96000);
    }

    void withoutTempoMapTheRowsStayApart()
    {
        auto dialog = open(nullptr);
        QCOMPARE(dialog->updownTickToSet->value(), 72384);
        dialog->editMinute->setText(QStringLiteral("3"));
        QCOMPARE(dialog->updownTickToSet->value(), 72384);
    }

    void currentPositionButtonReadsTheLiveStatus()
    {
        auto dialog = open(&m_tempo);
        dialog->radioTickToSeek->setChecked(true);
        // The monitor refreshed the record while the dialog was open.
        m_status.Tick = 190000;
        m_status.Time = 197950;
        QTest::mouseClick(dialog->buttonGetCurrentPos, Qt::LeftButton);
        QCOMPARE(dialog->updownMinute->value(), 3);
        QCOMPARE(dialog->updownSecond->value(), 17);
        QCOMPARE(dialog->updownTickToSet->value(), 190000);
    }

    void wheelOverTheGroupBox()
    {
        auto dialog = open(&m_tempo);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        wheelAt(dialog->radioTimeToSeek, -120); // towards the user
        QVERIFY(dialog->radioTickToSeek->isChecked());
        QVERIFY(!dialog->updownMinute->isEnabled());
        QVERIFY(dialog->updownTickToSet->isEnabled());
        // The disabled time row is skipped.
        wheelAt(dialog->updownSecond, 120);
        QCOMPARE(dialog->updownSecond->value(), 15);
        // Over the tick row the wheel steps it by one quarter note and focuses the edit.
        const int before = dialog->updownTickToSet->value();
        wheelAt(dialog->editTickToSeek, 120);
        QCOMPARE(dialog->updownTickToSet->value(), before + 480);
        QVERIFY(dialog->updownTickToSet->hasFocus());
        wheelAt(dialog->radioTickToSeek, 120);
        QVERIFY(dialog->radioTimeToSeek->isChecked());
        QVERIFY(!dialog->updownTickToSet->isEnabled());
    }

    void modalResults()
    {
        auto dialog = open(&m_tempo);
        dialog->open();
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        QCOMPARE(dialog->result(), 2);

        dialog->open();
        dialog->updownMinute->setFocus();
        QTest::keyClick(dialog->updownMinute, Qt::Key_Return);
        QCOMPARE(dialog->result(), 1);

        dialog->open();
        dialog->close();
        QCOMPARE(dialog->result(), 2);

        dialog->open();
        QTest::mouseClick(dialog->buttonOk, Qt::LeftButton);
        QCOMPARE(dialog->result(), 1);
    }
};

QTEST_MAIN(SeekDialogTest)
#include "SeekDialogTest.moc"
