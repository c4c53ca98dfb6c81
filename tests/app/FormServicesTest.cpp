// The window's small services: path shortening on the progress line, file
// names as bytes through the text controls, and the page helpers.

#include "FormServices.h"
#include "ByteText.h"
#include "PathShortening.h"

#include <QTabBar>
#include <QTabWidget>
#include <QTest>

namespace {
// One unit per character makes the widths easy to follow.
int CharWidth(const QString& text) {
    return static_cast<int>(text.size());
}
} // namespace

class FormServicesTest : public QObject {
    Q_OBJECT
private slots:
    void LeadingFoldersGiveWayOneByOneAndTheNameStays() {
        const QString path = QStringLiteral("C:/data/site/img/a.gif");
        const QStringList expected = {
            QStringLiteral("C:/data/site/img/a.gif"),
            QStringLiteral("C:/.../site/img/a.gif"),
            QStringLiteral("C:/.../img/a.gif"),
            QStringLiteral("C:/.../a.gif"),
            QStringLiteral(".../a.gif"),
            QStringLiteral("a.gif"),
        };
        for (const QString& fits : expected) {
            QCOMPARE(ShortenPath(path, CharWidth(fits), CharWidth), fits);
        }
        QCOMPARE(ShortenPath(path, 2, CharWidth), QStringLiteral("a.gif")); // never cut further
        QCOMPARE(ShortenPath(QStringLiteral("/srv/www/htdocs/index.html"), 22, CharWidth),
                 QStringLiteral("/.../htdocs/index.html"));
    }

    void NamesThatAreNotUtf8ComeBackByteForByte() {
        const std::string names[] = {"plain.txt", "\xE6\x96\x87\xE6\xA1\xA3.txt", "bad\xFF\xFE.txt",
                                     "gb\xD6\xB5-latin1-\xE9", std::string("cut\xE6\x96", 5)};
        for (const std::string& name : names) {
            QCOMPARE(TextToBytes(BytesToText(name)), name);
        }
        QCOMPARE(BytesToText("\xE6\x96\x87"), QStringLiteral("文"));
        QCOMPARE(TextToBytes(QStringLiteral("文😀")), std::string("\xE6\x96\x87\xF0\x9F\x98\x80"));
    }

    void HidePageTabsKeepsTheControlsVisibility() {
        QTabWidget shown;
        shown.addTab(new QWidget, QStringLiteral("a"));
        shown.show();
        HidePageTabs(&shown);
        QVERIFY(shown.isVisible());
        QVERIFY(!shown.tabBar()->isVisible());

        QTabWidget hidden;
        hidden.addTab(new QWidget, QStringLiteral("a"));
        HidePageTabs(&hidden);
        QVERIFY(hidden.isHidden());
    }
};

QTEST_MAIN(FormServicesTest)
#include "FormServicesTest.moc"
