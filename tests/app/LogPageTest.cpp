// The log page in the window's own browser: a big day shows its summary
// without building any file list, lists grow a chunk at a time, and every
// value stays text.

#include "UiTestSupport.h"
#include "runlog/LogViewer.h"
#include "runlog/RunLog.h"
#include "ui_FmPairwell.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

constexpr int BigRunFiles = 50'000;

// The script's value, waiting for the page's answer.
QVariant Evaluate(QWebEnginePage* page, const QString& script) {
    QVariant result;
    bool answered = false;
    page->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        answered = true;
    });
    WaitUntil([&] { return answered; }, 60000);
    return result;
}

// Polls a script that answers a JSON text once the page is ready, null before.
QJsonObject WaitForJson(QWebEnginePage* page, const QString& script) {
    QString text;
    WaitUntil(
        [&] {
            text = Evaluate(page, script).toString();
            return !text.isEmpty();
        },
        60000);
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

// The newest day's table, each row's cell texts, once its totals are shown
// and the day before has been read.
const QString DayTable = QStringLiteral(R"(
(function () {
  var day = document.querySelector('details.day');
  var totals = day && day.querySelector('summary .totals');
  var table = day && day.querySelector('table');
  var second = document.querySelectorAll('details.day')[1];
  if (!table || !/项/.test(totals.textContent) || !second.querySelector('.day-body > *')) {
    return null;
  }
  function texts(nodes) {
    return Array.prototype.map.call(nodes, function (node) { return node.textContent; });
  }
  return JSON.stringify({
    totals: totals.textContent,
    head: texts(table.querySelectorAll('th')),
    rows: Array.prototype.map.call(table.querySelectorAll('tbody > tr'), function (row) {
      return texts(row.children);
    }),
    lines: document.getElementsByTagName('li').length,
    markup: document.querySelectorAll('main b, main script, main img').length,
    secondDay: second.querySelector('.day-body').textContent
  });
})())");

// Opens the file list of the given row (counted among the day's file lists,
// newest first) and answers its lines once they are there.
QString ListLines(int list, int atLeast) {
    return QStringLiteral(R"(
(function () {
  var details = document.querySelectorAll('details.day')[0].querySelectorAll('tr.files details')[%1];
  if (!details.open) {
    details.querySelector('summary').click();
  }
  var lines = details.getElementsByTagName('li');
  if (lines.length < %2) {
    return null;
  }
  return JSON.stringify({
    count: lines.length,
    first: lines[0].textContent,
    texts: Array.prototype.slice.call(lines, 0, 5).map(function (li) { return li.textContent; }),
    more: details.querySelectorAll('.more button').length,
    headings: Array.prototype.map.call(details.querySelectorAll('h4'), function (h) { return h.textContent; })
  });
})())")
        .arg(list)
        .arg(atLeast);
}

std::vector<std::string> StringsOf(const QJsonValue& value) {
    std::vector<std::string> strings;
    for (const QJsonValue& item : value.toArray()) {
        strings.push_back(item.toString().toStdString());
    }
    return strings;
}

} // namespace

class LogPageTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // The embedded browser cannot sandbox itself in most containers.
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }

    void BigDayShowsItsSummaryAtOnceAndValuesAsText() {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP(
            "the embedded browser's own code trips AddressSanitizer (and leaks); the other builds run this");
#endif
        if (!QFileInfo::exists(QString::fromStdString(ProgramLogViewerFolder() + "/index.htm"))) {
            QSKIP("the log viewer is not built beside the tests");
        }
        TProgramFolder folder;
        const TRunLog log(folder.Bytes(QStringLiteral("log")));
        log.OpenDayLog();
        TLogBuffer refused;
        refused.WriteLogElement("Project", "网站");
        refused.WriteLogElement("ProcessStatus", "中止");
        refused.WriteLogElement("Error", "删除保护: 计划删除 120 项, 占目标的 80%");
        log.CloseLogItem(refused);
        TLogBuffer markup;
        markup.WriteLogElement("Project", "<b>粗体</b>");
        markup.WriteLogElement("New", "/t/<b>x</b>");
        markup.WriteLogElement("New", "/t/a&amp;b");
        markup.WriteLogElement("NewCount", "2");
        markup.WriteLogElement("VersionCount", "3");
        markup.WriteLogElement("ProcessStatus", "完成");
        log.CloseLogItem(markup);
        TLogBuffer big;
        for (int i = 0; i < BigRunFiles; ++i) {
            big.WriteLogElement("New", "/t/照片/" + std::to_string(i) + ".jpg");
        }
        big.WriteLogElement("NewCount", std::to_string(BigRunFiles));
        big.WriteLogElement("DeleteFail", "/t/旧/x");
        big.WriteLogElement("Project", "相册");
        big.WriteLogElement("ProcessStatus", "完成");
        log.CloseLogItem(big);
        // A day file edited by hand, with a comment, still shows (through the
        // XML parser).
        WriteFile(folder.File(QStringLiteral("log/2001.01.01.xml")),
                  "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n<log><!-- edited -->\r\n"
                  "<item>\r\n  <Project>hand &amp; made</Project>\r\n</item></log>\r\n");
        QByteArray list = ReadFile(folder.File(QStringLiteral("log/list.xml")));
        list.replace("<list>", "<list><item>2001.01.01</item>");
        WriteFile(folder.File(QStringLiteral("log/list.xml")), list);

        TFmPairwellOptions options;
        options.FProgramFolder = folder.Path();
        options.FConfigFileName = folder.File(QStringLiteral("pairwell.ini"));
        options.FTrayAvailable = false;
        TFmPairwell window(options);
        window.show();
        window.Controls().ViewLog->trigger();
        auto* browser = window.findChild<QWebEngineView*>(QStringLiteral("WebBrowser1"));
        QVERIFY(browser != nullptr);
        QWebEnginePage* page = browser->page();

        // The summary: items, counts, versions and the refusal's reason, and
        // not one line of any file list.
        const QJsonObject day = WaitForJson(page, DayTable);
        QVERIFY2(!day.isEmpty(), "the day's table never showed");
        QCOMPARE(day["totals"].toString(), QStringLiteral("3 项 · 完成 1 · 有失败项 1 · 中止 1"));
        QCOMPARE(day["lines"].toInt(), 0);
        const std::vector<std::string> head = StringsOf(day["head"]);
        const std::vector<std::string> wantedHead = {"#",        "项目", "类型",     "状态", "新建",
                                                     "新建失败", "更新", "更新失败", "删除", "删除失败",
                                                     "已存版本", "开始", "结束",     "用时"};
        QVERIFY(head == wantedHead);
        const QJsonArray rows = day["rows"].toArray();
        QCOMPARE(rows.size(), 6); // big + files, markup + files, refused + reason
        const std::vector<std::string> bigRow = StringsOf(rows[0]);
        QCOMPARE(bigRow[1], std::string("相册"));
        QCOMPARE(bigRow[3], std::string("完成 · 有失败项"));
        QCOMPARE(bigRow[4], std::to_string(BigRunFiles));
        QCOMPARE(bigRow[9], std::string("1"));
        QCOMPARE(StringsOf(rows[1])[0], "文件列表 (" + std::to_string(BigRunFiles + 1) + ")");
        const std::vector<std::string> markupRow = StringsOf(rows[2]);
        QCOMPARE(markupRow[1], std::string("<b>粗体</b>"));
        QCOMPARE(markupRow[10], std::string("3"));
        QCOMPARE(StringsOf(rows[5])[0], std::string("错误: 删除保护: 计划删除 120 项, 占目标的 80%"));
        QCOMPARE(day["markup"].toInt(), 0);
        QVERIFY(day["secondDay"].toString().contains(QStringLiteral("hand & made")));

        // The big list: its first chunk only, then one more on "更多".
        QJsonObject lines = WaitForJson(page, ListLines(0, 1));
        QCOMPARE(lines["count"].toInt(), 2000 + 1);
        QCOMPARE(lines["first"].toString(), QStringLiteral("/t/照片/0.jpg"));
        QCOMPARE(lines["more"].toInt(), 1);
        QCOMPARE(lines["headings"].toArray().size(), 2);
        Evaluate(page, QStringLiteral(
                           "document.querySelector('details.day tr.files details .more button').click()"));
        lines = WaitForJson(page, ListLines(0, 4000));
        QCOMPARE(lines["count"].toInt(), 4000 + 1);

        // Paths that look like markup or entities read as they were written.
        lines = WaitForJson(page, ListLines(1, 2));
        QVERIFY(StringsOf(lines["texts"]) == std::vector<std::string>({"/t/<b>x</b>", "/t/a&amp;b"}));
        QCOMPARE(Evaluate(page, QStringLiteral("document.querySelectorAll('main b').length")).toInt(), 0);
    }
};

QTEST_MAIN(LogPageTest)
#include "LogPageTest.moc"
