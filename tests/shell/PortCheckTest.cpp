// What the window says of a port text and of a start that could not take its port, against what
// the socket then does with the same text.
#include "shell/PortCheck.h"

#include "net/WSocket.h"

#include "support/LoopbackPorts.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::optional<uint16_t> fakeServices(const std::string& name) {
    static const std::map<std::string, uint16_t> known{{"http", 80}};
    const auto found = known.find(name);
    return found == known.end() ? std::nullopt : std::optional<uint16_t>(found->second);
}

struct PortCase {
    const char* text;
    bool plain;
    std::optional<uint16_t> port;
    const char* note;
};

} // namespace

TEST(PortCheck, WhatTheListenerMakesOfEachText) {
    const char* const cannot = ": the server cannot start.";
    const std::vector<PortCase> cases{
        {"8080", true, 8080, ""},
        {"1", true, 1, ""},
        {"65535", true, 65535, ""},
        {"18141x", false, 18141,
         "Not a plain number: the server will listen on port 18141, and \"x\" after it is "
         "ignored."},
        {"8080 9090", false, 8080,
         "Not a plain number: the server will listen on port 8080, and \" 9090\" after it is "
         "ignored."},
        {" 80", false, 80, "Not a plain number: the server will listen on port 80."},
        {"\t8080\r\n", false, 8080, "Not a plain number: the server will listen on port 8080."},
        {"080", false, 80, "Not a plain number: the server will listen on port 80."},
        {"http", false, 80,
         "Not a number: the server will listen on port 80, the port of the service \"http\"."},
        {"99999", false, std::nullopt,
         "No port has the number 99999 (the highest is 65535): the server cannot start."},
        {"123456789012", false, std::nullopt,
         "No port has the number 123456789012 (the highest is 65535): the server cannot start."},
        {"", false, std::nullopt, "No port is set: the server cannot start."},
        {"   ", false, std::nullopt, "No port is set: the server cannot start."},
        {"nosuch", false, std::nullopt,
         "\"nosuch\" is neither a port number nor a known service: the server cannot start."},
        {"-1", false, std::nullopt,
         "\"-1\" is neither a port number nor a known service: the server cannot start."},
        {"0", false, 0,
         "Port 0: the system picks a free port at each start, so the address changes every "
         "time."},
    };
    for (const PortCase& c : cases) {
        const PortCheck check = CheckPortText(QString::fromLatin1(c.text), fakeServices);
        EXPECT_EQ(check.plain, c.plain) << '"' << c.text << '"';
        EXPECT_EQ(check.port, c.port) << '"' << c.text << '"';
        EXPECT_EQ(check.note.toStdString(), c.note) << '"' << c.text << '"';
        EXPECT_EQ(check.note.endsWith(QString::fromLatin1(cannot)), !c.port.has_value());
    }
}

// The texts the check takes for a port the socket must take for the same port, and those it
// refuses the socket must refuse.
TEST(PortCheck, AgreesWithTheListeningSocket) {
    const uint16_t free = testnet::freePort();
    ASSERT_NE(free, 0);
    const QString number = QString::number(free);
    for (const QString& text : {number, " " + number, number + "x", "0" + number, number + " 1"}) {
        ASSERT_EQ(CheckPortText(text).port, free) << text.toStdString();
        TWSocket socket;
        socket.SetAddr("127.0.0.1");
        socket.SetPort(text.toStdString());
        socket.Listen();
        EXPECT_EQ(socket.GetLocalPort(), std::to_string(free)) << text.toStdString();
        socket.Close();
    }
    for (const char* text : {"99999", "", "no-such-service-here"}) {
        ASSERT_FALSE(CheckPortText(QString::fromLatin1(text)).port) << text;
        TWSocket socket;
        EXPECT_THROW(socket.SetPort(text), ESocketException) << text;
    }
}

TEST(PortCheck, StartFailuresThatAreThePortsSayWhatToDo) {
    struct Case {
        int32_t code;
        uint16_t port;
        const char* text;
    };
    const char* const rights = "Ports below 1024 need administrator rights. Choose a port such "
                               "as 8080 on the Settings page.";
    const std::vector<Case> cases{
        {10048, 8080,
         "Port 8080 is used by another program. Choose another port on the Settings page."},
        {10048, 80,
         "Port 80 is used by another program. Choose another port on the Settings page."},
        {10013, 80, rights},
        {10013, 1, rights},
        {10013, 1023, rights},
        {10013, 1024, ""}, // refused for another reason than the port's number
        {10013, 0, ""},
        {10049, 80, ""}, // no such local address
        {10022, 8080, ""},
        {0, 8080, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PortProblemText(c.code, c.port).toStdString(), c.text)
            << c.code << " on " << c.port;
}
