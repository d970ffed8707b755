// A peer's answer to GET /summary.json: whoever answered a discovery round may send anything,
// and what is kept of it goes to every viewer of the machines panel.
//
// Input: the answer's bytes, head and body. What is relayed holds only the summary's own fields,
// with no control characters, and is never much larger than the answer itself, which is bounded.
#include "CleanText.h"
#include "FleetClient.h"
#include "FuzzCheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {
bool allClean(const QJsonValue &value) {
    if (value.isString())
        return CleanText::isClean(value.toString());
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        return std::all_of(object.begin(), object.end(), allClean);
    }
    const QJsonArray array = value.toArray();
    return std::all_of(array.begin(), array.end(), allClean);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray answer(reinterpret_cast<const char *>(data), qsizetype(size));
    const QJsonObject kept = FleetClient::relayed(answer);
    if (kept.isEmpty())
        return 0;
    FUZZ_CHECK(answer.size() <= FleetClient::answerLimit);
    for (const QString &key : kept.keys())
        FUZZ_CHECK(key == "processor" || key == "memory" || key == "volume" || key == "host" ||
                   key == "alerts");
    // Little amplification: the fields it lacks cost a few bytes each, nothing is repeated, and
    // a byte that was no text becomes U+FFFD, three bytes, at most.
    const QByteArray json = QJsonDocument(kept).toJson(QJsonDocument::Compact);
    FUZZ_CHECK(json.size() < 3 * answer.size() + 512);
    FUZZ_CHECK(allClean(kept));
    return 0;
}
