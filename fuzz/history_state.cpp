// The history read back from its file: the bytes behind the file's checksum, as a damaged disk
// or a hand-edited file could leave them.
//
// Input: the state bytes. A state that is taken must give a well-formed /history.json and be
// written out again as the very same bytes.
#include "FuzzCheck.h"
#include "History.h"

#include <QJsonDocument>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray state(reinterpret_cast<const char *>(data), qsizetype(size));
    History history;
    // Later than any row the seeds hold, so that time is no reason to refuse one.
    history.setClock([] { return qint64(4'000'000'000'000); });
    if (!history.restore(state))
        return 0;
    FUZZ_CHECK(history.state() == state);
    QJsonParseError error;
    QJsonDocument::fromJson(history.document(0).toUtf8(), &error);
    FUZZ_CHECK(error.error == QJsonParseError::NoError);
    // The first sample after the restart, of a series the file may hold or not.
    history.record({History::Entry(QStringLiteral("cpu:0"), 1, 0, 1, 1, true)});
    QJsonDocument::fromJson(history.document(0).toUtf8(), &error);
    FUZZ_CHECK(error.error == QJsonParseError::NoError);
    return 0;
}
