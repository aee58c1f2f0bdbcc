#include "uSeek.h"

#include "Brisola.h"
#include "DialogFont.h"
#include "EditCstm.h"
#include "SmfTempo.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <limits>

namespace tonelark {

namespace {
constexpr int kMaxMinutes = 999;
constexpr int kMaxSeconds = 59;
constexpr int kMinuteDigits = 3;
constexpr int kSecondDigits = 2;
constexpr int kModalOk = 1;
constexpr int kModalCancel = 2;
} // namespace

TUpDown::TUpDown(QWidget *parent) : QSpinBox(parent), m_edit(new TEdit(this))
{
    setLineEdit(m_edit);
    // Taking the line edit resets its alignment to the spin box's.
    setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    setGroupSeparatorShown(false);
}

void TUpDown::stepBy(int steps)
{
    if (m_changing && steps != 0) {
        const qint64 next = qint64(value()) + qint64(steps) * singleStep();
        const int newValue = int(std::clamp<qint64>(next, std::numeric_limits<int>::min(),
                                                    std::numeric_limits<int>::max()));
        if (!m_changing(newValue, steps > 0 ? 1 : -1))
            return;
    }
    QSpinBox::stepBy(steps);
}

QAbstractSpinBox::StepEnabled TUpDown::stepEnabled() const
{
    if (m_changing && isEnabled() && !isReadOnly())
        return StepUpEnabled | StepDownEnabled;
    return QSpinBox::stepEnabled();
}

TfrmTonelark2Seek::TfrmTonelark2Seek(QWidget *owner, const TSmfEventTempoList *tempoList)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_tempoList(tempoList)
{
    setObjectName(QStringLiteral("TfrmTonelark2Seek"));
    setWindowTitle(QStringLiteral("演奏位置の変更"));
    setFixedSize(kClientWidth, kClientHeight);

    // 1. The owner's face and height.
    adoptOwnerFace(this, owner);

    groupBoxSeek = new QGroupBox(QStringLiteral(" 時間を直接指定 "), this);
    groupBoxSeek->setObjectName(QStringLiteral("groupBoxSeek"));
    groupBoxSeek->setGeometry(8, 2, 276, 82);

    const auto label = [this](const char *name, const QString &text, const QRect &rect) {
        auto *result = new QLabel(text, groupBoxSeek);
        result->setObjectName(QLatin1String(name));
        result->setGeometry(rect);
        return result;
    };
    const auto upDown = [this](const char *name, const char *editName, int maxLength, const QRect &rect) {
        auto *result = new TUpDown(groupBoxSeek);
        result->setObjectName(QLatin1String(name));
        result->edit()->setObjectName(QLatin1String(editName));
        result->edit()->setMaxLength(maxLength);
        result->setGeometry(rect);
        return result;
    };

    radioTimeToSeek = new QRadioButton(QStringLiteral("時間"), groupBoxSeek);
    radioTimeToSeek->setObjectName(QStringLiteral("radioTimeToSeek"));
    radioTimeToSeek->setGeometry(10, 22, 76, 20);
    updownMinute = upDown("updownMinute", "editMinute", kMinuteDigits, QRect(92, 20, 58, 22));
    updownMinute->setRange(0, kMaxMinutes);
    editMinute = updownMinute->edit();
    labelTimeCoron = label("labelTimeCoron", QStringLiteral("分"), QRect(154, 22, 18, 18));
    updownSecond = upDown("updownSecond", "editSecond", kSecondDigits, QRect(174, 20, 50, 22));
    updownSecond->setRange(0, kMaxSeconds);
    editSecond = updownSecond->edit();
    textTime = label("textTime", QStringLiteral("秒"), QRect(228, 22, 18, 18));

    radioTickToSeek = new QRadioButton(QStringLiteral("ティック"), groupBoxSeek);
    radioTickToSeek->setObjectName(QStringLiteral("radioTickToSeek"));
    radioTickToSeek->setGeometry(10, 52, 80, 20);
    updownTickToSet = upDown("updownTickToSet", "editTickToSeek", 10, QRect(92, 50, 132, 22));
    updownTickToSet->setRange(0, 0);
    editTickToSeek = updownTickToSet->edit();
    textTick = label("textTick", QStringLiteral("ティック"), QRect(228, 52, 46, 18));

    checkUseAcceleration = new QCheckBox(QStringLiteral("数値を加速度的に変化させる(&A)"), groupBoxSeek);
    checkUseAcceleration->setObjectName(QStringLiteral("checkUseAcceleration"));
    checkUseAcceleration->setGeometry(10, 76, 200, 18);
    checkUseAcceleration->setChecked(false);
    checkUseAcceleration->hide();

    buttonGetCurrentPos = new QPushButton(QStringLiteral("現在の演奏位置を取得(&C)"), this);
    buttonGetCurrentPos->setObjectName(QStringLiteral("buttonGetCurrentPos"));
    buttonGetCurrentPos->setGeometry(8, 90, 180, 25);
    buttonGetCurrentPos->setAutoDefault(false);
    buttonOk = new QPushButton(QStringLiteral("&OK"), this);
    buttonOk->setObjectName(QStringLiteral("buttonOk"));
    buttonOk->setGeometry(196, 90, 88, 25);
    buttonOk->setDefault(true);
    // Esc reaches reject() through the dialog itself; the button only carries the name.
    buttonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    buttonCancel->setObjectName(QStringLiteral("buttonCancel"));
    buttonCancel->setGeometry(0, 0, 0, 0);
    buttonCancel->setFocusPolicy(Qt::NoFocus);
    buttonCancel->setAutoDefault(false);

    fitCaptions();

    updownSecond->setChanging([this](int newValue, int direction) {
        return updownSecondChangingEx(newValue, direction);
    });
    connect(checkUseAcceleration, &QCheckBox::clicked, this, &TfrmTonelark2Seek::checkUseAccelerationClick);
    connect(buttonGetCurrentPos, &QPushButton::clicked, this, &TfrmTonelark2Seek::buttonGetCurrentPosClick);
    connect(buttonOk, &QPushButton::clicked, this, [this] { done(kModalOk); });
    connect(buttonCancel, &QPushButton::clicked, this, &TfrmTonelark2Seek::reject);
    // The spin box reports every change of its edit's text, typed or set by a step; the
    // edit itself stays silent while the spin box writes a position into it.
    for (TUpDown *upDown : {updownMinute, updownSecond, updownTickToSet})
        connect(upDown, &QSpinBox::textChanged, this, [this, upDown] { ValueChanged(upDown->edit()); });
    for (QRadioButton *radio : {radioTimeToSeek, radioTickToSeek}) {
        connect(radio, &QRadioButton::toggled, this, [this, radio](bool checked) {
            if (checked)
                radioButtonSeekTypeSelected(radio);
        });
        connect(radio, &QRadioButton::clicked, this, [this, radio] { radioButtonSeekTypeSelected(radio); });
    }

    // 2. Centred across the owner, a sixth of the free height below its top. The frames
    // are the same kind, so the owner's frame margins stand in for the dialog's own.
    if (owner) {
        const QRect ownerFrame = owner->frameGeometry();
        const QSize margins = ownerFrame.size() - owner->size();
        const QSize frame = size() + margins;
        move(ownerFrame.x() + (ownerFrame.width() - frame.width()) / 2,
             ownerFrame.y() + (ownerFrame.height() - frame.height()) / 6);
    }

    // 3.
    radioTimeToSeek->setChecked(true);

    qApp->installEventFilter(this);
}

void TfrmTonelark2Seek::fitCaptions()
{
    // The designed places assume the other platform's font metrics; here a caption could run
    // into the group box's frame ("ティック" did). Each caption gets the width its text needs
    // at the dialog's font, inside the frame; the tick field gives up what its caption needs.
    const int right = groupBoxSeek->width() - 2 * groupBoxSeek->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 2;
    const auto fit = [](QLabel *label) {
        const QFontMetrics metrics(label->font());
        label->resize(metrics.horizontalAdvance(label->text()) + 2,
                      std::max(label->height(), metrics.height()));
    };
    for (QLabel *label : {labelTimeCoron, textTime, textTick})
        fit(label);
    textTick->move(right - textTick->width(), textTick->y());
    updownTickToSet->resize(textTick->x() - 4 - updownTickToSet->x(), updownTickToSet->height());
    if (textTime->geometry().right() > right)
        textTime->move(right - textTime->width(), textTime->y());
    for (QRadioButton *radio : {radioTimeToSeek, radioTickToSeek})
        radio->resize(std::min(std::max(radio->width(), radio->sizeHint().width()), updownMinute->x() - radio->x() - 2),
                      radio->height());
}

TfrmTonelark2Seek::~TfrmTonelark2Seek()
{
    qApp->removeEventFilter(this);
}

bool TfrmTonelark2Seek::hasTempo() const
{
    // The parser never makes an empty map; an empty one would throw inside a slot.
    return m_tempoList && !m_tempoList->isEmpty();
}

void TfrmTonelark2Seek::SetTotalTick(const TBrs4SmfInformation *info, const TBrs4PlayerStatus *status)
{
    BrsSmfInfo = info;
    BrsStatus = status;
    checkUseAccelerationClick();
    for (TEdit *edit : {editMinute, editSecond, editTickToSeek})
        edit->setDigitsOnly(true);
    if (!BrsSmfInfo || !BrsStatus)
        return;
    editTickToSeek->setMaxLength(int(QString::number(BrsSmfInfo->TotalTick).size()));
    updownTickToSet->setRange(0, std::max(BrsSmfInfo->TotalTick, 0));
    updownTickToSet->setValue(BrsStatus->Tick);
    updownMinute->setValue(BrsStatus->Time / 60000);
    updownSecond->setValue(BrsStatus->Time / 1000 % 60);
}

void TfrmTonelark2Seek::checkUseAccelerationClick()
{
    if (!BrsSmfInfo)
        return;
    // One quarter note per step. The platform's acceleration stands in for the faster
    // steps (2, 4 and 8 quarters after 1, 2 and 3 seconds held) of the checked box.
    updownTickToSet->setSingleStep(BrsSmfInfo->TimeBase);
    updownTickToSet->setAccelerated(checkUseAcceleration->isChecked());
}

void TfrmTonelark2Seek::buttonGetCurrentPosClick()
{
    if (!BrsStatus)
        return;
    updownTickToSet->setValue(BrsStatus->Tick);
    updownMinute->setValue(BrsStatus->Time / 60000);
    updownSecond->setValue(BrsStatus->Time / 1000 % 60);
}

bool TfrmTonelark2Seek::updownSecondChangingEx(int NewValue, int /*Direction*/)
{
    if (NewValue >= 60) {
        updownMinute->setValue(updownMinute->value() + 1);
        updownSecond->setValue(NewValue % 60);
        return false;
    }
    if (NewValue <= -1) {
        // At 0 minutes the seconds stay where they are.
        if (updownMinute->value() > 0) {
            updownMinute->setValue(updownMinute->value() - 1);
            updownSecond->setValue((NewValue + 60) % 60);
        }
        return false;
    }
    return true;
}

void TfrmTonelark2Seek::radioButtonSeekTypeSelected(QObject *Sender)
{
    const bool time = Sender == radioTimeToSeek;
    const bool tick = Sender == radioTickToSeek;
    for (QWidget *widget : std::initializer_list<QWidget *>{editMinute, updownMinute, labelTimeCoron,
                                                           editSecond, updownSecond, textTime})
        widget->setEnabled(time);
    for (QWidget *widget : std::initializer_list<QWidget *>{editTickToSeek, updownTickToSet, textTick})
        widget->setEnabled(tick);
}

void TfrmTonelark2Seek::ValueChanged(QObject *Sender)
{
    // Only the selected row's edits carry over, so the two rows never chase each other.
    if (radioTimeToSeek->isChecked() && (Sender == editMinute || Sender == editSecond)) {
        if (hasTempo()) {
            const qint64 seconds = qint64(updownMinute->value()) * 60 + updownSecond->value();
            updownTickToSet->setValue(m_tempoList->TimeToTick(seconds, tuSeconds));
        }
    } else if (radioTickToSeek->isChecked() && Sender == editTickToSeek && hasTempo()) {
        const qint32 seconds = m_tempoList->TickToSecond(updownTickToSet->value(), tuSeconds);
        updownMinute->setValue(seconds / 60);
        updownSecond->setValue(seconds % 60);
    }
}

void TfrmTonelark2Seek::reject()
{
    done(kModalCancel);
}

void TfrmTonelark2Seek::songWithdrawn()
{
    m_tempoList = nullptr;
    reject();
}

bool TfrmTonelark2Seek::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Wheel || m_forwardingWheel)
        return false;
    // Other windows are blocked while the dialog is modal; only its own wheel counts.
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || (widget != this && !isAncestorOf(widget)))
        return false;
    return appEventsMessage(widget, static_cast<QWheelEvent *>(event));
}

bool TfrmTonelark2Seek::appEventsMessage(QObject *receiver, QWheelEvent *event)
{
    const QPoint position = groupBoxSeek->mapFromGlobal(event->globalPosition().toPoint());
    QWidget *child = nullptr;
    const QObjectList children = groupBoxSeek->children();
    for (auto it = children.crbegin(); it != children.crend() && !child; ++it) {
        auto *widget = qobject_cast<QWidget *>(*it);
        if (widget && widget->isVisible() && widget->isEnabled() && widget->geometry().contains(position))
            child = widget;
    }
    if (!child)
        return false;

    if (auto *upDown = qobject_cast<TUpDown *>(child)) {
        // Edit and up-down are one spin box here: focus it and let the wheel step it once
        // per notch, up when the wheel turns away from the user.
        if (upDown->focusPolicy() != Qt::NoFocus)
            upDown->setFocus(Qt::MouseFocusReason);
        // The wheel usually lands on the edit inside; hand it to the spin box itself.
        if (receiver == upDown)
            return false;
        QWheelEvent forwarded(upDown->mapFromGlobal(event->globalPosition()), event->globalPosition(),
                              event->pixelDelta(), event->angleDelta(), event->buttons(),
                              event->modifiers(), event->phase(), event->inverted(), event->source());
        m_forwardingWheel = true;
        QApplication::sendEvent(upDown, &forwarded);
        m_forwardingWheel = false;
        return true;
    }
    if (qobject_cast<QRadioButton *>(child)) {
        QRadioButton *target = event->angleDelta().y() > 0 ? radioTimeToSeek : radioTickToSeek;
        target->setChecked(true);
        if (target->focusPolicy() != Qt::NoFocus)
            target->setFocus(Qt::MouseFocusReason);
        return true;
    }
    return false;
}

} // namespace tonelark
