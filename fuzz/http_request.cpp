// A connection's request as the server reads and answers it, without a socket: the bytes arrive
// in chunks, each chunk is decoded, the head is parsed, routed and completed to a response head.
//
// Input: the first byte is the chunk length (0: everything in one chunk), the rest the bytes the
// client sent.
#include "FuzzCheck.h"
#include "HttpRequest.h"
#include "HttpResponse.h"
#include "StaticFile.h"
#include "StatusDocument.h"

#include <cstddef>
#include <cstdint>

namespace {

// Every header line and the status line end in CRLF, and nothing else in a head does: a CR or LF
// inside a value would let a request add headers of its own to the answer.
void checkHead(const HttpResponse &response) {
    const QByteArray head = response.head();
    FUZZ_CHECK(head.startsWith("HTTP/1.0 "));
    FUZZ_CHECK(head.endsWith("\r\n\r\n"));
    FUZZ_CHECK(head.count("\r\n") == response.headers.size() + 2);
    FUZZ_CHECK(head.count('\r') == head.count('\n'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    const qsizetype chunkLength = data[0] == 0 ? qsizetype(size) : qsizetype(data[0]);
    const QByteArray received(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    QString requestText;
    for (qsizetype at = 0; at < received.size(); at += chunkLength) {
        requestText += HttpRequest::decodeChunk(received.mid(at, chunkLength));
        if (HttpRequest::headComplete(requestText))
            break;
    }
    // A chunk ends at its first NUL.
    FUZZ_CHECK(!requestText.contains(QChar(0)));

    const HttpRequest request = HttpRequest::parse(requestText);
    FUZZ_CHECK(request.bodyRemaining() >= 0);

    HttpResponse response = HttpResponse::route(request);
    // Only GET is routed.
    if (request.strType != QLatin1String("typeGet"))
        FUZZ_CHECK(response.strType.isEmpty());
    if (response.strType == QLatin1String("typeFile")) {
        FUZZ_CHECK(response.strContent == request.strFilePath);
        // Only a path that resolve() could accept ever names a file; its headers then describe it.
        if (StaticFile::isSafeFilePath(response.strContent)) {
            const QString disposition = StaticFile::disposition(response.strContent);
            FUZZ_CHECK(disposition.count(QLatin1Char('"')) == 2);
            response.addFileHeaders(qint64(size), StaticFile::mediaType(response.strContent),
                                    disposition);
        } else {
            response = HttpResponse();
        }
    } else if (response.strType == QLatin1String("typeText")) {
        for (const QString &word : StatusDocument::requestWords(request.strPath))
            FUZZ_CHECK(!word.contains(QLatin1Char(':')) && !word.contains(QLatin1Char('&')));
        response.strContent =
            QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" ?><xml></xml>");
    }
    response.complete();
    checkHead(response);
    FUZZ_CHECK(!response.strStatus.isEmpty());
    return 0;
}
