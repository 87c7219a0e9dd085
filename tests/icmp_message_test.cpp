#include "ping/icmp_message.h"

#include "platform/ipv4.h"
#include "support/addresses.h"
#include "platform/process.h"
#include "support/captured_output.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdint>
#include <string>
#include <vector>

using namespace bv;

using testing::HasSubstr;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Independent RFC 1071 check: the whole message, checksum included, summed
// as big-endian words (odd tail padded with zero) folds to all ones.
bool checksumVerifies(const Bytes& message)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < message.size(); i += 2) {
        const std::uint64_t high = message[i];
        const std::uint64_t low = i + 1 < message.size() ? message[i + 1] : 0;
        sum += high * 256 + low;
    }
    while (sum > 0xFFFF)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return sum == 0xFFFF;
}

Bytes request(int size, std::uint16_t sequence, std::uint16_t identifier)
{
    Bytes buffer(static_cast<std::size_t>(size), 0xEE);
    fillEchoRequest(buffer.data(), size, sequence, identifier);
    return buffer;
}

// An IPv4 header of `headerLength` bytes (20 or 24) with the given time to
// live, followed by an ICMP message of type, code 0, identifier bytes, sequence
// bytes and an optional tail.
Bytes datagram(int headerLength, std::uint8_t timeToLive, std::uint8_t type, std::uint8_t idLow, std::uint8_t idHigh,
    Bytes tail = {}, std::uint16_t sequence = 0)
{
    Bytes bytes(static_cast<std::size_t>(headerLength), 0);
    bytes[0] = static_cast<std::uint8_t>(0x40 | headerLength / 4);
    bytes[8] = timeToLive;
    bytes[9] = 1;
    const Bytes icmp { type, 0, 0x12, 0x34, idLow, idHigh, static_cast<std::uint8_t>(sequence & 0xFF),
        static_cast<std::uint8_t>(sequence >> 8) };
    bytes.insert(bytes.end(), icmp.begin(), icmp.end());
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

using test::ip;

MessageSource from(const char* text, int hopLimit = -1)
{
    return MessageSource { ip(text), hopLimit };
}

// What an IPv4 error quotes: the request's IPv4 header to `destination`,
// then its first 8 bytes (an echo request with that identifier).
Bytes quotedRequest(const char* destination, std::uint16_t identifier, std::uint16_t sequence = 0)
{
    Bytes quoted(20, 0);
    quoted[0] = 0x45;
    quoted[9] = 1;
    const platform::Ipv4Address to = platform::parseIpv4(destination);
    std::memcpy(quoted.data() + 16, &to, 4);
    const Bytes echo = request(8, sequence, identifier);
    quoted.insert(quoted.end(), echo.begin(), echo.end());
    return quoted;
}

// An ICMPv6 message: type, code 0, identifier and sequence low byte first,
// and a tail.
Bytes message6(std::uint8_t type, std::uint16_t identifier, std::uint16_t sequence = 0, Bytes tail = {})
{
    Bytes bytes { type, 0, 0, 0, static_cast<std::uint8_t>(identifier & 0xFF), static_cast<std::uint8_t>(identifier >> 8),
        static_cast<std::uint8_t>(sequence & 0xFF), static_cast<std::uint8_t>(sequence >> 8) };
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

// An ICMPv6 error quoting our request to `destination` (IPv6 header, then
// the echo request).
Bytes error6(std::uint8_t type, const char* destination, std::uint16_t identifier, std::uint16_t sequence = 0)
{
    Bytes quoted(40, 0);
    quoted[0] = 0x60;
    quoted[6] = 58;
    const platform::IpAddress to = ip(destination);
    std::copy(to.bytes.begin(), to.bytes.end(), quoted.begin() + 24);
    Bytes echo(16);
    fillEchoRequest(echo.data(), 16, sequence, identifier, platform::AddressFamily::V6);
    quoted.insert(quoted.end(), echo.begin(), echo.end());
    return message6(type, 0, 0, quoted);
}

struct Decoded {
    int result = 0;
    ReplyInfo reply;
    std::string out;
    std::string err;
};

constexpr int kWholeBuffer = INT_MIN;

Decoded decode(const Bytes& bytes, std::uint16_t ownIdentifier, const char* sender = "10.1.2.3",
    int count = kWholeBuffer, int hopLimit = -1)
{
    Decoded decoded;
    CaptureStdout();
    CaptureStderr();
    decoded.result = static_cast<int>(decodeReply(bytes.data(),
        count == kWholeBuffer ? static_cast<int>(bytes.size()) : count, from(sender, hopLimit), decoded.reply,
        ownIdentifier));
    decoded.err = GetCapturedStderr();
    decoded.out = GetCapturedStdout();
    return decoded;
}

}  // namespace

TEST(InternetChecksum, KnownValuesAndOddTail)
{
    // The worked example of RFC 1071.
    const Bytes example { 0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7 };
    EXPECT_EQ(internetChecksum(example.data(), 8), 0x220D);
    // An odd last byte counts as the high byte of a word padded with zero.
    const Bytes odd { 0x01 };
    EXPECT_EQ(internetChecksum(odd.data(), 1), 0xFEFF);
    EXPECT_EQ(internetChecksum(nullptr, 0), 0xFFFF);
    // Carries that need the second fold.
    const Bytes ones(4, 0xFF);
    EXPECT_EQ(internetChecksum(ones.data(), 4), 0x0000);
}

TEST(FillEchoRequest, WireFormat)
{
    const Bytes header = request(8, 0, 0x1234);
    ASSERT_EQ(header.size(), 8u);
    EXPECT_EQ(header[0], 8);
    EXPECT_EQ(header[1], 0);
    EXPECT_EQ(header[4], 0x34);  // identifier, low byte first
    EXPECT_EQ(header[5], 0x12);
    EXPECT_EQ(header[6], 0);
    EXPECT_EQ(header[7], 0);
    EXPECT_TRUE(checksumVerifies(header));

    const Bytes normal = request(44, 0, 0xBEEF);
    EXPECT_EQ(std::string(normal.begin() + 8, normal.end()), "abcdefghijklmnopqrstuvwxyzabcdefghij");
    EXPECT_EQ(normal[34], 'a');
    EXPECT_TRUE(checksumVerifies(normal));

    const Bytes odd = request(45, 0, 0xBEEF);
    EXPECT_EQ(odd[44], 'k');
    EXPECT_TRUE(checksumVerifies(odd));

    // The returned value is what sits at offsets 2 and 3, high byte first.
    Bytes buffer(1024);
    const std::uint16_t checksum = fillEchoRequest(buffer.data(), 1024, 0x0102, 0xFFFF);
    EXPECT_EQ(buffer[2], checksum >> 8);
    EXPECT_EQ(buffer[3], checksum & 0xFF);
    EXPECT_EQ(buffer[6], 0x02);  // sequence, low byte first
    EXPECT_EQ(buffer[7], 0x01);
    EXPECT_EQ(buffer[8 + 26 * 39], 'a');
    EXPECT_EQ(buffer[1023], 'a' + (1023 - 8) % 26);
    EXPECT_TRUE(checksumVerifies(buffer));

    // Without an identifier the process id is used.
    Bytes own(44);
    fillEchoRequest(own.data(), 44, 0);
    const auto pid = platform::currentProcessId();
    EXPECT_EQ(own[4], pid & 0xFF);
    EXPECT_EQ(own[5], (pid >> 8) & 0xFF);
    EXPECT_EQ(ownEchoIdentifier(), pid & 0xFFFF);
    EXPECT_TRUE(checksumVerifies(own));
}

TEST(DecodeReply, EchoRepliesByIdentifier)
{
    for (int headerLength : { 20, 24 }) {
        SCOPED_TRACE(headerLength);
        const Decoded mine = decode(datagram(headerLength, 64, 0, 0x34, 0x12, Bytes(36, 'a')), 0x1234);
        EXPECT_EQ(mine.result, 0);
        EXPECT_EQ(mine.reply.address, ip("10.1.2.3"));
        EXPECT_EQ(mine.reply.about, ip("10.1.2.3"));
        EXPECT_EQ(mine.reply.errorText, "");
        EXPECT_EQ(mine.out, std::to_string(headerLength + 44) + " bytes from 10.1.2.3, icmp_seq 0, 1 hop ms.\n");
        EXPECT_EQ(mine.err, "");

        const Decoded swapped = decode(datagram(headerLength, 64, 0, 0x12, 0x34), 0x1234);
        EXPECT_EQ(swapped.result, -2);
        EXPECT_EQ(swapped.out, "this ping reply wasn't for me\n");
        EXPECT_EQ(swapped.err, "");
        EXPECT_EQ(swapped.reply.address, platform::IpAddress {});

        // Equal bytes read the same either way round.
        EXPECT_EQ(decode(datagram(headerLength, 64, 0, 0x77, 0x77), 0x7777).result, 0);
    }
}

TEST(DecodeReply, ErrorMessagesAndUnknownTypes)
{
    for (int headerLength : { 20, 24 }) {
        SCOPED_TRACE(headerLength);
        const Decoded expired
            = decode(datagram(headerLength, 250, 11, 0x99, 0x88, quotedRequest("10.0.0.5", 0x1234)), 0x1234);
        EXPECT_EQ(expired.result, 0);
        EXPECT_EQ(expired.reply.errorText, "TTL expired");
        EXPECT_EQ(expired.reply.address, ip("10.1.2.3"));
        EXPECT_EQ(expired.reply.about, ip("10.0.0.5"));
        EXPECT_EQ(expired.out, std::to_string(headerLength + 36) + " bytes from 10.1.2.3, icmp_seq 0, TTL expired.\n");
        EXPECT_EQ(expired.err, "");

        const Decoded unreachable
            = decode(datagram(headerLength, 250, 3, 0, 0, quotedRequest("10.0.0.6", 0x1234, 7)), 0x1234, "192.0.2.9");
        EXPECT_EQ(unreachable.result, 0);
        EXPECT_EQ(unreachable.reply.errorText, "Destination unreachable");
        EXPECT_EQ(unreachable.reply.address, ip("192.0.2.9"));
        EXPECT_EQ(unreachable.reply.about, ip("10.0.0.6"));
        EXPECT_EQ(unreachable.reply.sequence, 7);
        EXPECT_EQ(unreachable.err, "Destination unreachable\n");
        EXPECT_EQ(unreachable.out, std::to_string(headerLength + 36)
                + " bytes from 192.0.2.9, icmp_seq 7, 6 hops ms.\n");

        // An error about another copy's request is not ours, nor one that
        // quotes no echo request.
        const Decoded others = decode(datagram(headerLength, 250, 3, 0, 0, quotedRequest("10.0.0.6", 0x4321)), 0x1234);
        EXPECT_EQ(others.result, -2);
        EXPECT_EQ(others.err, "");
        EXPECT_EQ(others.out, "this ICMP error wasn't about a request of mine\n");
        Bytes notEcho = quotedRequest("10.0.0.6", 0x1234);
        notEcho[20] = 0;
        EXPECT_EQ(decode(datagram(headerLength, 250, 11, 0, 0, notEcho), 0x1234).result, -2);

        const Decoded request = decode(datagram(headerLength, 64, 8, 0x34, 0x12), 0x1234);
        EXPECT_EQ(request.result, -1);
        EXPECT_EQ(request.err, "Unknown ICMP packet type 8 received\n");
        EXPECT_EQ(request.out, "");
        EXPECT_EQ(request.reply.address, platform::IpAddress {});
        EXPECT_EQ(decode(datagram(headerLength, 64, 200, 0, 0), 0).err, "Unknown ICMP packet type 200 received\n");
    }
}

TEST(DecodeReply, LengthLimits)
{
    for (int headerLength : { 20, 24 }) {
        SCOPED_TRACE(headerLength);
        const Bytes exact = datagram(headerLength, 64, 0, 0x34, 0x12);
        ASSERT_EQ(exact.size(), static_cast<std::size_t>(headerLength + 8));
        EXPECT_EQ(decode(exact, 0x1234).result, 0);

        // The count, not the buffer, limits what may be read.
        const Decoded shortOne = decode(exact, 0x1234, "127.0.0.5", headerLength + 7);
        EXPECT_EQ(shortOne.result, -1);
        EXPECT_EQ(shortOne.err, "too few bytes from 127.0.0.5\n");
        EXPECT_EQ(shortOne.out, "");
    }
    const Bytes anything = datagram(20, 64, 0, 0, 0);
    EXPECT_EQ(decode(anything, 0, "127.0.0.5", 0).err, "too few bytes from 127.0.0.5\n");

    // Found by fuzzing: a header length field of 0 to 4 let an 8-byte
    // datagram pass, and its time to live was read beyond the end.
    for (std::uint8_t lengthField = 0; lengthField < 5; ++lengthField) {
        SCOPED_TRACE(int(lengthField));
        Bytes tiny { static_cast<std::uint8_t>(0x40 | lengthField), 0, 0, 0, 0, 0, 0, 0 };
        tiny.resize(std::size_t(lengthField) * 4 + 8, 0);
        const Decoded decoded = decode(tiny, 0, "127.0.0.5", static_cast<int>(tiny.size()));
        EXPECT_EQ(decoded.result, -1);
        EXPECT_EQ(decoded.err, "too few bytes from 127.0.0.5\n");
    }
    EXPECT_EQ(decode(anything, 0, "127.0.0.5", -3).result, -1);
}

TEST(DecodeReply, HopEstimateAndSequence)
{
    const auto traceFor = [](std::uint8_t timeToLive) {
        return decode(datagram(20, timeToLive, 0, 1, 0), 1).out;
    };
    EXPECT_THAT(traceFor(64), HasSubstr(", 1 hop ms."));
    EXPECT_THAT(traceFor(128), HasSubstr(", 0 hops ms."));
    EXPECT_THAT(traceFor(255), HasSubstr(", 1 hop ms."));
    EXPECT_THAT(traceFor(250), HasSubstr(", 6 hops ms."));
    EXPECT_THAT(traceFor(63), HasSubstr(", 193 hops ms."));
    // The sequence is read low byte first and printed unsigned.
    EXPECT_THAT(decode(datagram(20, 64, 0, 1, 0, {}, 0xFFFE), 1).out, HasSubstr(", icmp_seq 65534, "));
}

TEST(DecodeReply, NeverReadsPastCount)
{
    const auto check = [](const Bytes& full, const char* sender, std::size_t usableFrom) {
        for (std::size_t count = 0; count <= full.size(); ++count) {
            SCOPED_TRACE(count);
            // Copy exactly `count` bytes so that a read past them trips ASan.
            const Bytes exact(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(count));
            const Decoded decoded = decode(exact, 0x1234, sender);
            EXPECT_EQ(decoded.result, count >= usableFrom ? 0 : -1);
            if (count < usableFrom) {
                EXPECT_EQ(decoded.err, std::string("too few bytes from ") + sender + "\n");
            }
        }
    };
    for (int headerLength : { 20, 24 }) {
        SCOPED_TRACE(headerLength);
        check(datagram(headerLength, 255, 11, 0, 0, quotedRequest("10.0.0.5", 0x1234), 0),
            "10.1.2.3", static_cast<std::size_t>(headerLength) + 36);
    }
    check(error6(3, "2001:2::5", 0x1234), "2001:2::1", 56);
    check(message6(129, 0x1234), "2001:2::1", 8);
}

TEST(DecodeReply, Icmpv6MessagesReadAsIpv4Ones)
{
    const Decoded mine = decode(message6(129, 0x1234, 0, Bytes(8, 'a')), 0x1234, "2001:2:0:20::7", kWholeBuffer, 63);
    EXPECT_EQ(mine.result, 0);
    EXPECT_EQ(mine.reply.errorText, "");
    EXPECT_EQ(mine.reply.about, ip("2001:2:0:20::7"));
    EXPECT_EQ(mine.out, "16 bytes from 2001:2:0:20::7, icmp_seq 0, 193 hops ms.\n");
    EXPECT_EQ(decode(message6(129, 0x4321), 0x1234, "2001:2::7").result, -2);

    struct Case {
        std::uint8_t type;
        const char* text;
        const char* note;
    };
    for (const Case& error : { Case { 1, "Destination unreachable", "Destination unreachable\n" },
             Case { 3, "TTL expired", "" }, Case { 2, "Packet too big", "Packet too big\n" } }) {
        SCOPED_TRACE(error.text);
        const Decoded decoded = decode(error6(error.type, "2001:2:0:20:0::3", 0x1234), 0x1234, "2001:2:0:11::2");
        EXPECT_EQ(decoded.result, 0);
        EXPECT_EQ(decoded.reply.errorText, error.text);
        EXPECT_EQ(decoded.reply.address, ip("2001:2:0:11::2"));
        EXPECT_EQ(decoded.reply.about, ip("2001:2:0:20::3"));
        EXPECT_EQ(decoded.err, error.note);
        // Another copy's request.
        EXPECT_EQ(decode(error6(error.type, "2001:2:0:20::3", 0x1235), 0x1234, "2001:2::1").result, -2);
    }
    // Neighbour discovery and the like, and an ICMPv4 type number in a
    // family where it means something else.
    EXPECT_EQ(decode(message6(135, 0), 0, "fe80::1").err, "Unknown ICMP packet type 135 received\n");
    EXPECT_EQ(decode(message6(0, 0x1234), 0x1234, "2001:2::1").result, -1);

    // The request an IPv6 error is about goes out without a checksum: the
    // system fills it in.
    Bytes request6(44, 0xEE);
    EXPECT_EQ(fillEchoRequest(request6.data(), 44, 0, 0x1234, platform::AddressFamily::V6), 0);
    EXPECT_EQ(request6[0], 128);
    EXPECT_EQ(request6[2], 0);
    EXPECT_EQ(request6[3], 0);
}

TEST(ResolveHost, NumericNamedAndUnresolvable)
{
    CaptureStderr();
    const auto numeric = resolveHost("no.such.name.invalid", ip("127.0.0.1"));
    EXPECT_EQ(GetCapturedStderr(), "");
    ASSERT_FALSE(numeric.is_error());
    EXPECT_EQ(numeric.value(), ip("127.0.0.1"));

    const auto resolved = resolveHost("localhost", std::nullopt, HostFamily::V4);
    ASSERT_FALSE(resolved.is_error());
    EXPECT_EQ(resolved.value(), ip("127.0.0.1"));

    CaptureStderr();
    const auto missing = resolveHost("no-such-host.invalid", std::nullopt);
    // The resolver's own reason follows the name.
    const std::string note = GetCapturedStderr();
    EXPECT_TRUE(missing.is_error());
    EXPECT_EQ(note.rfind("Failed to resolve no-such-host.invalid: getaddrinfo: ", 0), 0u) << note;
    EXPECT_EQ(note.find('\n'), note.size() - 1) << note;
}
