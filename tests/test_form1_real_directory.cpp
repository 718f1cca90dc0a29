// The main window's start-up and fetch against a real directory page on a
// loopback server, through the real browser.

#include "main_window/form1.h"
#include "main_window/list_box.h"
#include "main_window/picture.h"
#include "platform/html_browser.h"
#include "platform/text_decoding.h"
#include "tests/support/loopback_platform.h"
#include "tests/support/loopback_server.h"
#include "tests/support/table_cells.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

using testsupport::Column;
using testsupport::RowCount;

namespace {

// A directory page as a server writes it: markup around the text, one station
// per line separated by <br>, and a script whose text must not show.
const QByteArray kDirectoryPage = R"page(<!DOCTYPE html>
<html><head><meta charset="gbk"><title>目录</title>
<style>body { color: red }</style><script>var x = "(id)666(/id)";</script></head>
<body><div>(zebok)</div>
(id)101(/id)(title)北京音乐台(/title)(url)http://127.0.0.1:1/101(/url)(local)北京(/local)(hot)320(/hot)<br>
(id)102(/id)(title)上海 &amp; 东方(/title)(url)http://127.0.0.1:1/102(/url)(local)上海(/local)(hot)0(/hot)<br/>
(id)103(/id)(title)广东&lt;新闻&gt;(/title)(url)http://127.0.0.1:1/103(/url)(local)广东(/local)(hot)85(/hot)
</body></html>)page";

} // namespace

class TestForm1RealDirectory : public QObject {
    Q_OBJECT
private slots:
    void loadsDirectoryPage();
    void notReady_data();
    void notReady();

private:
    std::unique_ptr<Form1> start(platform::Platform &platform);
    QTemporaryDir cacheFolder_;
};

// The real browser and requests; the tests drive the timers themselves.
std::unique_ptr<Form1> TestForm1RealDirectory::start(platform::Platform &platform) {
    auto form = std::make_unique<Form1>(platform);
    form->CacheFolders = {cacheFolder_.path()};
    form->Timer1->stop();
    form->Timer3->stop();
    return form;
}

void TestForm1RealDirectory::loadsDirectoryPage() {
    testsupport::LoopbackServer server;
    // Declared only inside the page, as many servers do.
    server.serve("/radio/1.59.asp", platform::EncodeText(QString::fromUtf8(kDirectoryPage), "gbk"),
                 "text/html");
    testsupport::LoopbackPlatform platform(testsupport::LoopbackPlatform::onServer(server.url("")));
    const std::unique_ptr<Form1> form = start(platform);
    QCOMPARE(form->Label2->text(), QStringLiteral("状态：连接服务器"));
    QTRY_COMPARE_WITH_TIMEOUT(form->Label2->text(), QStringLiteral("状态：就绪"), 10000);
    QVERIFY(form->ServerReady);

    form->FetchChannels();
    QVERIFY(form->ChannelsFetched);
    QCOMPARE(Column(form->ListView1, 0), (QStringList{"103", "102", "101"}));
    QCOMPARE(Column(form->ListView1, 2),
             (QStringList{QStringLiteral("广东<新闻>"), QStringLiteral("上海 & 东方"),
                          QStringLiteral("北京音乐台")}));
    QCOMPARE(Column(form->ListView1, 4), (QStringList{"85", "", "320"}));
    QCOMPARE(Column(form->ListView1, 5),
             (QStringList{QStringLiteral("☆☆"), "", QStringLiteral("☆☆☆☆")}));
    QCOMPARE(form->List1->text(0), "(zebok)");
    QCOMPARE(form->List1->count(), 4);
    QCOMPARE(server.requestCount("/radio/1.59.asp"), 1);

    // A second click, even before the blank page completes, keeps the table.
    form->FetchChannels();
    // The blank page completes without touching the state.
    QTRY_COMPARE_WITH_TIMEOUT(form->WebBrowser1->LocationURL(), QStringLiteral("about:blank"),
                              5000);
    QTest::qWait(50);
    QCOMPARE(form->Label2->text(), QStringLiteral("状态：就绪"));
    QCOMPARE(RowCount(form->ListView1), 3);
    QCOMPARE(form->List1->count(), 4);
}

void TestForm1RealDirectory::notReady_data() {
    QTest::addColumn<bool>("serverUp");
    QTest::newRow("dead server") << false;
    // The stations past the cap would be missing without a word.
    QTest::newRow("directory beyond the document cap") << true;
}

void TestForm1RealDirectory::notReady() {
    QFETCH(bool, serverUp);
    testsupport::LoopbackServer server;
    const QByteArray line = QStringLiteral("<br>(id)101(/id)(title)北京音乐台(/title)(url)http://"
                                           "127.0.0.1:1/101(/url)(local)北京(/local)(hot)3(/hot)")
                                .toUtf8();
    const auto cap = static_cast<qint64>(platform::HtmlBrowser::documentLimits().maxBodyBytes);
    server.serveRepeated("/radio/1.59.asp", "<html><body>(zebok)", line, cap / line.size() + 1,
                         "</body></html>");
    const QString root = serverUp
                             ? server.url("")
                             : QStringLiteral("http://127.0.0.1:%1").arg(testsupport::UnusedPort());
    testsupport::LoopbackPlatform platform(testsupport::LoopbackPlatform::onServer(root));
    const std::unique_ptr<Form1> form = start(platform);
    QTRY_COMPARE_WITH_TIMEOUT(form->Label2->text(), QStringLiteral("状态：连接失败"), 20000);
    QVERIFY(!form->WebBrowser1->BodyText().contains(QStringLiteral("(zebok)")));
    QVERIFY(!form->ServerReady);
    QVERIFY(!form->Image11->isEnabled());
}

QTEST_MAIN(TestForm1RealDirectory)
#include "test_form1_real_directory.moc"
