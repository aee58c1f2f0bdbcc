#include "EditCstm.h"

#include <QTest>

using namespace tonelark;

class EditCstmTest : public QObject {
    Q_OBJECT

private slots:
    void textIsCentred()
    {
        TEdit edit;
        QCOMPARE(edit.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    }

    void selectAllOnlyWithCtrlAlone_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("selectsAll");
        QTest::newRow("Ctrl") << int(Qt::ControlModifier) << true;
        QTest::newRow("Ctrl keypad") << int(Qt::ControlModifier | Qt::KeypadModifier) << true;
        QTest::newRow("Ctrl+Shift") << int(Qt::ControlModifier | Qt::ShiftModifier) << false;
        QTest::newRow("Ctrl+Alt") << int(Qt::ControlModifier | Qt::AltModifier) << false;
    }
    void selectAllOnlyWithCtrlAlone()
    {
        QFETCH(int, modifiers);
        QFETCH(bool, selectsAll);
        TEdit edit(QStringLiteral("12345"));
        edit.setCursorPosition(2);
        QTest::keyClick(&edit, Qt::Key_A, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(edit.selectedText() == QStringLiteral("12345"), selectsAll);
    }

    void digitsOnlySwallowsOtherCharacters()
    {
        TEdit edit;
        edit.setDigitsOnly(true);
        QTest::keyClicks(&edit, QStringLiteral("1a-2 3.x"));
        QCOMPARE(edit.text(), QStringLiteral("123"));
        // Editing keys still work.
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QCOMPARE(edit.text(), QStringLiteral("12"));

        TEdit free;
        QTest::keyClicks(&free, QStringLiteral("1a"));
        QCOMPARE(free.text(), QStringLiteral("1a"));
    }
};

QTEST_MAIN(EditCstmTest)
#include "EditCstmTest.moc"
