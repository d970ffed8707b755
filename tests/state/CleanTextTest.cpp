#include "CleanText.h"

#include <QTest>
#include <QXmlStreamReader>

class CleanTextTest : public QObject {
    Q_OBJECT
private slots:
    void forbiddenCharactersBecomeReplacement_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const QString r(QChar(0xFFFD));
        QTest::newRow("escape in an adapter name") << QStringLiteral("nic\x1bx") << "nic" + r + "x";
        QTest::newRow("NUL and DEL")
            << QString::fromUtf16(u"a\u0000b\u007f", 4) << "a" + r + "b\u007f";
        QTest::newRow("noncharacters")
            << QString(QChar(0xFFFE)) + "x" + QChar(0xFFFF) << r + "x" + r;
        QTest::newRow("lone high surrogate") << QString(QChar(0xD800)) + "a" << r + "a";
        QTest::newRow("lone low surrogate") << "a" + QString(QChar(0xDC00)) << "a" + r;
        QTest::newRow("pair kept")
            << QString::fromUtf16(u"\U0001F600") << QString::fromUtf16(u"\U0001F600");
        QTest::newRow("tab, CR, LF kept")
            << QStringLiteral("a\tb\r\nc") << QStringLiteral("a\tb\r\nc");
        QTest::newRow("markup kept for escaping") << QStringLiteral("<&>") << QStringLiteral("<&>");
    }
    void forbiddenCharactersBecomeReplacement() {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(CleanText::clean(input), expected);
        QCOMPARE(CleanText::isClean(input), input == expected);
    }

    void invalidUtf8BecomesReplacementAndParses() {
        const QString text = CleanText::fromUtf8(QByteArray("ok\xff\xc3(\x01", 6));
        QVERIFY(text.startsWith(QLatin1String("ok")));
        QVERIFY(CleanText::isClean(text));
        QXmlStreamReader reader(QStringLiteral("<a>") + text.toHtmlEscaped() +
                                QStringLiteral("</a>"));
        while (!reader.atEnd())
            reader.readNext();
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
    }
};

QTEST_APPLESS_MAIN(CleanTextTest)
#include "CleanTextTest.moc"
