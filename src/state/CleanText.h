// Texts from the operating system or the network made safe for every output format.
#pragma once

#include <QByteArray>
#include <QString>

class CleanText {
public:
    // The text with every character that XML 1.0 forbids replaced by U+FFFD: C0 controls other
    // than tab, LF and CR, U+FFFE, U+FFFF and lone surrogates. Everything else is unchanged, so
    // a clean text comes back as it was (and without a copy).
    static QString clean(const QString &text);

    // UTF-8 bytes decoded and cleaned: a byte sequence that is not valid UTF-8 becomes U+FFFD.
    static QString fromUtf8(const QByteArray &bytes);

    // True when clean() would return the text unchanged.
    static bool isClean(const QString &text);
};
