#include "uShortcuts.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace tonelark;

class ShortcutsDialogTest : public QObject {
    Q_OBJECT

private slots:
    void listShowsTheShortcutsInTheOwnersFont()
    {
        QWidget owner;
        QFont ownerFont(QStringLiteral("Noto Sans Mono CJK JP"));
        ownerFont.setPointSize(13);
        owner.setFont(ownerFont);
        owner.setGeometry(100, 200, 400, 300);
        TfrmTonelark2Shortcuts dialog(&owner);

        QCOMPARE(dialog.windowTitle(), QStringLiteral("ショートカットキーの一覧"));
        QCOMPARE(dialog.size(), QSize(312, 211));
        QCOMPARE(dialog.memoDesc->toPlainText(),
                 QStringLiteral("  Alt + Q → 演奏\n"
                                "  Alt + W → 一時停止\n"
                                "  Alt + E → 停止\n"
                                "  Alt + T → 時間単位とティック単位の切り替え\n"
                                "  Alt + A → ウィンドウを最前面に表示する\n"
                                "  Alt + S → 演奏位置の変更\n"
                                "  Alt + D → 情報ボックスの表示/非表示\n"
                                "  Alt + F → ファイルを開く\n"
                                "  Alt + H → このヘルプを表示する\n"
                                "  Alt + C → 設定画面を開く\n"
                                "  Alt + V → バージョン情報\n"
                                "  Alt + ↑ → キー +1\n"
                                "  Alt + ↓ → キー −1\n"
                                "  Alt + K → 原曲キー\n"
                                "  Alt + PageUp → テンポ +5%\n"
                                "  Alt + PageDown → テンポ −5%\n"
                                "  Alt + P → 元のテンポ\n"
                                "  Alt + M → ガイドメロディ (通常・小さく・消す)\n"
                                "  Alt + N → チャンネル\n"
                                "  Alt + Shift + ↑ → 音量 +5%\n"
                                "  Alt + Shift + ↓ → 音量 −5%\n"
                                "  Alt + . → 次の曲\n"
                                "  Alt + , → 前の曲（始まって 3 秒より後はこの曲の最初）\n"

                                "  Alt + L → 歌詞ウィンドウ\n"
                                "  Alt + [ → A-B リピートの A を演奏位置に\n"
                                "  Alt + ] → A-B リピートの B を演奏位置に（A へ戻って繰り返す）"));
        QVERIFY(dialog.memoDesc->isReadOnly());
        QCOMPARE(dialog.memoDesc->geometry(), QRect(0, 0, 312, 173));
        QCOMPARE(dialog.buttonOk->text(), QStringLiteral("&OK"));
        QCOMPARE(dialog.buttonOk->geometry().left(), 312 - 1 - dialog.buttonOk->geometry().right());
        QVERIFY(dialog.buttonOk->geometry().top() >= 173);
        QCOMPARE(dialog.font().family(), ownerFont.family());
        QCOMPARE(dialog.memoDesc->font().pointSize(), 13);
        QCOMPARE(dialog.frameGeometry().center(), owner.frameGeometry().center());
    }

    void enterAndEscBothCloseWithOk()
    {
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            QWidget owner;
            TfrmTonelark2Shortcuts dialog(&owner);
            QTimer::singleShot(0, &dialog, [&dialog, key] {
                QCOMPARE(dialog.focusWidget(), dialog.buttonOk);
                QTest::keyClick(dialog.buttonOk, key);
            });
            QTimer::singleShot(5000, &dialog, &QDialog::reject); // a key that did nothing
            QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        }
    }
};

QTEST_MAIN(ShortcutsDialogTest)
#include "ShortcutsDialogTest.moc"
