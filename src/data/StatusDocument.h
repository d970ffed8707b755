// The XML status document served at /menu.xml: request words in, document text out.
#pragma once

#include <QString>
#include <QStringList>

class StatusDocument {
public:
    // The request words of a decoded request path: the value after "strRequest=", up to the
    // next "&", split at ":" with empty parts kept. Empty when there is no "strRequest=".
    static QStringList requestWords(const QString &requestPath);

    // Carries out the words ("requestInit" rescans the devices first, through DeviceScan, which
    // may serve it with a rescan that is running or has just ended) and returns the
    // document: prolog, <xml>, the records of every table when "requestRead" is asked, </xml>.
    // With "requestMemory" as well, the memory records carry the figures of this moment instead
    // of those of their scan; the records themselves are not changed. With "requestSpeed", the
    // network records carry the link's whole speed where the field otherwise stops at 2^32 - 1.
    static QString build(const QString &requestPath);
};
