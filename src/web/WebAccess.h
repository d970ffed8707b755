// Who may use the web server at all, decided for every request before any route runs: the
// peer's address must be on web/allowedAddresses (403 otherwise), and with web/users set the
// request must carry a user's name and password (401 otherwise). Anyone let in gets exactly the
// answer they would get without either setting.
#pragma once

#include "AddressList.h"
#include "HttpRequest.h"
#include "PasswordCheck.h"

#include <QByteArray>
#include <QString>
#include <memory>

class WebAccess {
public:
    static const QString allowedAddressesKey;
    static const QString usersKey;

    WebAccess(const QStringList &allowedAddresses, const QStringList &users);

    // Reads both settings anew; called when the listener starts, so a changed setting applies
    // from the next Start. Thread-safe.
    static void load();
    // What load() read last (nothing read yet: no limits); connection threads keep their copy
    // for their one request.
    static std::shared_ptr<WebAccess> current();

    // The whole answer that refuses a request from strPeer (as the system layer gives a peer
    // address), or empty when it may be served.
    QByteArray refusal(const QString &strPeer, const HttpRequest &request);

    bool passwordsRequired() const { return passwords.required(); }

    // The refusals, built once: a one-line body that names the setting to change.
    static const QByteArray &forbidden();
    static const QByteArray &unauthorized();

private:
    const AddressList addresses;
    PasswordCheck passwords;
};
