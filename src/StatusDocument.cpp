#include "StatusDocument.h"

#include "DeviceTables.h"
#include "Memory.h"
#include "Network.h"
#include "Processor.h"
#include "Storage.h"
#include "platform/Platform.h"

namespace {
const QString requestKey = QStringLiteral("strRequest=");
const QString requestInit = QStringLiteral("requestInit");
const QString requestRead = QStringLiteral("requestRead");
const QString requestMemory = QStringLiteral("requestMemory");

// Device texts come from the system (adapter descriptions, disk models) and may hold markup
// characters; escaped, the document stays well-formed. Other texts pass unchanged.
QString escaped(const QString &text) {
    bool plain = true;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '&' || u == '<' || u == '>' || u == '"' || u == '\'') {
            plain = false;
            break;
        }
    }
    if (plain)
        return text;
    QString result;
    result.reserve(text.size() + 16);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            result += QLatin1String("&amp;");
            break;
        case '<':
            result += QLatin1String("&lt;");
            break;
        case '>':
            result += QLatin1String("&gt;");
            break;
        case '"':
            result += QLatin1String("&quot;");
            break;
        case '\'':
            result += QLatin1String("&apos;");
            break;
        default:
            result += c;
        }
    }
    return result;
}

// The pieces are appended one by one into the document, so that an element costs no
// temporary strings: a document is built for every poll of every dashboard.
void appendText(QString &out, QLatin1String element, const QString &value) {
    out += QLatin1Char('<');
    out += element;
    out += QLatin1Char('>');
    out += escaped(value);
    out += QLatin1String("</");
    out += element;
    out += QLatin1Char('>');
}

void appendNumber(QString &out, QLatin1String element, quint64 value) {
    char digits[20];
    int at = sizeof digits;
    do {
        digits[--at] = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    out += QLatin1Char('<');
    out += element;
    out += QLatin1Char('>');
    out += QLatin1String(digits + at, int(sizeof digits) - at);
    out += QLatin1String("</");
    out += element;
    out += QLatin1Char('>');
}

void appendRecord(QString &out, const Memory &record) {
    out += QLatin1String("<Memory>");
    appendText(out, QLatin1String("strIdent"), record.strIdent);
    appendText(out, QLatin1String("strName"), record.strName);
    appendNumber(out, QLatin1String("intTotal"), record.intTotal);
    appendNumber(out, QLatin1String("intFree"), record.intFree);
    appendNumber(out, QLatin1String("intUsage"), record.intUsage);
    out += QLatin1String("</Memory>");
}

void appendRecord(QString &out, const Network &record) {
    out += QLatin1String("<Network>");
    appendText(out, QLatin1String("strIdent"), record.strIdent);
    appendText(out, QLatin1String("strName"), record.strName);
    appendText(out, QLatin1String("strAddress"), record.strAddress);
    appendText(out, QLatin1String("strSubnetmask"), record.strSubnetmask);
    appendText(out, QLatin1String("strGateway"), record.strGateway);
    appendNumber(out, QLatin1String("intSpeed"), Network::speedField(record.intSpeed));
    appendNumber(out, QLatin1String("intOctetsRead"), record.intOctetsRead);
    appendNumber(out, QLatin1String("intOctetsWrite"), record.intOctetsWrite);
    appendNumber(out, QLatin1String("intPacketsRead"), record.intPacketsRead);
    appendNumber(out, QLatin1String("intPacketsWrite"), record.intPacketsWrite);
    appendNumber(out, QLatin1String("intBytesRead"), record.intBytesRead);
    appendNumber(out, QLatin1String("intBytesWrite"), record.intBytesWrite);
    appendNumber(out, QLatin1String("intUsage"), record.intUsage);
    out += QLatin1String("</Network>");
}

void appendRecord(QString &out, const Processor &record) {
    out += QLatin1String("<Processor>");
    appendText(out, QLatin1String("strIdent"), record.strIdent);
    appendNumber(out, QLatin1String("intCore"), record.intCore);
    appendText(out, QLatin1String("strName"), record.strName);
    appendText(out, QLatin1String("strFamily"), record.strFamily);
    appendNumber(out, QLatin1String("intUsage"), record.intUsage);
    out += QLatin1String("</Processor>");
}

void appendRecord(QString &out, const Storage &record) {
    out += QLatin1String("<Storage>");
    appendText(out, QLatin1String("strIdent"), record.strIdent);
    appendText(out, QLatin1String("strModel"), record.strModel);
    appendText(out, QLatin1String("strSerial"), record.strSerial);
    appendText(out, QLatin1String("strFirmware"), record.strFirmware);
    appendNumber(out, QLatin1String("intPacketsRead"), record.intPacketsRead);
    appendNumber(out, QLatin1String("intPacketsWrite"), record.intPacketsWrite);
    appendNumber(out, QLatin1String("intBytesRead"), record.intBytesRead);
    appendNumber(out, QLatin1String("intBytesWrite"), record.intBytesWrite);
    appendNumber(out, QLatin1String("intUsage"), record.intUsage);
    out += QLatin1String("</Storage>");
}

// One table at a time, under its own mutex only; the length is read again after every record.
template <typename Record>
void appendTable(QString &out, const QVector<Record *> &table, QMutex &mutex) {
    QMutexLocker locker(&mutex);
    for (qsizetype i = 0; i < table.size(); ++i)
        appendRecord(out, *table.at(i));
}

// The memory records with the figures of this moment, under their own identifiers. The records
// keep the figures of their scan, so a reader that does not ask for this sees what it always saw.
void appendFreshMemory(QString &out) {
    const platform::MemoryStatus status = platform::memoryStatus();
    QMutexLocker locker(&memoryMutex);
    for (qsizetype i = 0; i < memoryTable.size(); ++i) {
        Memory fresh = *memoryTable.at(i);
        if (fresh.strName == QLatin1String("Physical")) {
            fresh.intTotal = status.totalPhys;
            fresh.intFree = status.availPhys;
        } else if (fresh.strName == QLatin1String("Pagefile")) {
            fresh.intTotal = status.totalPageFile;
            fresh.intFree = status.availPageFile;
        }
        fresh.intUsage = Memory::usage(fresh.intTotal, fresh.intFree);
        appendRecord(out, fresh);
    }
}
} // namespace

QStringList StatusDocument::requestWords(const QString &requestPath) {
    const qsizetype start = requestPath.indexOf(requestKey);
    if (start < 0)
        return {};
    const qsizetype valueStart = start + requestKey.size();
    qsizetype valueEnd = requestPath.indexOf(QLatin1Char('&'), valueStart);
    if (valueEnd < 0)
        valueEnd = requestPath.size();
    return requestPath.mid(valueStart, valueEnd - valueStart)
        .split(QLatin1Char(':'), Qt::KeepEmptyParts);
}

QString StatusDocument::build(const QString &requestPath) {
    const QStringList words = requestWords(requestPath);
    QString document;
    // Room for a machine with a few dozen devices, taken once.
    document.reserve(16 * 1024);
    document += QLatin1String("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><xml>");
    if (words.contains(requestInit)) {
        memoryTableClear();
        memoryTableFill();
        networkTableClear();
        networkTableFill();
        processorTableClear();
        processorTableFill();
        storageTableClear();
        storageTableFill();
    }
    if (words.contains(requestRead)) {
        if (words.contains(requestMemory))
            appendFreshMemory(document);
        else
            appendTable(document, memoryTable, memoryMutex);
        appendTable(document, networkTable, networkMutex);
        appendTable(document, processorTable, processorMutex);
        appendTable(document, storageTable, storageMutex);
    }
    document += QLatin1String("</xml>");
    return document;
}
