#pragma once

#include <QDialog>
#include <QSpinBox>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QWheelEvent;
struct TBrs4PlayerStatus;
struct TBrs4SmfInformation;

namespace tonelark {

class TEdit;
class TSmfEventTempoList;

// An up-down control bound to its edit box: a spin box whose line edit is the program's
// TEdit, showing plain digits. A `changing` hook sees each arrow or wheel step before it is
// taken and may refuse it, so a row can wrap into another (seconds into minutes).
class TUpDown : public QSpinBox {
    Q_OBJECT

public:
    // Sees the value a step would give and its direction (+1 up, -1 down); false refuses it.
    using ChangingHook = std::function<bool(int newValue, int direction)>;

    explicit TUpDown(QWidget *parent = nullptr);

    TEdit *edit() const { return m_edit; }
    // With a hook, both arrows stay usable at the ends of the range so that the hook sees
    // the step beyond them.
    void setChanging(ChangingHook hook) { m_changing = std::move(hook); }

    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;

private:
    TEdit *m_edit;
    ChangingHook m_changing;
};

// "演奏位置の変更": asks for a playing position as minutes and seconds or as a tick. It
// reads the main window's live engine records through the pointers it is given (the
// monitor keeps refreshing them while the dialog is open) and never calls the engine; the
// transport reads the checked row after OK (result 1). Esc and the close box give 2.
class TfrmTonelark2Seek : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 292;
    static constexpr int kClientHeight = 121;

    // FormCreate. `owner` (the main window) gives the font and the placement; `tempoList`
    // is CurrentTempoList (not owned, may be null: the rows then do not follow each other).
    TfrmTonelark2Seek(QWidget *owner, const TSmfEventTempoList *tempoList);
    ~TfrmTonelark2Seek() override;

    // Called after creation and before showing: ranges, lengths and positions from the song.
    void SetTotalTick(const TBrs4SmfInformation *BrsSmfInfo, const TBrs4PlayerStatus *BrsStatus);

    QGroupBox *groupBoxSeek = nullptr;
    QRadioButton *radioTimeToSeek = nullptr;
    TEdit *editMinute = nullptr;
    TUpDown *updownMinute = nullptr;
    QLabel *labelTimeCoron = nullptr;
    TEdit *editSecond = nullptr;
    TUpDown *updownSecond = nullptr;
    QLabel *textTime = nullptr;
    QRadioButton *radioTickToSeek = nullptr;
    TEdit *editTickToSeek = nullptr;
    TUpDown *updownTickToSet = nullptr;
    QLabel *textTick = nullptr;
    QCheckBox *checkUseAcceleration = nullptr;
    QPushButton *buttonGetCurrentPos = nullptr;
    QPushButton *buttonOk = nullptr;
    QPushButton *buttonCancel = nullptr;

public slots:
    void checkUseAccelerationClick();
    void buttonGetCurrentPosClick();
    void radioButtonSeekTypeSelected(QObject *Sender);
    void ValueChanged(QObject *Sender);
    void reject() override;
    // The song the dialog was opened for is being replaced: its tempo map is about to be
    // freed, so the dialog forgets it and ends as cancelled.
    void songWithdrawn();

protected:
    // appEvents: every event of the application passes here while the dialog exists.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // updownSecondChangingEx: a step past 59 or below 0 moves the minutes instead.
    bool updownSecondChangingEx(int NewValue, int Direction);
    // The wheel over the group box; true when it was handled.
    bool appEventsMessage(QObject *receiver, QWheelEvent *event);
    bool hasTempo() const;
    // Widths of the captions from the dialog's font, kept inside the group box.
    void fitCaptions();

    const TSmfEventTempoList *m_tempoList;
    const TBrs4SmfInformation *BrsSmfInfo = nullptr;
    const TBrs4PlayerStatus *BrsStatus = nullptr;
    bool m_forwardingWheel = false;
};

} // namespace tonelark
