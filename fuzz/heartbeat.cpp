// The heartbeat's answer to one datagram.
//
// Input: the datagram; its first four bytes (when it has them) also give the port to report.
#include "FuzzCheck.h"
#include "HeartbeatProtocol.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray datagram(reinterpret_cast<const char *>(data), qsizetype(size));
    quint32 intPort = 0;
    for (size_t i = 0; i < 4 && i < size; ++i)
        intPort = intPort << 8 | data[i];

    const QByteArray answer = HeartbeatProtocol::reply(datagram, intPort);
    if (answer.isEmpty())
        return 0;
    FUZZ_CHECK(answer.startsWith("Start:Heartbeat\nstrType:typeResponse\nstrCommand:command"));
    FUZZ_CHECK(answer.endsWith("\nStop:Heartbeat"));
    if (answer.contains("commandPort"))
        FUZZ_CHECK(answer.contains("\nintPort:" + QByteArray::number(intPort) + "\n"));
    // A reply is never answered, so two responders cannot keep each other busy.
    FUZZ_CHECK(HeartbeatProtocol::reply(answer, intPort).isEmpty());
    return 0;
}
