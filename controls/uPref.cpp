#include "uPref.h"

#include "DialogFont.h"
#include "EditCstm.h"
#include "Gauges.h"
#include "HotKeyValue.h"
#include "PrefRules.h"
#include "uSeek.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QCursor>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>

namespace tonelark {

namespace {

constexpr int kMaxSecondsToSkip = 60;
constexpr int kDescHeight = 45;
// The colour dialog has sixteen custom colours; unset ones are white, as they start.
constexpr int kCustomColorCount = 16;

void setHint(QWidget *widget, const QString &hint)
{
    widget->setStatusTip(hint);
}

QCheckBox *checkBox(QWidget *parent, const char *name, const QString &caption, const QString &hint)
{
    auto *box = new QCheckBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    setHint(box, hint);
    return box;
}

QPushButton *pushButton(QWidget *parent, const char *name, const QString &caption, const QString &hint)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    setHint(button, hint);
    return button;
}

QWidget *page(QTabWidget *pages, const char *name, const QString &caption, const QString &hint)
{
    auto *result = new QWidget;
    result->setObjectName(QLatin1String(name));
    setHint(result, hint);
    pages->addTab(result, caption);
    return result;
}

} // namespace

TRadioGroup::TRadioGroup(const QString &caption, const QStringList &items, int columns, QWidget *parent)
    : QGroupBox(caption, parent)
{
    auto *grid = new QGridLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(items.at(i), this);
        button->setObjectName(objectName() + QString::number(i));
        grid->addWidget(button, i / columns, i % columns);
        m_buttons << button;
    }
}

int TRadioGroup::itemIndex() const
{
    for (int i = 0; i < m_buttons.size(); ++i) {
        if (m_buttons.at(i)->isChecked())
            return i;
    }
    return -1;
}

void TRadioGroup::setItemIndex(int index)
{
    if (m_buttons.isEmpty())
        return;
    if (index < 0) {
        // Exclusive buttons refuse to be unchecked one by one.
        for (QRadioButton *button : m_buttons) {
            button->setAutoExclusive(false);
            button->setChecked(false);
            button->setAutoExclusive(true);
        }
        return;
    }
    m_buttons.at(std::min(index, int(m_buttons.size()) - 1))->setChecked(true);
}

TColorSwatch::TColorSwatch(QWidget *parent) : QWidget(parent)
{
    setFixedSize(13, 25);
}

void TColorSwatch::setColor(TColor color)
{
    m_color = color;
    update();
}

void TColorSwatch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(colorFromTColor(m_color, palette()));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TColorSwatch::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

THotKey::THotKey(QWidget *parent) : QKeySequenceEdit(parent)
{
    connect(this, &QKeySequenceEdit::keySequenceChanged, this, &THotKey::sequenceChanged);
}

void THotKey::setShortcutValue(quint16 value)
{
    m_value = value;
    const QKeyCombination combination = keyCombinationFromShortcut(value);
    m_updating = true;
    setKeySequence(combination.key() == Qt::Key_unknown ? QKeySequence() : QKeySequence(combination));
    m_updating = false;
}

void THotKey::sequenceChanged(const QKeySequence &sequence)
{
    // Only the clear button empties the edit from outside: presses never reach the base
    // class's recording.
    if (!m_updating && sequence.isEmpty())
        m_value = 0;
}

void THotKey::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt || key == Qt::Key_Meta ||
        key == Qt::Key_Super_L || key == Qt::Key_Super_R || key == Qt::Key_AltGr || key == 0 ||
        key == Qt::Key_unknown) {
        event->accept();
        return;
    }
    // Plain Tab still moves the focus, as in any other control of the dialog.
    if ((key == Qt::Key_Tab || key == Qt::Key_Backtab) && !(modifiers & ~Qt::ShiftModifier)) {
        focusNextPrevChild(key == Qt::Key_Tab);
        return;
    }
    const bool super = modifiers.testFlag(Qt::MetaModifier);
    const Qt::KeyboardModifiers kept = modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier |
                                                   Qt::KeypadModifier);
    const std::optional<quint16> value = shortcutFromKeyCombination(QKeyCombination(kept, Qt::Key(key)));
    // One combination, shown alone; a key no hot key can use leaves the previous one.
    if (value && *value != 0) {
        setShortcutValue(*value);
        if (super)
            emit superKeyUsed();
    }
    event->accept();
}

void THotKey::keyReleaseEvent(QKeyEvent *event)
{
    event->accept();
}

QList<QRgb> &TfrmTonelark2Pref::CustomColorList()
{
    static QList<QRgb> colors(kCustomColorCount, qRgb(255, 255, 255));
    return colors;
}

TfrmTonelark2Pref::TfrmTonelark2Pref(QWidget *owner, const QStringList &midiOutPorts,
                                     std::function<QString()> versionText)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_versionText(std::move(versionText))
{
    setObjectName(QStringLiteral("TfrmTonelark2Pref"));
    setWindowTitle(QStringLiteral("設定"));
    // 1.
    adoptOwnerFace(this, owner);

    panelDesc = new QFrame(this);
    panelDesc->setObjectName(QStringLiteral("panelDesc"));
    panelDesc->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panelDesc->setLineWidth(2);
    panelDesc->setFixedHeight(kDescHeight);
    setHint(panelDesc, QStringLiteral("マウスカーソルを合わせた項目の説明がここに表示されます。"));
    labelDesc = new QLabel(panelDesc);
    labelDesc->setObjectName(QStringLiteral("labelDesc"));
    labelDesc->setWordWrap(true);
    labelDesc->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    labelDesc->setTextFormat(Qt::PlainText);
    auto *descLayout = new QVBoxLayout(panelDesc);
    descLayout->setContentsMargins(6, 2, 6, 2);
    descLayout->addWidget(labelDesc);

    pageCtrl = new QTabWidget(this);
    pageCtrl->setObjectName(QStringLiteral("pageCtrl"));
    pageCtrl->setUsesScrollButtons(false);

    buttonOk = pushButton(this, "buttonOk", QStringLiteral("&OK"),
                          QStringLiteral("設定を保存します。変更を保存しない場合は、右上の×で閉じてください。"));
    buttonOk->setDefault(true);
    buttonOk->setAutoDefault(true);
    // Esc reaches reject() through the dialog itself; the button only carries the name.
    buttonCancel = pushButton(this, "buttonCancel", QStringLiteral("キャンセル"), QString());
    buttonCancel->setFixedSize(0, 0);
    buttonCancel->setFocusPolicy(Qt::NoFocus);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(buttonCancel);
    buttons->addWidget(buttonOk);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 6);
    layout->setSpacing(4);
    layout->addWidget(panelDesc);
    layout->addWidget(pageCtrl, 1);
    layout->addLayout(buttons);

    buildBrsOptions();
    buildSystem();
    buildProgress();
    buildLyric();
    buildOthers();
    buildVersion();

    // 2. The built-in synthesizer first, then the engine's ports; each entry carries its id.
    comboMidiOutDevs->addItem(QStringLiteral("内蔵シンセサイザー (FluidSynth)"), kBuiltInSynthDeviceId);
    for (int k = 0; k < midiOutPorts.size(); ++k)
        comboMidiOutDevs->addItem(midiOutPorts.at(k), k);
    // 4.
    gaugePreview->setMedValue(33);
    // 5.
    const auto &presets = GaugeColorPresets();
    for (int i = 0; i < int(presets.size()); ++i) {
        QAction *item = popupMenuProgress->addAction(presets[i].caption);
        item->setObjectName(QStringLiteral("pmiColorPreset%1").arg(i));
        item->setStatusTip(presets[i].hint);
        item->setData(i);
        connect(item, &QAction::triggered, this, [this, item] { ColorSettingsSelected(item); });
    }
    // A menu item under the mouse is explained like a control.
    connect(popupMenuProgress, &QMenu::hovered, this, [this](QAction *item) { applicationHintChanged(item->statusTip()); });
    // 6.
    pageCtrl->setCurrentIndex(0);

    connect(buttonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(pageCtrl, &QTabWidget::currentChanged, this, &TfrmTonelark2Pref::pageCtrlChange);
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) { focusChanged(now); });
    qApp->installEventFilter(this);

    // The designed client size, larger only where this desktop's font needs more room.
    const QSize needed = sizeHint();
    setFixedSize(std::max(kClientWidth, needed.width()), std::max(kClientHeight, needed.height()));
    if (owner) {
        const QRect ownerFrame = owner->frameGeometry();
        const QSize margins = ownerFrame.size() - owner->size();
        const QSize frame = size() + margins;
        move(ownerFrame.x() + (ownerFrame.width() - frame.width()) / 2,
             ownerFrame.y() + (ownerFrame.height() - frame.height()) / 2);
    }
}

TfrmTonelark2Pref::~TfrmTonelark2Pref()
{
    qApp->removeEventFilter(this);
}

void TfrmTonelark2Pref::buildBrsOptions()
{
    tabBrsOptions = page(pageCtrl, "tabBrsOptions", QStringLiteral("音源"), QStringLiteral("演奏に関する設定を行います。"));
    comboMidiOutDevs = new QComboBox(tabBrsOptions);
    comboMidiOutDevs->setObjectName(QStringLiteral("comboMidiOutDevs"));
    comboMidiOutDevs->setMaxVisibleItems(10);
    setHint(comboMidiOutDevs, QStringLiteral("演奏に使用するMIDI音源を選択します。"));

    const QString soundFontHint = QStringLiteral(
        "内蔵シンセサイザーが使う SoundFont (.sf2 / .sf3) を選びます。\\n空欄ならシステムの General MIDI SoundFont を使います。");
    labelSoundFont = new QLabel(QStringLiteral("SoundFont:"), tabBrsOptions);
    labelSoundFont->setObjectName(QStringLiteral("labelSoundFont"));
    editSoundFont = new QLineEdit(tabBrsOptions);
    editSoundFont->setObjectName(QStringLiteral("editSoundFont"));
    editSoundFont->setPlaceholderText(QStringLiteral("システムの General MIDI SoundFont"));
    editSoundFont->setClearButtonEnabled(true);
    setHint(editSoundFont, soundFontHint);
    labelSoundFont->setBuddy(editSoundFont);
    buttonSoundFont = pushButton(tabBrsOptions, "buttonSoundFont", QStringLiteral("参照(&B)..."), soundFontHint);
    connect(buttonSoundFont, &QPushButton::clicked, this, &TfrmTonelark2Pref::buttonSoundFontClick);

    panelRadioGroupSettings = new QWidget(tabBrsOptions);
    panelRadioGroupSettings->setObjectName(QStringLiteral("panelRadioGroupSettings"));
    radioSettingsManual = new QRadioButton(QStringLiteral("演奏時の設定を手動で行う(&M)"), panelRadioGroupSettings);
    radioSettingsManual->setObjectName(QStringLiteral("radioSettingsManual"));
    setHint(radioSettingsManual, QStringLiteral("Brisola の演奏オプションを手動で行います。"));
    checkBrsNormalize = checkBox(panelRadioGroupSettings, "checkBrsNormalize",
                                 QStringLiteral("ボリューム バランスを自動的に調整(&N)"),
                                 QStringLiteral("BRSPLAY_NORMALIZE オプションを有効にします。\\n音量が小さすぎる場合に試してみてください。"));
    checkDisableLoop = checkBox(panelRadioGroupSettings, "checkDisableLoop", QStringLiteral("繰り返しを行わない(&D)"),
                                QStringLiteral("曲の終わりまで演奏したら停止状態にします。"));
    checkSkipFirstBlank = checkBox(panelRadioGroupSettings, "checkSkipFirstBlank", QStringLiteral("冒頭の空白を省略(&S)"),
                                   QStringLiteral("曲の始まりの空白部分を飛ばし、すぐ演奏できるようにします。"));
    checkIgnoreSysEx = checkBox(panelRadioGroupSettings, "checkIgnoreSysEx",
                                QStringLiteral("エクスクルーシブ メッセージを送信しない(&X)"),
                                QStringLiteral("MIDIデータのシステム エクスクルーシブを音源に送信しません。"));
    radioSettingsWolf = new QRadioButton(QStringLiteral("WOLF RPG エディター モード(&W)"), panelRadioGroupSettings);
    radioSettingsWolf->setObjectName(QStringLiteral("radioSettingsWolf"));
    setHint(radioSettingsWolf,
            QStringLiteral("演奏オプションにWOLF RPG エディター（ウディタ）と同等のものを適用します。"));

    auto *options = new QVBoxLayout(panelRadioGroupSettings);
    options->setContentsMargins(0, 0, 0, 0);
    options->setSpacing(1);
    options->addWidget(radioSettingsManual);
    for (QCheckBox *box : {checkBrsNormalize, checkDisableLoop, checkSkipFirstBlank, checkIgnoreSysEx}) {
        box->setContentsMargins(18, 0, 0, 0);
        options->addWidget(box);
    }
    options->addWidget(radioSettingsWolf);
    for (QRadioButton *radio : {radioSettingsManual, radioSettingsWolf}) {
        connect(radio, &QRadioButton::toggled, this, [this, radio](bool checked) {
            if (checked)
                radioSettingsSelected(radio);
        });
    }

    auto *soundFont = new QHBoxLayout;
    soundFont->addWidget(labelSoundFont);
    soundFont->addWidget(editSoundFont, 1);
    soundFont->addWidget(buttonSoundFont);
    auto *layout = new QVBoxLayout(tabBrsOptions);
    layout->addWidget(comboMidiOutDevs);
    layout->addLayout(soundFont);
    layout->addWidget(panelRadioGroupSettings);
    layout->addStretch();
}

void TfrmTonelark2Pref::buildSystem()
{
    tabSystem = page(pageCtrl, "tabSystem", QStringLiteral("ウィンドウ"), QStringLiteral("ウィンドウ関連の設定を行います。"));
    checkRestoreWindowPos = checkBox(tabSystem, "checkRestoreWindowPos", QStringLiteral("起動時に前回の表示位置を復元(&R)"),
                                     QStringLiteral("前回終了した時のウィンドウ位置を復元します。"));
    checkUseClassicDialogForFile = checkBox(
        tabSystem, "checkUseClassicDialogForFile", QStringLiteral("XP以前のファイル選択ダイアログを使用(&X)"),
        QStringLiteral("Windows Vista / 7 以降の環境でファイルを開く時のダイアログをXP以前の旧来表示に戻します。"));
    groupHotKey = new QGroupBox(QStringLiteral(" ホットキー(&H) "), tabSystem);
    groupHotKey->setObjectName(QStringLiteral("groupHotKey"));
    setHint(groupHotKey, QStringLiteral("ウィンドウを呼び出すためのホットキーと挙動を設定します。"));
    hotKey = new THotKey(groupHotKey);
    hotKey->setObjectName(QStringLiteral("hotKey"));
    hotKey->setClearButtonEnabled(true);
    setHint(hotKey, QStringLiteral("割り当てるホットキーを入力します。システムで既に使われているキーと重複しないようにしてください。"));
    checkCombinationWithWinKey = checkBox(
        groupHotKey, "checkCombinationWithWinKey", QStringLiteral(" Win キーを使う(&W)"),
        QStringLiteral("ホットキーの呼び出しに、上の項目で設定したキーに加え Windows キーも組み合わせるようにします。"));
    checkHideIfWindowIsActive = checkBox(groupHotKey, "checkHideIfWindowIsActive",
                                         QStringLiteral("非表示はアクティブ時のみ行う(&A)"),
                                         QStringLiteral("ウィンドウがアクティブでなければ、非表示ではなくアクティブ化を行います。"));
    connect(hotKey, &THotKey::superKeyUsed, checkCombinationWithWinKey, [this] { checkCombinationWithWinKey->setChecked(true); });
    auto *group = new QVBoxLayout(groupHotKey);
    group->addWidget(hotKey);
    group->addWidget(checkCombinationWithWinKey);
    group->addWidget(checkHideIfWindowIsActive);

    // Designed but never shown and without effect.
    buttonChangeFont = pushButton(tabSystem, "buttonChangeFont", QStringLiteral("フォントの変更(&F)"), QString());
    buttonChangeFont->hide();
    panelFontPreview = new QLabel(QStringLiteral("ウソのようなフォントの話"), tabSystem);
    panelFontPreview->setObjectName(QStringLiteral("panelFontPreview"));
    panelFontPreview->hide();

    auto *layout = new QVBoxLayout(tabSystem);
    layout->addWidget(checkRestoreWindowPos);
    layout->addWidget(checkUseClassicDialogForFile);
    layout->addWidget(groupHotKey);
    layout->addStretch();
}

void TfrmTonelark2Pref::buildProgress()
{
    tabProgress = page(pageCtrl, "tabProgress", QStringLiteral("シークバー"),
                       QStringLiteral("シークバーの色設定を行います。初期化は右クリックメニューから行えます。"));
    popupMenuProgress = new QMenu(this);
    popupMenuProgress->setObjectName(QStringLiteral("popupMenuProgress"));
    tabProgress->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tabProgress, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { popupMenuProgress->exec(tabProgress->mapToGlobal(pos)); });

    auto *grid = new QGridLayout;
    const auto colorRow = [&](int row, const char *swatchName, TColorSwatch *&swatch, const QString &swatchHint,
                              const char *buttonName, QPushButton *&button, const QString &caption,
                              const QString &buttonHint, void (TfrmTonelark2Pref::*handler)()) {
        swatch = new TColorSwatch(tabProgress);
        swatch->setObjectName(QLatin1String(swatchName));
        setHint(swatch, swatchHint);
        button = pushButton(tabProgress, buttonName, caption, buttonHint);
        connect(button, &QPushButton::clicked, this, handler);
        connect(swatch, &TColorSwatch::clicked, this, handler);
        grid->addWidget(swatch, row, 0);
        grid->addWidget(button, row, 1);
    };
    colorRow(0, "imageGaugeFrameColor", imageGaugeFrameColor, QStringLiteral("枠やループポイントの描画に使われる線の色です。"),
             "buttonGaugeFrameColor", buttonGaugeFrameColor, QStringLiteral("線の色(&F)"),
             QStringLiteral("線の色を変更します。"), &TfrmTonelark2Pref::buttonGaugeFrameColorClick);
    colorRow(1, "imageGaugeForeColor", imageGaugeForeColor, QStringLiteral("演奏位置の色です。"), "buttonGaugeForeColor",
             buttonGaugeForeColor, QStringLiteral("演奏位置の色(&C)"), QStringLiteral("演奏位置の色を変更します。"),
             &TfrmTonelark2Pref::buttonGaugeForeColorClick);
    colorRow(2, "imageGaugeBackColor", imageGaugeBackColor, QStringLiteral("残り時間の色です。"), "buttonGaugeBackColor",
             buttonGaugeBackColor, QStringLiteral("残り時間の色(&L)"), QStringLiteral("残り時間の色を変更します。"),
             &TfrmTonelark2Pref::buttonGaugeBackColorClick);
    grid->setColumnStretch(2, 1);

    labelGaugePreview = new QLabel(QStringLiteral("プレビュー"), tabProgress);
    labelGaugePreview->setObjectName(QStringLiteral("labelGaugePreview"));
    gaugePreview = new TGauge(tabProgress);
    gaugePreview->setObjectName(QStringLiteral("gaugePreview"));
    gaugePreview->setShowText(false);
    gaugePreview->setMaxValue(100);
    gaugePreview->setProgress(25);
    gaugePreview->setFixedHeight(13);
    setHint(gaugePreview, QStringLiteral("シークバーのプレビューです。"));
    checkUseTickUnitForPlayback = checkBox(
        tabProgress, "checkUseTickUnitForPlayback", QStringLiteral("演奏位置をティック単位で描画(&T)"),
        QStringLiteral("演奏位置の描画を初期バージョンと同じにします。途中でテンポが変化するデータではシークバーの進行速度に影響します。"));

    auto *layout = new QVBoxLayout(tabProgress);
    layout->addLayout(grid);
    layout->addWidget(labelGaugePreview);
    layout->addWidget(gaugePreview);
    layout->addWidget(checkUseTickUnitForPlayback);
    layout->addStretch();
}

void TfrmTonelark2Pref::buildLyric()
{
    tabLyric = page(pageCtrl, "tabLyric", QStringLiteral("歌詞"),
                    QStringLiteral("MIDIデータに含まれる歌詞に関する設定を行います。"));
    checkAutoLyricTab = checkBox(tabLyric, "checkAutoLyricTab", QStringLiteral("歌詞タブに自動で切り替える(&A)"),
                                 QStringLiteral("メタイベントの一種である歌詞データが見つかった場合、歌詞タブに自動で切り替えます。"));
    checkTrimAnySpace = checkBox(tabLyric, "checkTrimAnySpace", QStringLiteral("先頭/末尾の空白を除去する(&T)"),
                                 QStringLiteral("半角/全角スペースとタブ文字を除去します。次回のMIDIデータ読み込みから有効になります。"));
    checkNoEmptyLines = checkBox(tabLyric, "checkNoEmptyLines", QStringLiteral("空白の行は追加しない(&E)"),
                                 QStringLiteral("文字列が空の行を削除します。次回のMIDIデータ読み込みから有効になります。"));
    labelLyricLineMode = new QLabel(QStringLiteral("歌詞の行(&L)"), tabLyric);
    labelLyricLineMode->setObjectName(QStringLiteral("labelLyricLineMode"));
    comboLyricLineMode = new QComboBox(tabLyric);
    comboLyricLineMode->setObjectName(QStringLiteral("comboLyricLineMode"));
    comboLyricLineMode->addItems(
        {QStringLiteral("自動"), QStringLiteral("常に行にまとめる"), QStringLiteral("歌詞イベントごと")});
    labelLyricLineMode->setBuddy(comboLyricLineMode);
    const QString lineModeHint = QStringLiteral(
        "歌詞を行にまとめる方法です。自動: カラオケの区切り記号がある曲、.kar と XF の曲は一行ずつにまとめ、"
        "そのほかの曲は歌詞イベントごとに表示します。常に行にまとめる: 一音ずつの歌詞も間の長さで行にまとめます。"
        "次回のMIDIデータ読み込みから有効になります。");
    setHint(labelLyricLineMode, lineModeHint);
    setHint(comboLyricLineMode, lineModeHint);
    rgLyricRangeToApplyColor = new TRadioGroup(
        QStringLiteral(" 強調表示の範囲(&C) "),
        {QStringLiteral("現在位置の歌詞のみ"), QStringLiteral("現在位置と演奏済みの歌詞"), QStringLiteral("強調を行わない")}, 1,
        tabLyric);
    rgLyricRangeToApplyColor->setObjectName(QStringLiteral("rgLyricRangeToApplyColor"));
    setHint(rgLyricRangeToApplyColor, QStringLiteral("歌詞を強調表示する範囲を指定します。"));

    auto *colors = new QGridLayout;
    const auto colorRow = [&](int row, const char *swatchName, TColorSwatch *&swatch, const QString &swatchHint,
                              const char *buttonName, QPushButton *&button, const QString &caption,
                              const QString &buttonHint, void (TfrmTonelark2Pref::*handler)()) {
        swatch = new TColorSwatch(tabLyric);
        swatch->setObjectName(QLatin1String(swatchName));
        setHint(swatch, swatchHint);
        button = pushButton(tabLyric, buttonName, caption, buttonHint);
        connect(button, &QPushButton::clicked, this, handler);
        connect(swatch, &TColorSwatch::clicked, this, handler);
        colors->addWidget(swatch, row, 0);
        colors->addWidget(button, row, 1);
    };
    colorRow(0, "imageLyricBackColor", imageLyricBackColor, QStringLiteral("歌詞の強調時に適用する背景色です。"),
             "buttonLyricBackColor", buttonLyricBackColor, QStringLiteral("強調背景色(&B)"),
             QStringLiteral("歌詞の強調時に適用する背景色を変更します。"), &TfrmTonelark2Pref::buttonLyricBackColorClick);
    colorRow(1, "imageLyricTextColor", imageLyricTextColor, QStringLiteral("歌詞の強調時に適用する文字色です。"),
             "buttonLyricTextColor", buttonLyricTextColor, QStringLiteral("強調文字色(&F)"),
             QStringLiteral("歌詞の強調時に適用する文字色を変更します。"), &TfrmTonelark2Pref::buttonLyricTextColorClick);

    gbLyricFontOptions = new QGroupBox(QStringLiteral(" 強調時の装飾(&D) "), tabLyric);
    gbLyricFontOptions->setObjectName(QStringLiteral("gbLyricFontOptions"));
    setHint(gbLyricFontOptions, QStringLiteral("強調表示時に行う装飾です。"));
    checkLyricFontBold = checkBox(gbLyricFontOptions, "checkLyricFontBold", QStringLiteral("太字(&W)"),
                                  QStringLiteral("太字を適用します。"));
    checkLyricFontItalic = checkBox(gbLyricFontOptions, "checkLyricFontItalic", QStringLiteral("斜体(&I)"),
                                    QStringLiteral("斜体を適用します。"));
    auto *font = new QHBoxLayout(gbLyricFontOptions);
    font->addWidget(checkLyricFontBold);
    font->addWidget(checkLyricFontItalic);
    colors->addWidget(gbLyricFontOptions, 2, 0, 1, 2);

    auto *lower = new QHBoxLayout;
    lower->addWidget(rgLyricRangeToApplyColor, 1);
    lower->addLayout(colors);
    auto *layout = new QVBoxLayout(tabLyric);
    layout->setSpacing(2);
    layout->addWidget(checkAutoLyricTab);
    layout->addWidget(checkTrimAnySpace);
    layout->addWidget(checkNoEmptyLines);
    auto *lineMode = new QHBoxLayout;
    lineMode->addWidget(labelLyricLineMode);
    lineMode->addWidget(comboLyricLineMode);
    lineMode->addStretch();
    layout->addLayout(lineMode);
    layout->addLayout(lower);
    layout->addStretch();
}

void TfrmTonelark2Pref::buildOthers()
{
    tabOthers = page(pageCtrl, "tabOthers", QStringLiteral("その他"), QString());
    rgInfoBoxStyle = new TRadioGroup(QStringLiteral(" 作者/曲名の枠表示(&B) "),
                                     {QStringLiteral("標準"), QStringLiteral("シンプル"), QStringLiteral("なし")}, 3, tabOthers);
    rgInfoBoxStyle->setObjectName(QStringLiteral("rgInfoBoxStyle"));
    setHint(rgInfoBoxStyle, QStringLiteral("作者/曲名の枠をどのように表示するかを設定します。"));
    rgSeparator = new TRadioGroup(QStringLiteral(" 区切り線(&S) "), {QStringLiteral(" - "), QStringLiteral(" / ")}, 2, tabOthers);
    rgSeparator->setObjectName(QStringLiteral("rgSeparator"));
    setHint(rgSeparator, QStringLiteral("作者/曲名を同時にコピーする時の区切り線を指定します。"));
    checkUseSystemContextMenu = checkBox(
        tabOthers, "checkUseSystemContextMenu", QStringLiteral("テキストボックスで従来の右クリックメニューを表示する(&C)"),
        QStringLiteral("テキストボックスの右クリックメニューを Windows 標準のものに戻します。"));
    gbTimeSkipping = new QGroupBox(QStringLiteral(" 早戻し/早送り(&R) "), tabOthers);
    gbTimeSkipping->setObjectName(QStringLiteral("gbTimeSkipping"));
    setHint(gbTimeSkipping, QStringLiteral("マウスホイール (Alt + ←/→) で戻る/進む時間を設定します。\\nこの値を 0 にすると機能を無効化します。"));
    labelTimeSkipping = new QLabel(QStringLiteral("一度に戻る/進む時間:"), gbTimeSkipping);
    labelTimeSkipping->setObjectName(QStringLiteral("labelTimeSkipping"));
    updownSecondsToSkip = new TUpDown(gbTimeSkipping);
    updownSecondsToSkip->setObjectName(QStringLiteral("updownSecondsToSkip"));
    updownSecondsToSkip->setRange(0, kMaxSecondsToSkip);
    editSecondsToSkip = updownSecondsToSkip->edit();
    editSecondsToSkip->setObjectName(QStringLiteral("editSecondsToSkip"));
    editSecondsToSkip->setMaxLength(2);
    labelTimeSkippingSec = new QLabel(QStringLiteral("秒"), gbTimeSkipping);
    labelTimeSkippingSec->setObjectName(QStringLiteral("labelTimeSkippingSec"));
    auto *skip = new QHBoxLayout(gbTimeSkipping);
    skip->addWidget(labelTimeSkipping);
    skip->addWidget(updownSecondsToSkip);
    skip->addWidget(labelTimeSkippingSec);
    skip->addStretch();

    auto *layout = new QVBoxLayout(tabOthers);
    layout->setSpacing(2);
    layout->addWidget(rgInfoBoxStyle);
    layout->addWidget(rgSeparator);
    layout->addWidget(checkUseSystemContextMenu);
    layout->addWidget(gbTimeSkipping);
    layout->addStretch();
}

void TfrmTonelark2Pref::buildVersion()
{
    tabVersion = page(pageCtrl, "tabVersion", QStringLiteral("バージョン"), QStringLiteral("バージョン情報を表示します。"));
    panelVersion = new QWidget(tabVersion);
    panelVersion->setObjectName(QStringLiteral("panelVersion"));
    imgAppIcon = new QLabel(panelVersion);
    imgAppIcon->setObjectName(QStringLiteral("imgAppIcon"));
    imgAppIcon->setFixedSize(32, 32);
    const QIcon icon = parentWidget() ? parentWidget()->windowIcon() : QApplication::windowIcon();
    imgAppIcon->setPixmap(icon.pixmap(32, 32));
    labelVersion = new QLabel(panelVersion);
    labelVersion->setObjectName(QStringLiteral("labelVersion"));
    labelVersion->setAlignment(Qt::AlignCenter);
    labelVersion->setWordWrap(true);
    labelVersion->setTextFormat(Qt::PlainText);
    labelVersion->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *panel = new QHBoxLayout(panelVersion);
    panel->addWidget(imgAppIcon, 0, Qt::AlignTop);
    panel->addWidget(labelVersion, 1);

    // Kept hidden and disabled, but still filled from and saved to ReloadWhenModified.
    checkReloadWhenModified = checkBox(tabVersion, "checkReloadWhenModified",
                                       QStringLiteral("演奏中のファイルの変更を監視する(&R)"),
                                       QStringLiteral("演奏中のファイルに変更が加えられたとき、内容を再読み込みします。"));
    checkReloadWhenModified->setEnabled(false);
    checkReloadWhenModified->hide();
    buttonVisitMyWeb = pushButton(tabVersion, "buttonVisitMyWeb", QStringLiteral("Web サイトを開く"), QString());
    buttonVisitMyWeb->setEnabled(false);
    buttonVisitMyWeb->hide();

    auto *layout = new QVBoxLayout(tabVersion);
    layout->addWidget(panelVersion, 1);
}

void TfrmTonelark2Pref::fill(const Settings &s)
{
    // 1. Found by id; an id that matches no entry (a port that has gone away) selects none.
    comboMidiOutDevs->setCurrentIndex(comboMidiOutDevs->findData(s.MidiOutDeviceId));
    editSoundFont->setText(s.SoundFont);
    // 2.
    checkBrsNormalize->setChecked(s.BrsNormalizeOption);
    checkDisableLoop->setChecked(s.DisableLoop);
    checkSkipFirstBlank->setChecked(s.SkipFirstBlank);
    checkReloadWhenModified->setChecked(s.ReloadWhenModified);
    checkRestoreWindowPos->setChecked(s.RestoreWindowPos);
    checkHideIfWindowIsActive->setChecked(s.HideIfWindowIsActive);
    checkIgnoreSysEx->setChecked(s.IgnoreSysEx);
    checkCombinationWithWinKey->setChecked(s.CombinationWithWinKey);
    checkUseClassicDialogForFile->setChecked(s.UseClassicDialogForFile);
    checkAutoLyricTab->setChecked(s.Lyric.AutoLyricTab);
    checkTrimAnySpace->setChecked(s.Lyric.TrimAnySpace);
    checkNoEmptyLines->setChecked(s.Lyric.NoEmptyLines);
    checkLyricFontBold->setChecked(s.Lyric.FontBold);
    checkLyricFontItalic->setChecked(s.Lyric.FontItalic);
    checkUseSystemContextMenu->setChecked(s.UseSystemContextMenu);
    hotKey->setShortcutValue(s.HotKey);
    checkUseTickUnitForPlayback->setChecked(s.PlaybackBaseMode == 0);
    // 3. Checking a mode button runs radioSettingsSelected; any other value checks neither.
    if (s.SettingMode == 0)
        radioSettingsManual->setChecked(true);
    else if (s.SettingMode == 1)
        radioSettingsWolf->setChecked(true);
    // 4.
    rgInfoBoxStyle->setItemIndex(s.InfoBoxStyle);
    rgLyricRangeToApplyColor->setItemIndex(s.Lyric.ApplyColor);
    comboLyricLineMode->setCurrentIndex(s.Lyric.LineMode >= 0 && s.Lyric.LineMode <= 2 ? s.Lyric.LineMode : 0);
    rgSeparator->setItemIndex(s.SeparatorType);
    updownSecondsToSkip->setValue(s.SecondsToSkip);
    // 5.
    gaugePreview->setForeColor(s.Progress.ForeColor);
    gaugePreview->setBackColor(s.Progress.BackColor);
    gaugePreview->setFrameColor(s.Progress.FrameColor);
    imageLyricBackColor->setColor(s.Lyric.BackColor);
    imageLyricTextColor->setColor(s.Lyric.TextColor);
    UpdateGaugePreview();
}

Settings TfrmTonelark2Pref::edited(const Settings &current) const
{
    Settings s = current;
    if (radioSettingsManual->isChecked())
        s.SettingMode = 0;
    else if (radioSettingsWolf->isChecked())
        s.SettingMode = 1;
    s.HotKey = hotKey->shortcutValue();
    s.CombinationWithWinKey = checkCombinationWithWinKey->isChecked();
    s.BrsNormalizeOption = checkBrsNormalize->isChecked();
    s.DisableLoop = checkDisableLoop->isChecked();
    s.SkipFirstBlank = checkSkipFirstBlank->isChecked();
    s.ReloadWhenModified = checkReloadWhenModified->isChecked();
    s.RestoreWindowPos = checkRestoreWindowPos->isChecked();
    s.HideIfWindowIsActive = checkHideIfWindowIsActive->isChecked();
    if (comboMidiOutDevs->currentIndex() >= 0)
        s.MidiOutDeviceId = comboMidiOutDevs->currentData().toInt();
    s.SoundFont = editSoundFont->text().trimmed();
    // A stored unit other than 0 and 1 stays while the box still says "time".
    if (checkUseTickUnitForPlayback->isChecked())
        s.PlaybackBaseMode = 0;
    else if (current.PlaybackBaseMode == 0)
        s.PlaybackBaseMode = 1;
    s.UseClassicDialogForFile = checkUseClassicDialogForFile->isChecked();
    s.IgnoreSysEx = checkIgnoreSysEx->isChecked();
    s.Progress.ForeColor = gaugePreview->foreColor();
    s.Progress.BackColor = gaugePreview->backColor();
    s.Progress.FrameColor = gaugePreview->frameColor();
    s.InfoBoxStyle = rgInfoBoxStyle->itemIndex();
    s.SecondsToSkip = updownSecondsToSkip->value();
    s.Lyric.AutoLyricTab = checkAutoLyricTab->isChecked();
    s.Lyric.TrimAnySpace = checkTrimAnySpace->isChecked();
    s.Lyric.NoEmptyLines = checkNoEmptyLines->isChecked();
    s.Lyric.FontBold = checkLyricFontBold->isChecked();
    s.Lyric.FontItalic = checkLyricFontItalic->isChecked();
    s.Lyric.BackColor = imageLyricBackColor->color();
    s.Lyric.TextColor = imageLyricTextColor->color();
    s.Lyric.ApplyColor = rgLyricRangeToApplyColor->itemIndex();
    s.Lyric.LineMode = comboLyricLineMode->currentIndex();
    s.SeparatorType = rgSeparator->itemIndex();
    s.UseSystemContextMenu = checkUseSystemContextMenu->isChecked();
    return s;
}

void TfrmTonelark2Pref::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    UpdateGaugePreview();
}

void TfrmTonelark2Pref::showDescription(const QString &hint)
{
    QString text = hint;
    text.replace(QLatin1String("\\n"), QLatin1String("\n"));
    labelDesc->setText(text);
}

void TfrmTonelark2Pref::appEventsHint(QWidget *underMouse)
{
    // The hint of the control under the mouse or of its nearest enclosing one that has one;
    // like the application's hint, it is shown only when it changes.
    QString hint;
    for (QWidget *widget = underMouse; widget && widget != this; widget = widget->parentWidget()) {
        if (!widget->statusTip().isEmpty()) {
            hint = widget->statusTip();
            break;
        }
    }
    applicationHintChanged(hint);
}

void TfrmTonelark2Pref::applicationHintChanged(const QString &hint)
{
    if (hint == m_applicationHint)
        return;
    m_applicationHint = hint;
    showDescription(hint);
}

void TfrmTonelark2Pref::focusChanged(QWidget *now)
{
    if (!now || now->window() != this)
        return;
    QString hint = now->statusTip();
    QWidget *parent = now->parentWidget();
    // A button of a radio group, or a control on a group box or a panel, speaks for its parent.
    if (hint.isEmpty() && parent && (qobject_cast<QGroupBox *>(parent) || parent == panelRadioGroupSettings))
        hint = parent->statusTip();
    // The edit inside the seconds up-down.
    if (hint.isEmpty() && parent && qobject_cast<QAbstractSpinBox *>(parent) && parent->parentWidget())
        hint = parent->parentWidget()->statusTip();
    showDescription(hint);
}

void TfrmTonelark2Pref::pageCtrlChange()
{
    QWidget *current = pageCtrl->currentWidget();
    showDescription(current ? current->statusTip() : QString());
    if (current == tabVersion)
        tabVersionShow();
}

bool TfrmTonelark2Pref::eventFilter(QObject *watched, QEvent *event)
{
    if ((event->type() == QEvent::Enter || event->type() == QEvent::Leave) && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->window() == this) {
            // Leaving a control puts the mouse on whatever lies under it now.
            QWidget *underMouse = event->type() == QEvent::Enter ? widget : QApplication::widgetAt(QCursor::pos());
            if (underMouse && underMouse->window() == this)
                appEventsHint(underMouse);
        }
    }
    if (colorDialog && watched == colorDialog && event->type() == QEvent::Show)
        colorDialogShow();
    return QDialog::eventFilter(watched, event);
}

void TfrmTonelark2Pref::UpdateGaugePreview()
{
    imageGaugeForeColor->setColor(gaugePreview->foreColor());
    imageGaugeBackColor->setColor(gaugePreview->backColor());
    imageGaugeFrameColor->setColor(gaugePreview->frameColor());
    imageLyricBackColor->update();
    imageLyricTextColor->update();
}

std::optional<TColor> TfrmTonelark2Pref::chooseColor(TColor color)
{
    QColorDialog dialog(colorFromTColor(color, palette()), this);
    dialog.setObjectName(QStringLiteral("colorDialog"));
    // Qt's own dialog: the custom colours and the red box exist only there.
    dialog.setOption(QColorDialog::DontUseNativeDialog, true);
    const QList<QRgb> &custom = CustomColorList();
    for (int i = 0; i < kCustomColorCount; ++i)
        QColorDialog::setCustomColor(i, QColor::fromRgb(custom.at(i)));
    colorDialog = &dialog;
    const int result = dialog.exec();
    colorDialog = nullptr;
    // The custom colours are kept however the colour dialog ended.
    for (int i = 0; i < kCustomColorCount; ++i)
        CustomColorList()[i] = QColorDialog::customColor(i).rgb();
    if (result != QDialog::Accepted)
        return std::nullopt;
    return tcolorFromRgb(dialog.selectedColor());
}

void TfrmTonelark2Pref::colorDialogShow()
{
    const QScreen *screen = this->screen();
    const int workAreaRight = screen ? screen->availableGeometry().x() + screen->availableGeometry().width()
                                     : colorDialog->width();
    colorDialog->move(colorDialogPosition(colorDialog->frameGeometry().size(), QCursor::pos(), workAreaRight));
    // The red value box: Qt's dialog makes its boxes hue, saturation, value, red, green,
    // blue, alpha, in this order.
    const QList<QSpinBox *> boxes = colorDialog->findChildren<QSpinBox *>();
    if (boxes.size() > 3) {
        boxes.at(3)->setFocus();
        boxes.at(3)->selectAll();
    }
}

void TfrmTonelark2Pref::buttonGaugeForeColorClick()
{
    if (const auto color = chooseColor(gaugePreview->foreColor()))
        gaugePreview->setForeColor(*color);
    UpdateGaugePreview();
}

void TfrmTonelark2Pref::buttonGaugeBackColorClick()
{
    if (const auto color = chooseColor(gaugePreview->backColor()))
        gaugePreview->setBackColor(*color);
    UpdateGaugePreview();
}

void TfrmTonelark2Pref::buttonGaugeFrameColorClick()
{
    if (const auto color = chooseColor(gaugePreview->frameColor()))
        gaugePreview->setFrameColor(*color);
    UpdateGaugePreview();
}

void TfrmTonelark2Pref::buttonLyricBackColorClick()
{
    if (const auto color = chooseColor(imageLyricBackColor->color()))
        imageLyricBackColor->setColor(*color);
    UpdateGaugePreview();
}

void TfrmTonelark2Pref::buttonLyricTextColorClick()
{
    if (const auto color = chooseColor(imageLyricTextColor->color()))
        imageLyricTextColor->setColor(*color);
    UpdateGaugePreview();
}

void TfrmTonelark2Pref::ColorSettingsSelected(QObject *sender)
{
    auto *item = qobject_cast<QAction *>(sender);
    if (!item)
        return;
    const int row = item->data().toInt();
    const auto &presets = GaugeColorPresets();
    if (row < 0 || row >= int(presets.size()))
        return;
    gaugePreview->setForeColor(presets[row].foreColor);
    gaugePreview->setBackColor(presets[row].backColor);
    gaugePreview->setFrameColor(presets[row].frameColor);
    UpdateGaugePreview();
}

void TfrmTonelark2Pref::radioSettingsSelected(QObject *sender)
{
    if (sender != radioSettingsManual && sender != radioSettingsWolf)
        return;
    // The four play options are fixed by the other mode.
    for (QCheckBox *box : panelRadioGroupSettings->findChildren<QCheckBox *>(Qt::FindDirectChildrenOnly))
        box->setEnabled(sender == radioSettingsManual);
}

void TfrmTonelark2Pref::tabVersionShow()
{
    if (m_versionText)
        labelVersion->setText(m_versionText());
}

void TfrmTonelark2Pref::buttonSoundFontClick()
{
    const QString current = editSoundFont->text().trimmed();
    const QString folder = current.isEmpty() ? QStringLiteral("/usr/share/sounds/sf2") : QFileInfo(current).path();
    QFileDialog dialog(this, QStringLiteral("SoundFont の選択"), folder);
    dialog.setObjectName(QStringLiteral("dialogSoundFont"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("SoundFont (*.sf2 *.sf3)"), QStringLiteral("すべてのファイル (*)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    editSoundFont->setText(dialog.selectedFiles().first());
}

} // namespace tonelark
