#pragma once

#include "Settings.h"
#include "TColor.h"
#include "uConst.h"

#include <QDialog>
#include <QGroupBox>
#include <QKeySequenceEdit>
#include <QList>
#include <QRgb>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

class QCheckBox;
class QColorDialog;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace tonelark {

class TEdit;
class TGauge;
class TUpDown;

// A group box of exclusive radio buttons addressed by index, in one or more columns. An index
// beyond the last item shows the last one, a negative one shows none.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString &caption, const QStringList &items, int columns, QWidget *parent);
    // -1 when none is checked.
    int itemIndex() const;
    void setItemIndex(int index);
    QRadioButton *button(int index) const { return m_buttons.at(index); }
    int count() const { return int(m_buttons.size()); }

private:
    QList<QRadioButton *> m_buttons;
};

// A colour swatch: the whole area filled with its colour and outlined in black. It carries
// its colour as a TColor number and reports clicks like the button beside it.
class TColorSwatch : public QWidget {
    Q_OBJECT
public:
    explicit TColorSwatch(QWidget *parent);
    TColor color() const { return m_color; }
    void setColor(TColor color);
signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    TColor m_color = clBlack;
};

// The hot key input: one key combination, kept only when it has a 16-bit shortcut value (a
// key a global hot key can use). The Super key is not part of the value: pressing it along
// asks for the "Win" check box instead.
class THotKey : public QKeySequenceEdit {
    Q_OBJECT
public:
    explicit THotKey(QWidget *parent);
    quint16 shortcutValue() const { return m_value; }
    void setShortcutValue(quint16 value);
signals:
    // The combination was pressed with the Super key.
    void superKeyUsed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    void sequenceChanged(const QKeySequence &sequence);

    quint16 m_value = 0;
    bool m_updating = false;
};

// "設定": every setting of the program on six pages. It edits a copy: fill() puts the
// program-wide values in, edited() gives them back with the user's changes; nothing reaches
// the program before the owner applies that copy on OK (result Accepted). Esc and the close
// box reject. The colour dialog's custom colours outlive the dialog for the run.
class TfrmTonelark2Pref : public QDialog {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 384;
    static constexpr int kClientHeight = 262;

    // FormCreate. `owner` (the main window) gives font and placement; `midiOutPorts` are the
    // engine's output ports in id order; `versionText` builds the version page's text each
    // time the page is shown.
    TfrmTonelark2Pref(QWidget *owner, const QStringList &midiOutPorts, std::function<QString()> versionText);
    ~TfrmTonelark2Pref() override;

    // Filling: the controls take the program-wide values.
    void fill(const Settings &settings);
    // `current` with the dialog's values: keys the dialog leaves undecided (no mode button
    // checked, no device selected) keep their values from `current`.
    Settings edited(const Settings &current) const;

    // CustomColorList: the colour dialog's custom colours for the rest of the run.
    static QList<QRgb> &CustomColorList();

    // Components.
    QFrame *panelDesc = nullptr;
    QLabel *labelDesc = nullptr;
    QTabWidget *pageCtrl = nullptr;
    QPushButton *buttonOk = nullptr;
    QPushButton *buttonCancel = nullptr;
    QMenu *popupMenuProgress = nullptr;

    QWidget *tabBrsOptions = nullptr;
    QComboBox *comboMidiOutDevs = nullptr;
    QLabel *labelSoundFont = nullptr;
    QLineEdit *editSoundFont = nullptr;
    QPushButton *buttonSoundFont = nullptr;
    QWidget *panelRadioGroupSettings = nullptr;
    QRadioButton *radioSettingsManual = nullptr;
    QCheckBox *checkBrsNormalize = nullptr;
    QCheckBox *checkDisableLoop = nullptr;
    QCheckBox *checkSkipFirstBlank = nullptr;
    QCheckBox *checkIgnoreSysEx = nullptr;
    QRadioButton *radioSettingsWolf = nullptr;

    QWidget *tabSystem = nullptr;
    QCheckBox *checkRestoreWindowPos = nullptr;
    QCheckBox *checkUseClassicDialogForFile = nullptr;
    QGroupBox *groupHotKey = nullptr;
    THotKey *hotKey = nullptr;
    QCheckBox *checkCombinationWithWinKey = nullptr;
    QCheckBox *checkHideIfWindowIsActive = nullptr;
    QPushButton *buttonChangeFont = nullptr;
    QLabel *panelFontPreview = nullptr;

    QWidget *tabProgress = nullptr;
    TColorSwatch *imageGaugeFrameColor = nullptr;
    QPushButton *buttonGaugeFrameColor = nullptr;
    TColorSwatch *imageGaugeForeColor = nullptr;
    QPushButton *buttonGaugeForeColor = nullptr;
    TColorSwatch *imageGaugeBackColor = nullptr;
    QPushButton *buttonGaugeBackColor = nullptr;
    QLabel *labelGaugePreview = nullptr;
    TGauge *gaugePreview = nullptr;
    QCheckBox *checkUseTickUnitForPlayback = nullptr;

    QWidget *tabLyric = nullptr;
    QCheckBox *checkAutoLyricTab = nullptr;
    QCheckBox *checkTrimAnySpace = nullptr;
    QCheckBox *checkNoEmptyLines = nullptr;
    QLabel *labelLyricLineMode = nullptr;
    QComboBox *comboLyricLineMode = nullptr;
    TRadioGroup *rgLyricRangeToApplyColor = nullptr;
    TColorSwatch *imageLyricBackColor = nullptr;
    QPushButton *buttonLyricBackColor = nullptr;
    TColorSwatch *imageLyricTextColor = nullptr;
    QPushButton *buttonLyricTextColor = nullptr;
    QGroupBox *gbLyricFontOptions = nullptr;
    QCheckBox *checkLyricFontBold = nullptr;
    QCheckBox *checkLyricFontItalic = nullptr;

    QWidget *tabOthers = nullptr;
    TRadioGroup *rgInfoBoxStyle = nullptr;
    TRadioGroup *rgSeparator = nullptr;
    QCheckBox *checkUseSystemContextMenu = nullptr;
    QGroupBox *gbTimeSkipping = nullptr;
    QLabel *labelTimeSkipping = nullptr;
    TEdit *editSecondsToSkip = nullptr;
    TUpDown *updownSecondsToSkip = nullptr;
    QLabel *labelTimeSkippingSec = nullptr;

    QWidget *tabVersion = nullptr;
    QWidget *panelVersion = nullptr;
    QLabel *labelVersion = nullptr;
    QLabel *imgAppIcon = nullptr;
    QCheckBox *checkReloadWhenModified = nullptr;
    QPushButton *buttonVisitMyWeb = nullptr;

    // The colour dialog of the pick in progress (null between picks).
    QColorDialog *colorDialog = nullptr;

public slots:
    void pageCtrlChange();
    void UpdateGaugePreview();
    // The five colour handlers, each bound to its button and its swatch.
    void buttonGaugeForeColorClick();
    void buttonGaugeBackColorClick();
    void buttonGaugeFrameColorClick();
    void buttonLyricBackColorClick();
    void buttonLyricTextColorClick();
    // A preset row of popupMenuProgress; only menu items carry one.
    void ColorSettingsSelected(QObject *sender);
    void radioSettingsSelected(QObject *sender);
    void tabVersionShow();
    void buttonSoundFontClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildBrsOptions();
    void buildSystem();
    void buildProgress();
    void buildLyric();
    void buildOthers();
    void buildVersion();
    // appEventsHint and the focus handler end here: "\n" written as two characters in a
    // hint becomes a line break.
    void showDescription(const QString &hint);
    void appEventsHint(QWidget *underMouse);
    // The application's hint: shown only when it changes.
    void applicationHintChanged(const QString &hint);
    void focusChanged(QWidget *now);
    // Lets the user pick a colour starting from `color`; the picked one as RGB.
    std::optional<TColor> chooseColor(TColor color);
    void colorDialogShow();

    std::function<QString()> m_versionText;
    QString m_applicationHint;
};

} // namespace tonelark
