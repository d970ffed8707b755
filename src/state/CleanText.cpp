#include "CleanText.h"

namespace {

constexpr char16_t replacement = 0xFFFD;

// The length of the legal character at position i (1, or 2 for a surrogate pair), or 0 when
// the character there is not allowed in an XML 1.0 document.
int legalLength(const QChar *chars, qsizetype size, qsizetype i) {
    const char16_t c = chars[i].unicode();
    if (c < 0x20)
        return (c == '\t' || c == '\n' || c == '\r') ? 1 : 0;
    if (c == 0xFFFE || c == 0xFFFF)
        return 0;
    if (QChar::isHighSurrogate(c))
        return (i + 1 < size && QChar::isLowSurrogate(chars[i + 1].unicode())) ? 2 : 0;
    if (QChar::isLowSurrogate(c))
        return 0;
    return 1;
}

} // namespace

bool CleanText::isClean(const QString &text) {
    const QChar *chars = text.constData();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size;) {
        const int length = legalLength(chars, size, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

QString CleanText::clean(const QString &text) {
    if (isClean(text))
        return text;
    QString result;
    result.reserve(text.size());
    const QChar *chars = text.constData();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size;) {
        const int length = legalLength(chars, size, i);
        if (length == 0) {
            result += QChar(replacement);
            ++i;
        } else {
            result.append(chars + i, length);
            i += length;
        }
    }
    return result;
}

QString CleanText::fromUtf8(const QByteArray &bytes) {
    // Qt's decoder already turns every invalid sequence into U+FFFD.
    return clean(QString::fromUtf8(bytes));
}
