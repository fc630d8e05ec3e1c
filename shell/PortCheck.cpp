#include "shell/PortCheck.h"

#include "net/PortText.h"
#include "platform/SocketErrors.h"
#include "platform/Sockets.h"

#include <arpa/inet.h>

namespace {

// Ports below this one are bound by root only, unless the system was told otherwise.
constexpr uint16_t kFirstUserPort = 1024;

PortCheck cannotStart(const QString& why) {
    return {false, std::nullopt, why + QStringLiteral(": the server cannot start.")};
}

PortCheck fromNumber(const std::string& trimmed, bool wholeText) {
    const std::optional<uint16_t> number = porttext::ParseNumber(trimmed);
    const size_t digits = porttext::DigitsAtStart(trimmed);
    if (!number)
        return cannotStart(QStringLiteral("No port has the number %1 (the highest is 65535)")
                               .arg(QString::fromStdString(trimmed.substr(0, digits))));
    if (*number == 0)
        return {false, 0,
                QStringLiteral("Port 0: the system picks a free port at each start, so the "
                               "address changes every time.")};
    const bool plain = wholeText && digits == trimmed.size() && trimmed.front() != '0';
    if (plain)
        return {true, number, {}};
    QString note =
        QStringLiteral("Not a plain number: the server will listen on port %1").arg(*number);
    if (digits < trimmed.size())
        note += QStringLiteral(", and \"%1\" after it is ignored")
                    .arg(QString::fromStdString(trimmed.substr(digits)));
    return {false, number, note + QLatin1Char('.')};
}

} // namespace

std::optional<uint16_t> SystemService(const std::string& name) {
    uint16_t port = 0; // in network order
    if (!platform::LookupService(name, "tcp", &port))
        return std::nullopt;
    return ntohs(port);
}

PortCheck CheckPortText(const QString& text, const ServiceLookup& lookup) {
    const std::string whole = text.toStdString();
    const std::string trimmed(porttext::Trimmed(whole));
    if (porttext::IsNumber(trimmed))
        return fromNumber(trimmed, trimmed.size() == whole.size());
    if (trimmed.empty())
        return cannotStart(QStringLiteral("No port is set"));
    const QString name = QString::fromStdString(trimmed);
    const std::optional<uint16_t> service = lookup(trimmed);
    if (!service)
        return cannotStart(
            QStringLiteral("\"%1\" is neither a port number nor a known service").arg(name));
    return {false, service,
            QStringLiteral("Not a number: the server will listen on port %1, the port of the "
                           "service \"%2\".")
                .arg(*service)
                .arg(name)};
}

QString PortProblemText(int32_t code, uint16_t port) {
    if (code == platform::sockerr::AddressInUse)
        return QStringLiteral("Port %1 is used by another program. Choose another port on the "
                              "Settings page.")
            .arg(port);
    if (code == platform::sockerr::AccessDenied && port != 0 && port < kFirstUserPort)
        return QStringLiteral("Ports below 1024 need administrator rights. Choose a port such as "
                              "8080 on the Settings page.");
    return {};
}
