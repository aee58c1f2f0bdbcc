#include "FakeEngine.h"
#include "WindowTestSupport.h"
#include "uMain.h"
#include "uShortcuts.h"

#include <QAction>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

using namespace tonelark;
using namespace tonelark::test;

// The About page and the shortcut list on the real window. This test program carries its
// own version record (tests/player/about.cmake): 3.1.4.1 and a copyright line of five words.
class AboutWindowTest : public QObject {
    Q_OBJECT

private:
    struct Setup {
        FakeEngine engine;
        FakeUi ui;
        Convex ini;
    };

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Tonelark")); }

    void aboutPageShowsTheProgramsRecordBuiltOnce()
    {
        Setup setup;
        TfrmTonelark2Main window(setup.engine, setup.ini, {}, &setup.ui);
        window.actionAbout->trigger();
        QCOMPARE(window.pagesInfo->currentWidget(), window.tabAbout);
        QCOMPARE(window.textAbout->text(),
                 QStringLiteral("Tonelark Ver.3.1.4\n\nCopyright 2026 Tonelark-Project and the friends"));
        window.textAbout->setText(QStringLiteral("kept"));
        window.actionPrevTab->trigger();
        window.actionAbout->trigger();
        QCOMPARE(window.textAbout->text(), QStringLiteral("kept"));
    }

    void altHShowsTheShortcutListModallyInTheWindowsFont()
    {
        Setup setup;
        setup.ini = Convex::fromBytes("[Tonelark]\nFontName=DejaVu Serif\nFontSize=14\n");
        TfrmTonelark2Main window(setup.engine, setup.ini, {}, &setup.ui);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        bool seen = false;
        int lines = 0;
        QTimer::singleShot(0, &window, [&] {
            auto *dialog = qobject_cast<TfrmTonelark2Shortcuts *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            seen = true;
            QCOMPARE(dialog->parentWidget(), &window);
            QVERIFY(window.inModalLoop());
            // Checked after the dialog is closed: a failed check must not leave it open.
            lines = int(dialog->memoDesc->toPlainText().split(QLatin1Char('\n')).size());
            QCOMPARE(dialog->font().family(), window.font().family());
            QCOMPARE(dialog->font().pointSizeF(), window.font().pointSizeF());
            QTest::keyClick(dialog->buttonOk, Qt::Key_Escape);
        });
        QTest::keyClick(&window, Qt::Key_H, Qt::AltModifier);
        QVERIFY(seen);
        QCOMPARE(lines, int(TfrmTonelark2Shortcuts::lines().size()));
        QCOMPARE(lines, 26);
        QVERIFY(!window.inModalLoop());
        QVERIFY(window.findChildren<TfrmTonelark2Shortcuts *>().isEmpty()); // freed after closing
    }
};

QTEST_MAIN(AboutWindowTest)
#include "AboutWindowTest.moc"
