// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/url_opener.h"

#include <QDesktopServices>
#include <QTest>

// Catches what the desktop would be asked to open, so that no browser starts.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> caught;
public slots:
    void open(const QUrl &url) { caught.append(url); }
};

class TestUrlOpener : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void opensWebAddressesOnly_data();
    void opensWebAddressesOnly();

private:
    UrlCatcher catcher_;
    const QStringList schemes_{"http", "https", "file", "javascript", "ftp", "mailto"};
};

void TestUrlOpener::init() {
    catcher_.caught.clear();
    for (const QString &scheme : schemes_) {
        QDesktopServices::setUrlHandler(scheme, &catcher_, "open");
    }
}

void TestUrlOpener::cleanup() {
    for (const QString &scheme : schemes_) {
        QDesktopServices::unsetUrlHandler(scheme);
    }
}

void TestUrlOpener::opensWebAddressesOnly_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("opened"); // fully encoded; empty when nothing may open

    QTest::newRow("http") << "http://example.org/setup.exe"
                          << "http://example.org/setup.exe";
    QTest::newRow("https, capital scheme") << "HTTPS://example.org/a?b=1"
                                           << "https://example.org/a?b=1";
    QTest::newRow("surrounding blanks") << "  http://example.org/x \r\n"
                                        << "http://example.org/x";
    QTest::newRow("space, ampersand and quotes stay one URL")
        << "http://example.org/new version.exe?a=1&b=\"2\"&c='3'"
        << "http://example.org/new%20version.exe?a=1&b=%222%22&c='3'";
    QTest::newRow("shell syntax is just text") << "http://example.org/a & calc.exe"
                                               << "http://example.org/a%20&%20calc.exe";
    QTest::newRow("Chinese path") << QStringLiteral("http://example.org/下载")
                                  << "http://example.org/%E4%B8%8B%E8%BD%BD";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("blank") << "   "
                           << "";
    QTest::newRow("file") << "file:///etc/passwd"
                          << "";
    QTest::newRow("javascript") << "javascript:alert(1)"
                                << "";
    QTest::newRow("ftp") << "ftp://example.org/a"
                         << "";
    QTest::newRow("mailto") << "mailto:a@example.org"
                            << "";
    QTest::newRow("no scheme") << "example.org/setup.exe"
                               << "";
    QTest::newRow("command") << "calc.exe"
                             << "";
    QTest::newRow("no host") << "http:///setup.exe"
                             << "";
}

void TestUrlOpener::opensWebAddressesOnly() {
    QFETCH(QString, address);
    QFETCH(QString, opened);

    platform::DesktopUrlOpener opener;
    QCOMPARE(opener.open(address), !opened.isEmpty());
    if (opened.isEmpty()) {
        QVERIFY(catcher_.caught.isEmpty());
    } else {
        QCOMPARE(catcher_.caught.size(), 1);
        QCOMPARE(catcher_.caught.first().toString(QUrl::FullyEncoded), opened);
    }
}

QTEST_MAIN(TestUrlOpener)
#include "test_url_opener.moc"
