#include "StatusDocument.h"

// Placeholder until the data core lands: the empty document.
QStringList StatusDocument::requestWords(const QString &) { return {}; }

QString StatusDocument::build(const QString &) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><xml></xml>");
}
