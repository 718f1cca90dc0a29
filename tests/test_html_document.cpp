// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/html_document.h"

#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTest>

using platform::FormSubmission;
using platform::HtmlDocument;

namespace {

const QString kPageUrl = QStringLiteral("http://127.0.0.1:8159/board/index.asp?from=menu");
const QString kTyped = QString::fromUtf8("你好 a&b+c😀");

QByteArray Gbk(const QString &text) {
    return QStringEncoder("gbk")(text);
}

// The message board: a textarea, a hidden field and a submit control.
QString BoardForm(const QString &formAttributes) {
    return "<form " + formAttributes +
           "><textarea id=\"textarea\" name=\"message\"></textarea>"
           "<input type=\"hidden\" name=\"k\" value=\"v 1\">"
           "<input type=\"submit\" id=\"button\" name=\"send\" value=\"提交\"></form>";
}

} // namespace

class TestHtmlDocument : public QObject {
    Q_OBJECT

private slots:
    void innerText_data() {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("text");
        QTest::newRow("br separates lines") << "(zebok)<br>(id)1(/id)<br>(id)2(/id)"
                                            << "(zebok)\r\n(id)1(/id)\r\n(id)2(/id)";
        QTest::newRow("a paragraph stands apart by blank lines") << "x<p>para</p>y"
                                                                 << "x\r\n\r\npara\r\n\r\ny";
        QTest::newRow("no blank line at the start or the end") << "<p>a</p><p>b</p>"
                                                               << "a\r\n\r\nb";
        QTest::newRow("block elements start lines")
            << "<div>a</div><div>b</div><h1>T</h1><ul><li>1</li><li>2</li></ul>tail"
            << "a\r\nb\r\nT\r\n1\r\n2\r\ntail";
        QTest::newRow("nested blocks add no empty lines")
            << "<div><div><div>a</div></div></div><section><div>b</div></section>"
            << "a\r\nb";
        QTest::newRow("br at the end of a block adds no line") << "<div>a<br></div><div>b</div>"
                                                               << "a\r\nb";
        QTest::newRow("two br make an empty line") << "a<br><br>b"
                                                   << "a\r\n\r\nb";
        QTest::newRow("table cells and rows")
            << "<table><tr><td>a</td><td>b</td></tr><tr><th> c </th><td>d</td></tr></table>"
            << "a\tb\r\nc\td";
        QTest::newRow("hidden content is skipped")
            << "<head><title>t</title><style>p{}</style></head><body>a<script>var s='<b>x';"
               "</script><noscript>n</noscript><template>t</template><span hidden>h</span>"
               "<div style=\"display: none\">d</div><select><option>o</option></select>b</body>"
            << "ab";
        QTest::newRow("white space collapses across elements") << "  a \n\t b  <b> c </b>  d  "
                                                               << "a b c d";
        QTest::newRow("pre keeps white space") << "<pre>\n a  b\r\n c</pre>"
                                               << " a  b\r\n c";
        QTest::newRow("pre breaks at CR alone") << "<pre>\r\ra\rb\r\r\nc\r</pre>"
                                                << "\r\na\r\nb\r\n\r\nc\r\n";
        QTest::newRow("textarea keeps white space") << "x<textarea>\nl1\n  l2</textarea>"
                                                    << "xl1\r\n  l2";
        QTest::newRow("entities") << "&lt;a&gt; &amp; &#20320;" << QString::fromUtf8("<a> & 你");
        QTest::newRow("empty page") << ""
                                    << "";
    }
    void innerText() {
        QFETCH(QString, html);
        QFETCH(QString, text);
        QCOMPARE(QString::fromUtf8(HtmlDocument(html.toUtf8(), kPageUrl).innerTextUtf8()), text);
    }

    void charset_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("charset");
        const QString text = QString::fromUtf8("你好");
        const QByteArray httpEquiv = "<html><head><meta http-equiv=\"Content-Type\" "
                                     "content=\"text/html; charset=gb2312\"></head><body>";
        QTest::newRow("http-equiv meta only")
            << httpEquiv + Gbk(text) << QByteArray("text/html") << QByteArray("gb2312");
        QTest::newRow("meta charset")
            << "<meta charset='GBK'>" + Gbk(text) << QByteArray() << QByteArray("gbk");
        QTest::newRow("header before meta")
            << "<meta charset=gbk>" + text.toUtf8() << QByteArray("text/html; charset=utf-8")
            << QByteArray("utf-8");
        QTest::newRow("unknown header charset, meta decides")
            << httpEquiv + Gbk(text) << QByteArray("text/html; charset=x-bogus")
            << QByteArray("gb2312");
        QTest::newRow("undeclared utf-8") << text.toUtf8() << QByteArray() << QByteArray("utf-8");
        QTest::newRow("undeclared gbk") << Gbk(text) << QByteArray() << QByteArray("gb18030");
    }
    void charset() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, charset);
        const HtmlDocument document(bytes, kPageUrl, contentType);
        QCOMPARE(document.charset(), charset);
        QCOMPARE(QString::fromUtf8(document.innerTextUtf8()), QString::fromUtf8("你好"));
    }

    void submission_data() {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QString>("clicked");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        const QByteArray utf8Body = "message=%E4%BD%A0%E5%A5%BD+a%26b%2Bc%F0%9F%98%80&k=v+1&send="
                                    "%E6%8F%90%E4%BA%A4";
        const QByteArray gbkBody =
            "message=%C4%E3%BA%C3+a%26b%2Bc%26%23128512%3B&k=v+1&send=%CC%E1%BD%BB";
        const QByteArray form = "application/x-www-form-urlencoded";
        QTest::newRow("utf-8 post")
            << BoardForm("method=\"post\" action=\"/maiz.asp\"").toUtf8() << "button"
            << QByteArray("POST") << "http://127.0.0.1:8159/maiz.asp" << utf8Body << form;
        QTest::newRow("gbk post") << "<meta charset=gbk>" +
                                         Gbk(BoardForm("method=POST action=\"post.asp\""))
                                  << "button" << QByteArray("POST")
                                  << "http://127.0.0.1:8159/board/post.asp" << gbkBody << form;
        QTest::newRow("get replaces the action's query")
            << BoardForm("action=\"post.asp?old=1#top\"").toUtf8() << "button" << QByteArray("GET")
            << QString::fromLatin1("http://127.0.0.1:8159/board/post.asp?" + utf8Body + "#top")
            << QByteArray() << QByteArray();
        QTest::newRow("no action is the page itself")
            << BoardForm("method=\"get\"").toUtf8() << "button" << QByteArray("GET")
            << QString::fromLatin1("http://127.0.0.1:8159/board/index.asp?" + utf8Body)
            << QByteArray() << QByteArray();
        QTest::newRow("multipart")
            << BoardForm("method=post enctype=\"multipart/form-data\"").toUtf8() << "button"
            << QByteArray("POST") << "http://127.0.0.1:8159/board/index.asp?from=menu"
            << "--B\r\nContent-Disposition: form-data; name=\"message\"\r\n\r\n" + kTyped.toUtf8() +
                   "\r\n--B\r\nContent-Disposition: form-data; name=\"k\"\r\n\r\nv 1\r\n"
                   "--B\r\nContent-Disposition: form-data; name=\"send\"\r\n\r\n提交\r\n--B--\r\n"
            << QByteArray("multipart/form-data; boundary=B");
        QTest::newRow("every kind of control")
            << QByteArray("<form id=f action=/x method=post><input name=t value=1>"
                          "<input type=checkbox name=c1 checked><input type=checkbox name=c2>"
                          "<input type=radio name=r value=a><input type=radio name=r value=b "
                          "checked><select name=s><option>x<option value=y selected>Y</select>"
                          "<select name=s2><option> first  one <option>2</select>"
                          "<select name=m multiple><option selected>1<option selected>2</select>"
                          "<input name=d disabled value=no><input type=submit name=no value=no>"
                          "<button type=button name=no>no</button><input type=file name=no>"
                          "<input type=image name=img id=go></form><input name=o form=f value=o>"
                          "<form><input name=no></form>")
            << "go" << QByteArray("POST") << "http://127.0.0.1:8159/x"
            << QByteArray("t=1&c1=on&r=b&s=y&s2=first+one&m=1&m=2&img.x=0&img.y=0&o=o") << form;
        // Each control's form is found in the same single walk over the page.
        QTest::newRow("form attribute names the first element with that id")
            << QByteArray("<input form=f name=before value=1><div id=f></div>"
                          "<form id=f action=/x><input name=a value=2>"
                          "<input type=submit id=go></form><input form=f name=after value=3>")
            << "go" << QByteArray("GET") << "http://127.0.0.1:8159/x?a=2" << QByteArray()
            << QByteArray();
        QTest::newRow("submitter overrides the form")
            << QByteArray("<form action=/a><input name=t value=1><button id=b name=go value=2 "
                          "formaction=/b formmethod=post>Go</button></form>")
            << "b" << QByteArray("POST") << "http://127.0.0.1:8159/b" << QByteArray("t=1&go=2")
            << form;
    }
    void submission() {
        QFETCH(QByteArray, page);
        QFETCH(QString, clicked);
        QFETCH(QByteArray, method);
        QFETCH(QString, url);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        HtmlDocument document(page, kPageUrl);
        document.setElementValue("textarea", kTyped);
        const std::optional<FormSubmission> submission = document.submissionOnClick(clicked);
        QVERIFY(submission);
        // The multipart boundary is random: the expectation uses "B" for it.
        const QByteArray boundary =
            submission->contentType.mid(submission->contentType.indexOf("boundary=") + 9);
        QCOMPARE(submission->method, method);
        QCOMPARE(submission->url, url);
        QCOMPARE(submission->body, contentType.endsWith("=B")
                                       ? QByteArray(body).replace("--B", "--" + boundary)
                                       : body);
        QCOMPARE(submission->contentType,
                 contentType.endsWith("=B") ? contentType.chopped(1) + boundary : contentType);
    }

    void clicksThatSubmitNothing_data() {
        QTest::addColumn<QString>("id");
        QTest::newRow("missing") << "nothing";
        QTest::newRow("text input") << "text";
        QTest::newRow("plain button") << "plain";
        QTest::newRow("disabled submit") << "disabled";
        QTest::newRow("submit outside a form") << "outside";
    }
    void clicksThatSubmitNothing() {
        QFETCH(QString, id);
        const HtmlDocument document("<form><input id=text><button type=button id=plain>p</button>"
                                    "<input type=submit id=disabled disabled></form>"
                                    "<input type=submit id=outside>",
                                    kPageUrl);
        QVERIFY(!document.submissionOnClick(id));
    }

    void missingIdChangesNothing() {
        HtmlDocument document(BoardForm("method=post").toUtf8(), kPageUrl);
        QVERIFY(document.setElementValue("textarea", "kept"));
        QVERIFY(!document.setElementValue("no-such-id", "lost"));
        QVERIFY(!document.setElementValue("", "lost"));
        QCOMPARE(document.submissionOnClick("button")->body.left(13), QByteArray("message=kept&"));
    }

    // Text runs beyond libxml2's own limit of 10,000,000 bytes are read to the end.
    void longTextKeptWhole_data() {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<QString>("text");
        const QString title = QString(3500000, QChar(u'台')); // 10.5 MB in UTF-8
        const QString line = QStringLiteral("(id)1(/id)(title)") + title + "(/title)";
        QTest::newRow("title line of 10 MB") << ("(zebok)<br>" + line + "<br>(id)2(/id)").toUtf8()
                                             << "(zebok)\r\n" + line + "\r\n(id)2(/id)";
        QStringList stations;
        for (int id = 0; id < 140000; ++id)
            stations.append(QStringLiteral("(id)%1(/id)(title)北京音乐台 %1(/title)(url)http://"
                                           "127.0.0.1:8159/stream/%1.mp3(/url)(local)北京(/local)")
                                .arg(id));
        QTest::newRow("directory of 17 MB in pre")
            << ("<pre>(zebok)\n" + stations.join(u'\n') + "</pre>").toUtf8()
            << "(zebok)\r\n" + stations.join(QStringLiteral("\r\n"));
    }
    void longTextKeptWhole() {
        QFETCH(QByteArray, html);
        QFETCH(QString, text);
        const QString read = QString::fromUtf8(HtmlDocument(html, kPageUrl).innerTextUtf8());
        QVERIFY2(read == text, qPrintable(QStringLiteral("%1 of %2 characters, from %3 bytes")
                                              .arg(read.size())
                                              .arg(text.size())
                                              .arg(html.size())));
    }

    // Whatever arrives makes a document, and reading it neither crashes nor hangs.
    void junkMakesADocument_data() {
        QTest::addColumn<QByteArray>("bytes");
        QByteArray noise(64 * 1024, Qt::Uninitialized);
        QRandomGenerator generator(1159);
        for (char &byte : noise)
            byte = static_cast<char>(generator.bounded(256));
        QTest::newRow("random bytes") << noise;
        QTest::newRow("zero bytes") << QByteArray(1000, '\0');
        QTest::newRow("cut markup") << QByteArray("<html><body><table><tr><td><form id=f><input "
                                                  "type=submit id=button><textarea id=textarea");
        QTest::newRow("deep nesting") << QByteArray("<div><span>").repeated(100000);
        QTest::newRow("unclosed comment and script") << QByteArray("<body>a<!-- b <script>c");
    }
    void junkMakesADocument() {
        QFETCH(QByteArray, bytes);
        HtmlDocument document(bytes, kPageUrl);
        document.setElementValue("textarea", "x");
        static_cast<void>(document.submissionOnClick("button"));
        QVERIFY(QString::fromUtf8(document.innerTextUtf8()).size() <= bytes.size());
    }
};

QTEST_GUILESS_MAIN(TestHtmlDocument)
#include "test_html_document.moc"
