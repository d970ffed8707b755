#include "StatusDocument.h"

#include "DeviceScan.h"
#include "DeviceTables.h"
#include "Memory.h"
#include "Network.h"
#include "Processor.h"
#include "Sample.h"
#include "Storage.h"
#include "platform/Platform.h"

namespace {
const QString requestKey = QStringLiteral("strRequest=");
const QString requestInit = QStringLiteral("requestInit");
const QString requestRead = QStringLiteral("requestRead");
const QString requestMemory = QStringLiteral("requestMemory");
const QString requestSpeed = QStringLiteral("requestSpeed");

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

// One field of a record: its element name and the text of its value.
struct Field {
    QLatin1String element;
    QString value;
};

Field text(const char *element, const QString &value) {
    return {QLatin1String(element), escaped(value)};
}

// Numbers print in decimal; a 32-bit field is narrowed by its caller.
Field number(const char *element, quint64 value) {
    return {QLatin1String(element), QString::number(value)};
}

using Fields = QVector<Field>;

// The figures of one device in the pass the whole document reads, in their print order; 0 for a
// device the pass has none for (before its first pass, or until its rates are known).
Fields sampled(const Sample::Rates *rates, quint64 usage) {
    const Sample::Rates r = rates ? *rates : Sample::Rates();
    return {number("intPacketsRead", r.intPacketsRead),
            number("intPacketsWrite", r.intPacketsWrite), number("intBytesRead", r.intBytesRead),
            number("intBytesWrite", r.intBytesWrite), number("intUsage", usage)};
}

// The one sample the whole document reads, so that its figures all come from one pass.
const Sample &figures(const std::shared_ptr<const Sample> &sample) {
    static const Sample none;
    return sample ? *sample : none;
}

// Appended piece by piece, so that an element costs no temporary strings: a document is built
// for every poll of every dashboard.
void appendTag(QString &out, QLatin1String opening, QLatin1String element) {
    out += opening;
    out += element;
    out += QLatin1Char('>');
}

void appendElement(QString &out, QLatin1String record, const Fields &fields) {
    appendTag(out, QLatin1String("<"), record);
    for (const Field &field : fields) {
        appendTag(out, QLatin1String("<"), field.element);
        out += field.value;
        appendTag(out, QLatin1String("</"), field.element);
    }
    appendTag(out, QLatin1String("</"), record);
}

void appendRecord(QString &out, const Memory &r) {
    appendElement(out, QLatin1String("Memory"),
                  {text("strIdent", r.strIdent), text("strName", r.strName),
                   number("intTotal", r.intTotal), number("intFree", r.intFree),
                   number("intUsage", r.intUsage)});
}

// The interface row's octet counts are 32 bits wide and wrap, and so is its speed, which stops
// at 4.29 Gb/s; wholeSpeed gives the link's whole speed instead.
void appendRecord(QString &out, const Network &r, const Sample &s, bool wholeSpeed) {
    const Sample::Rates *rates = s.adapter(r.intIndex);
    const quint64 usage =
        rates ? Network::usage(rates->intBytesRead, rates->intBytesWrite, r.intSpeed) : 0;
    appendElement(
        out, QLatin1String("Network"),
        Fields{text("strIdent", r.strIdent), text("strName", r.strName),
               text("strAddress", r.strAddress), text("strSubnetmask", r.strSubnetmask),
               text("strGateway", r.strGateway),
               number("intSpeed", wholeSpeed ? r.intSpeed : Network::speedField(r.intSpeed)),
               number("intOctetsRead", quint32(r.intOctetsRead)),
               number("intOctetsWrite", quint32(r.intOctetsWrite))} +
            sampled(rates, usage));
}

void appendRecord(QString &out, const Processor &r, const Sample &s) {
    const Sample::Rates *rates = s.processor(r.intCore);
    appendElement(out, QLatin1String("Processor"),
                  {text("strIdent", r.strIdent), number("intCore", r.intCore),
                   text("strName", r.strName), text("strFamily", r.strFamily),
                   number("intUsage", rates ? rates->intUsage : 0)});
}

void appendRecord(QString &out, const Storage &r, const Sample &s) {
    const Sample::Rates *rates = s.disk(r.intDrive);
    appendElement(out, QLatin1String("Storage"),
                  Fields{text("strIdent", r.strIdent), text("strModel", r.strModel),
                         text("strSerial", r.strSerial), text("strFirmware", r.strFirmware)} +
                      sampled(rates, rates ? rates->intUsage : 0));
}

// The memory records with the figures of this moment, under their own identifiers. The records
// keep the figures of their scan, so a reader that does not ask for this sees what it always saw.
void appendFreshMemory(QString &out) {
    const platform::MemoryStatus status = platform::memoryStatus();
    memoryTable.visit([&](const Memory &record) {
        Memory fresh = record;
        if (fresh.strName == QLatin1String("Physical")) {
            fresh.intTotal = status.totalPhys;
            fresh.intFree = status.availPhys;
        } else if (fresh.strName == QLatin1String("Pagefile")) {
            fresh.intTotal = status.totalPageFile;
            fresh.intFree = status.availPageFile;
        }
        fresh.intUsage = Memory::usage(fresh.intTotal, fresh.intFree);
        appendRecord(out, fresh);
    });
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
    // A rescan already running, or one that ended a moment ago, serves this request too.
    if (words.contains(requestInit))
        DeviceScan::instance().request();
    if (words.contains(requestRead)) {
        if (words.contains(requestMemory))
            appendFreshMemory(document);
        else
            memoryTable.visit([&document](const Memory &r) { appendRecord(document, r); });
        // The texts from the tables, one at a time under its own mutex; every figure from the
        // one pass taken here.
        const std::shared_ptr<const Sample> sample = Sample::current();
        const Sample &s = figures(sample);
        const bool wholeSpeed = words.contains(requestSpeed);
        networkTable.visit([&document, &s, wholeSpeed](const Network &r) {
            appendRecord(document, r, s, wholeSpeed);
        });
        processorTable.visit([&document, &s](const Processor &r) { appendRecord(document, r, s); });
        storageTable.visit([&document, &s](const Storage &r) { appendRecord(document, r, s); });
    }
    document += QLatin1String("</xml>");
    return document;
}
