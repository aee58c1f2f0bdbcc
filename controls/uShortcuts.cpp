#include "uShortcuts.h"

#include "DialogFont.h"

#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>

namespace tonelark {

namespace {
constexpr int kMemoHeight = 173;
constexpr int kButtonWidth = 76; // even: equal margins either side
constexpr int kButtonHeight = 25;
} // namespace

QStringList TfrmTonelark2Shortcuts::lines()
{
    return {
        QStringLiteral("  Alt + Q → 演奏"),
        QStringLiteral("  Alt + W → 一時停止"),
        QStringLiteral("  Alt + E → 停止"),
        QStringLiteral("  Alt + T → 時間単位とティック単位の切り替え"),
        QStringLiteral("  Alt + A → ウィンドウを最前面に表示する"),
        QStringLiteral("  Alt + S → 演奏位置の変更"),
        QStringLiteral("  Alt + D → 情報ボックスの表示/非表示"),
        QStringLiteral("  Alt + F → ファイルを開く"),
        QStringLiteral("  Alt + H → このヘルプを表示する"),
        QStringLiteral("  Alt + C → 設定画面を開く"),
        QStringLiteral("  Alt + V → バージョン情報"),
        QStringLiteral("  Alt + ↑ → キー +1"),
        QStringLiteral("  Alt + ↓ → キー −1"),
        QStringLiteral("  Alt + K → 原曲キー"),
        QStringLiteral("  Alt + PageUp → テンポ +5%"),
        QStringLiteral("  Alt + PageDown → テンポ −5%"),
        QStringLiteral("  Alt + P → 元のテンポ"),
        QStringLiteral("  Alt + M → ガイドメロディ (通常・小さく・消す)"),
        QStringLiteral("  Alt + N → チャンネル"),
        QStringLiteral("  Alt + Shift + ↑ → 音量 +5%"),
        QStringLiteral("  Alt + Shift + ↓ → 音量 −5%"),
        QStringLiteral("  Alt + . → 次の曲"),
        QStringLiteral("  Alt + , → 前の曲（始まって 3 秒より後はこの曲の最初）"),
        QStringLiteral("  Alt + L → 歌詞ウィンドウ"),
        QStringLiteral("  Alt + [ → A-B リピートの A を演奏位置に"),
        QStringLiteral("  Alt + ] → A-B リピートの B を演奏位置に（A へ戻って繰り返す）"),
    };
}

TfrmTonelark2Shortcuts::TfrmTonelark2Shortcuts(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("TfrmTonelark2Shortcuts"));
    setWindowTitle(QStringLiteral("ショートカットキーの一覧"));
    setFixedSize(kClientWidth, kClientHeight);

    // The owner's face and height.
    adoptOwnerFace(this, owner);

    // Created first: the button leads the tab order and has the focus when the list opens.
    buttonOk = new QPushButton(QStringLiteral("&OK"), this);
    buttonOk->setObjectName(QStringLiteral("buttonOk"));
    buttonOk->setGeometry((kClientWidth - kButtonWidth) / 2,
                          kMemoHeight + (kClientHeight - kMemoHeight - kButtonHeight) / 2, kButtonWidth,
                          kButtonHeight);
    buttonOk->setDefault(true);
    connect(buttonOk, &QPushButton::clicked, this, &QDialog::accept);

    memoDesc = new QPlainTextEdit(this);
    memoDesc->setObjectName(QStringLiteral("memoDesc"));
    memoDesc->setGeometry(0, 0, kClientWidth, kMemoHeight);
    memoDesc->setReadOnly(true);
    memoDesc->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoDesc->setLineWrapMode(QPlainTextEdit::NoWrap);
    QPalette memoPalette = memoDesc->palette();
    memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::Button)); // clBtnFace
    memoDesc->setPalette(memoPalette);
    memoDesc->setPlainText(lines().join(QLatin1Char('\n')));
    setTabOrder(buttonOk, memoDesc);
    buttonOk->setFocus();

    // Centred over the owner. The frames are the same kind, so the owner's frame margins
    // stand in for the dialog's own before it has a frame.
    if (owner) {
        const QRect ownerFrame = owner->frameGeometry();
        const QSize frame = size() + (ownerFrame.size() - owner->size());
        move(ownerFrame.x() + (ownerFrame.width() - frame.width()) / 2,
             ownerFrame.y() + (ownerFrame.height() - frame.height()) / 2);
    }
}

void TfrmTonelark2Shortcuts::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        buttonOk->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace tonelark
