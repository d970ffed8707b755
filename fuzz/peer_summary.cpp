// What a peer's answer to /summary.json relays to every dashboard.
//
// Input: the peer's answer as it arrived, head and body.
#include "FleetClient.h"
#include "FuzzCheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray answer(reinterpret_cast<const char *>(data), qsizetype(size));
    const QJsonObject summary = FleetClient::relayed(answer);
    if (summary.isEmpty())
        return 0;
    FUZZ_CHECK(size <= size_t(FleetClient::answerLimit));
    // Only the known fields, figures or null, and one bounded text.
    FUZZ_CHECK(summary.keys() == QStringList({"memory", "processor", "volume"}));
    for (const char *figure : {"processor", "memory"})
        FUZZ_CHECK(summary.value(figure).isDouble() || summary.value(figure).isNull());
    const QJsonValue volume = summary.value("volume");
    FUZZ_CHECK(volume.isNull() || volume.isObject());
    if (volume.isObject()) {
        const QJsonObject fields = volume.toObject();
        FUZZ_CHECK(fields.keys() == QStringList({"free", "used", "volume"}));
        FUZZ_CHECK(fields.value("volume").toString().size() <= FleetClient::volumeNameLimit);
        FUZZ_CHECK(!fields.value("used").isObject() && !fields.value("used").isArray());
        FUZZ_CHECK(!fields.value("free").isObject() && !fields.value("free").isArray());
    }
    return 0;
}
