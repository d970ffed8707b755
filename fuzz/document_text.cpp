// Texts from the system or the network, cleaned, in the status document: whatever the texts, the
// document parses with a strict XML reader and gives back each text as cleaned; cleaning changes
// exactly the characters that XML 1.0 forbids and keeps a legal text as it is.
//
// Input: texts, each a length byte and that many bytes. A text whose first byte is odd is UTF-8
// (as an adapter or disk name arrives); one whose first byte is even is taken as raw UTF-16 units,
// so that lone surrogates and U+FFFE occur too. The texts fill the string fields of one record per
// table.
#include "CleanText.h"
#include "DeviceTables.h"
#include "FuzzCheck.h"
#include "Memory.h"
#include "Network.h"
#include "Processor.h"
#include "StatusDocument.h"
#include "Storage.h"

#include <QMap>
#include <QXmlStreamReader>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

// XML 1.0's Char production, by code point.
bool legalCodePoint(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Checks clean() against the production: a legal character stays, each unit of anything else
// becomes U+FFFD. Returns whether the text was legal as given.
bool checkCleaned(const QString &text, const QString &cleaned) {
    FUZZ_CHECK(cleaned.size() == text.size());
    bool legal = true;
    for (qsizetype i = 0; i < text.size();) {
        const char16_t unit = text.at(i).unicode();
        char32_t codePoint = unit;
        qsizetype length = 1;
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            codePoint = QChar::surrogateToUcs4(unit, text.at(i + 1).unicode());
            length = 2;
        } else if (QChar::isSurrogate(unit)) {
            codePoint = 0xFFFFFFFF;
        }
        if (legalCodePoint(codePoint)) {
            FUZZ_CHECK(QStringView(cleaned).mid(i, length) == QStringView(text).mid(i, length));
        } else {
            legal = false;
            FUZZ_CHECK(cleaned.at(i).unicode() == 0xFFFD);
        }
        i += length;
    }
    return legal;
}

QString cleanedText(const QByteArray &bytes) {
    const bool utf8 = !bytes.isEmpty() && (uchar(bytes.at(0)) & 1);
    const QString text =
        utf8 ? QString::fromUtf8(bytes)
             : QString(reinterpret_cast<const QChar *>(bytes.constData()), bytes.size() / 2);
    const QString cleaned = CleanText::clean(text);
    if (utf8)
        FUZZ_CHECK(CleanText::fromUtf8(bytes) == cleaned);
    const bool legal = checkCleaned(text, cleaned);
    FUZZ_CHECK(CleanText::isClean(text) == legal);
    if (legal) {
        FUZZ_CHECK(cleaned == text);
        FUZZ_CHECK(cleaned.constData() == text.constData());
    }
    FUZZ_CHECK(CleanText::isClean(cleaned));
    return cleaned;
}

// End-of-line handling of XML: a parser reads CR LF and a lone CR as LF.
QString asParsed(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

Memory *memory = nullptr;
Network *network = nullptr;
Processor *processor = nullptr;
Storage *storage = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // One record per table, for the whole run; only their texts change.
    memory = new Memory(QString(), 0, 0);
    network = new Network(QString(), QString(), QString(), QString(), 0, 0, 0);
    processor = new Processor(0, QString(), QString());
    storage = new Storage(0xFFFF, QString(), QString(), QString());
    memoryTable.append(memory);
    networkTable.append(network);
    processorTable.append(processor);
    storageTable.append(storage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    QStringList texts;
    for (size_t at = 0; at < size;) {
        const size_t length = std::min<size_t>(data[at], size - at - 1);
        texts << cleanedText(
            QByteArray(reinterpret_cast<const char *>(data + at + 1), qsizetype(length)));
        at += 1 + length;
    }
    while (texts.size() < 10)
        texts << QString();

    QMap<QString, QString> expected;
    auto set = [&expected, &texts](QString &field, const char *element) {
        field = texts.takeFirst();
        expected.insert(QLatin1String(element), asParsed(field));
    };
    {
        QMutexLocker locker(&memoryTable.mutex());
        set(memory->strName, "Memory/strName");
    }
    {
        QMutexLocker locker(&networkTable.mutex());
        set(network->strName, "Network/strName");
        set(network->strAddress, "Network/strAddress");
        set(network->strSubnetmask, "Network/strSubnetmask");
        set(network->strGateway, "Network/strGateway");
    }
    {
        QMutexLocker locker(&processorTable.mutex());
        set(processor->strName, "Processor/strName");
        set(processor->strFamily, "Processor/strFamily");
    }
    {
        QMutexLocker locker(&storageTable.mutex());
        set(storage->strModel, "Storage/strModel");
        set(storage->strSerial, "Storage/strSerial");
        set(storage->strFirmware, "Storage/strFirmware");
    }

    const QByteArray document =
        StatusDocument::build(QStringLiteral("/menu.xml?strRequest=requestRead")).toUtf8();
    QXmlStreamReader reader(document);
    QString record;
    QMap<QString, QString> parsed;
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement())
            continue;
        if (reader.name() == QLatin1String("Memory") || reader.name() == QLatin1String("Network") ||
            reader.name() == QLatin1String("Processor") ||
            reader.name() == QLatin1String("Storage")) {
            record = reader.name().toString();
        } else if (reader.name().startsWith(QLatin1String("str"))) {
            const QString name = record + QLatin1Char('/') + reader.name().toString();
            parsed.insert(name, reader.readElementText());
        }
    }
    if (reader.hasError())
        std::fprintf(stderr, "%s\n", qPrintable(reader.errorString()));
    FUZZ_CHECK(!reader.hasError());
    for (auto text = expected.constBegin(); text != expected.constEnd(); ++text)
        FUZZ_CHECK(parsed.value(text.key()) == text.value());
    return 0;
}
