// Request parsing and routing, without sockets.
#include "HttpRequest.h"
#include "HttpResponse.h"

#include <QtTest>

class TestHttpRequest : public QObject {
    Q_OBJECT
private slots:
    void methodAndTargetAreRewrittenAndDecoded_data();
    void methodAndTargetAreRewrittenAndDecoded();
    void headersAreTakenOnlyFromCleanNameValueLines();
    void announcedBodyIsCountedOnlyUnderItsExactName();
    void chunksAreDecodedUpToTheirFirstNul();
    void routingFollowsMethodAndPathPrefixes_data();
    void routingFollowsMethodAndPathPrefixes();
};

void TestHttpRequest::methodAndTargetAreRewrittenAndDecoded_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("filePath");
    QTest::newRow("GET") << "GET / HTTP/1.1\r\nHost: x\r\n\r\n"
                         << "typeGet"
                         << "/"
                         << "/";
    QTest::newRow("POST") << "POST /menu.xml HTTP/1.0\r\n\r\n"
                          << "typePost"
                          << "/menu.xml"
                          << "/menu.xml";
    QTest::newRow("GETX keeps its tail") << "GETX /a HTTP/1.0\r\n\r\n"
                                         << "typeGetX"
                                         << "/a"
                                         << "/a";
    QTest::newRow("typeGet passes unchanged") << "typeGet /a HTTP/1.0\r\n\r\n"
                                              << "typeGet"
                                              << "/a"
                                              << "/a";
    QTest::newRow("lower-case get") << "get /a HTTP/1.0\r\n\r\n"
                                    << "get"
                                    << "/a"
                                    << "/a";
    QTest::newRow("escape in the path") << "GET /%61ssets/menu.html HTTP/1.0\r\n\r\n"
                                        << "typeGet"
                                        << "/assets/menu.html"
                                        << "/assets/menu.html";
    QTest::newRow("query kept in the path, not in the file")
        << "GET /assets/menu.html?v=2 HTTP/1.0\r\n\r\n"
        << "typeGet"
        << "/assets/menu.html?v=2"
        << "/assets/menu.html";
    QTest::newRow("escaped colon in the query is decoded")
        << "GET /menu.xml?strRequest=requestInit%3ArequestRead HTTP/1.0\r\n\r\n"
        << "typeGet"
        << "/menu.xml?strRequest=requestInit:requestRead"
        << "/menu.xml";
    QTest::newRow("escaped question mark stays in the file name")
        << "GET /assets/a%3Fb?c HTTP/1.0\r\n\r\n"
        << "typeGet"
        << "/assets/a?b?c"
        << "/assets/a?b";
    QTest::newRow("escaped traversal is decoded for the file check")
        << "GET /assets/%2E%2e%2fx HTTP/1.0\r\n\r\n"
        << "typeGet"
        << "/assets/../x"
        << "/assets/../x";
    QTest::newRow("a host in the target names no file") << "GET //assets/x HTTP/1.0\r\n\r\n"
                                                        << "typeGet"
                                                        << "//assets/x"
                                                        << "";
    QTest::newRow("two spaces") << "GET  / HTTP/1.0\r\n\r\n"
                                << ""
                                << ""
                                << "";
    QTest::newRow("no version") << "GET /\r\n\r\n"
                                << ""
                                << ""
                                << "";
    QTest::newRow("no blank line") << "GET / HTTP/1.0\r\n"
                                   << ""
                                   << ""
                                   << "";
    QTest::newRow("a body holding a blank line") << "GET / HTTP/1.0\r\n\r\nbody\r\n\r\nmore"
                                                 << ""
                                                 << ""
                                                 << "";
    QTest::newRow("nothing received") << ""
                                      << ""
                                      << ""
                                      << "";
}

void TestHttpRequest::methodAndTargetAreRewrittenAndDecoded() {
    QFETCH(QString, text);
    const HttpRequest request = HttpRequest::parse(text);
    QTEST(request.strType, "type");
    QTEST(request.strPath, "path");
    QTEST(request.strFilePath, "filePath");
}

void TestHttpRequest::headersAreTakenOnlyFromCleanNameValueLines() {
    const HttpRequest request = HttpRequest::parse(
        "GET / HTTP/1.0\r\nHost: a\r\nX-Time: 12: 30\r\nNoSpace:x\r\nhost: b\r\nHost:  c \r\n\r\n");
    // Only the first blank after the colon belongs to the separator.
    QCOMPARE(request.headers.value("Host"), QString(" c "));
    QCOMPARE(request.headers.value("host"), QString("b"));
    QVERIFY(!request.headers.contains("X-Time"));
    QVERIFY(!request.headers.contains("NoSpace:x"));
    QVERIFY(!request.headers.contains("NoSpace"));
}

void TestHttpRequest::announcedBodyIsCountedOnlyUnderItsExactName() {
    QCOMPARE(
        HttpRequest::parse("POST / HTTP/1.0\r\nContent-Length: 10\r\n\r\nabcd").bodyRemaining(),
        qint64(6));
    QCOMPARE(HttpRequest::parse("POST / HTTP/1.0\r\ncontent-length: 10\r\n\r\n").bodyRemaining(),
             qint64(0));
    QCOMPARE(HttpRequest::parse("POST / HTTP/1.0\r\nContent-Length: ten\r\n\r\n").bodyRemaining(),
             qint64(0));
    QCOMPARE(HttpRequest::parse("POST / HTTP/1.0\r\nContent-Length: 2\r\n\r\nabcd").bodyRemaining(),
             qint64(0));
    // Bytes, not characters, and a NUL in the body still counts.
    const QByteArray received("POST / HTTP/1.0\r\nContent-Length: 6\r\n\r\n\xc3\xa9\0a", 42);
    QCOMPARE(HttpRequest::fromBytes(received).bodyRemaining(), qint64(2));
}

void TestHttpRequest::chunksAreDecodedUpToTheirFirstNul() {
    QCOMPARE(HttpRequest::decodeChunk(QByteArray("GET /a\0b", 8)), QString("GET /a"));
    QCOMPARE(HttpRequest::decodeChunk("caf\xc3\xa9"), QString::fromUtf8("caf\xc3\xa9"));
    QVERIFY(!HttpRequest::headComplete("GET / HTTP/1.0\r\n\r"));
    QVERIFY(HttpRequest::headComplete("GET / HTTP/1.0\r\n\r\n"));
}

void TestHttpRequest::routingFollowsMethodAndPathPrefixes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("responseType");
    const auto get = [](const char *path) {
        return QString("GET %1 HTTP/1.0\r\n\r\n").arg(QString::fromUtf8(path));
    };
    QTest::newRow("root") << get("/") << "typeMove";
    QTest::newRow("assets") << get("/assets/menu.html") << "typeFile";
    QTest::newRow("res") << get("/res/LOGO.PNG") << "typeFile";
    QTest::newRow("src") << get("/src/data.json") << "typeFile";
    QTest::newRow("escaped prefix") << get("/%61ssets/menu.html") << "typeFile";
    QTest::newRow("assets without slash") << get("/assets") << "";
    QTest::newRow("capital A") << get("/Assets/menu.html") << "";
    QTest::newRow("document") << get("/menu.xml") << "typeText";
    QTest::newRow("document prefix only") << get("/menu.xmlx") << "typeText";
    QTest::newRow("other") << get("/index.html") << "";
    QTest::newRow("peers") << get("/peers.json") << "typeText";
    QTest::newRow("service discovery with a query") << get("/sd.json?x=1") << "typeText";
    QTest::newRow("peers prefix only") << get("/peers.jsonx") << "";
    QTest::newRow("history since") << get("/history.json?since=1") << "typeText";
    QTest::newRow("history prefix only") << get("/history.jsonp") << "";
    QTest::newRow("HEAD") << "HEAD / HTTP/1.0\r\n\r\n"
                          << "";
    QTest::newRow("get") << "get / HTTP/1.0\r\n\r\n"
                         << "";
    QTest::newRow("POST document") << "POST /menu.xml HTTP/1.0\r\n\r\n"
                                   << "";
    QTest::newRow("GETX") << "GETX / HTTP/1.0\r\n\r\n"
                          << "";
    QTest::newRow("typeGet") << "typeGet / HTTP/1.0\r\n\r\n"
                             << "typeMove";
    QTest::newRow("two spaces") << "GET  / HTTP/1.0\r\n\r\n"
                                << "";
}

void TestHttpRequest::routingFollowsMethodAndPathPrefixes() {
    QFETCH(QString, text);
    QTEST(HttpResponse::route(HttpRequest::parse(text)).strType, "responseType");
}

QTEST_APPLESS_MAIN(TestHttpRequest)
#include "HttpRequestTest.moc"
