#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// What the listener makes of the port setting's text, read the way the socket reads it, and what
// the Settings page says of a text that is not a plain port number.
struct PortCheck {
    // A plain number from 1 to 65535: nothing to say.
    bool plain = false;
    // The port the listener will ask for (0: any free one); none when it cannot start.
    std::optional<uint16_t> port;
    // One sentence for the line under the field; empty when plain.
    QString note;
};

// The port of a TCP service name in the system's services database.
using ServiceLookup = std::function<std::optional<uint16_t>(const std::string& name)>;
std::optional<uint16_t> SystemService(const std::string& name);

PortCheck CheckPortText(const QString& text, const ServiceLookup& lookup = SystemService);

// What the Server page says after a start failed with the socket layer's error `code` while
// asking for `port`: a port in use, or one below 1024 without the right to it. Empty for any
// other failure.
QString PortProblemText(int32_t code, uint16_t port);
