// Answers ICMP echo requests after a fixed delay, from the address each one
// was sent to, and writes down when every request arrived. It stands in for
// the far hosts of the network benchmark; the kernel's own echo answers must
// be off in its namespace (net.ipv4.icmp_echo_ignore_all=1).
//
//   echo_responder DELAY_MS SILENT_FILE CAPTURE_FILE
//
// SILENT_FILE lists addresses (one a line) that get no answer. On SIGTERM or
// SIGINT it writes "address<TAB>arrival ms (CLOCK_MONOTONIC)" lines, one per
// request, to CAPTURE_FILE and ends.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

std::int64_t nowMs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::uint16_t checksum(const unsigned char* data, std::size_t length)
{
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at + 1 < length; at += 2)
        sum += std::uint32_t(data[at]) << 8 | data[at + 1];
    if (length % 2)
        sum += std::uint32_t(data[length - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return htons(static_cast<std::uint16_t>(~sum));
}

struct Reply {
    std::int64_t due;
    std::vector<unsigned char> packet;  // IP header and ICMP message
    in_addr_t destination;
};

struct Arrival {
    in_addr_t address;
    std::int64_t ms;
};

// The request turned into its answer in place: addresses swapped, type 0.
Reply makeReply(const unsigned char* request, std::size_t headerLength, std::size_t icmpLength, std::int64_t due)
{
    Reply reply { due, std::vector<unsigned char>(sizeof(iphdr) + icmpLength), 0 };
    iphdr ip {};
    const iphdr* asked = reinterpret_cast<const iphdr*>(request);
    ip.version = 4;
    ip.ihl = sizeof(iphdr) / 4;
    ip.ttl = 64;
    ip.protocol = IPPROTO_ICMP;
    ip.saddr = asked->daddr;
    ip.daddr = asked->saddr;
    ip.tot_len = htons(static_cast<std::uint16_t>(reply.packet.size()));
    std::memcpy(reply.packet.data(), &ip, sizeof ip);
    unsigned char* icmp = reply.packet.data() + sizeof(iphdr);
    std::memcpy(icmp, request + headerLength, icmpLength);
    icmp[0] = ICMP_ECHOREPLY;
    icmp[2] = icmp[3] = 0;
    const std::uint16_t sum = checksum(icmp, icmpLength);
    std::memcpy(icmp + 2, &sum, 2);
    reply.destination = asked->saddr;
    return reply;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: echo_responder DELAY_MS SILENT_FILE CAPTURE_FILE\n");
        return 2;
    }
    const std::int64_t delay = std::stoll(argv[1]);
    std::unordered_set<in_addr_t> silent;
    {
        std::ifstream list(argv[2]);
        std::string line;
        while (std::getline(list, line))
            if (in_addr_t address = inet_addr(line.c_str()); address != INADDR_NONE)
                silent.insert(address);
    }

    const int in = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    const int out = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);  // IPPROTO_RAW implies IP_HDRINCL
    if (in < 0 || out < 0) {
        std::perror("echo_responder: socket");
        return 1;
    }
    // Bursts of thousands of requests must not overflow the queue.
    const int bufferSize = 8 << 20;
    setsockopt(in, SOL_SOCKET, SO_RCVBUFFORCE, &bufferSize, sizeof bufferSize);
    setsockopt(out, SOL_SOCKET, SO_SNDBUFFORCE, &bufferSize, sizeof bufferSize);

    struct sigaction action {};
    action.sa_handler = requestStop;  // no SA_RESTART: poll must return
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    std::deque<Reply> pending;  // one delay for all, so arrival order is due order
    std::vector<Arrival> arrivals;
    arrivals.reserve(1 << 16);
    std::uint64_t answered = 0, sendFailures = 0;
    std::printf("ready\n");
    std::fflush(stdout);

    unsigned char buffer[65536];
    while (!stopRequested) {
        std::int64_t now = nowMs();
        while (!pending.empty() && pending.front().due <= now) {
            const Reply& reply = pending.front();
            sockaddr_in to {};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = reply.destination;
            if (sendto(out, reply.packet.data(), reply.packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
                ++sendFailures;
            else
                ++answered;
            pending.pop_front();
        }
        const int wait = pending.empty() ? 200 : int(pending.front().due - now);
        pollfd readable { in, POLLIN, 0 };
        if (poll(&readable, 1, wait) <= 0)
            continue;
        // Drains what is queued so that arrival stamps stay close to the truth.
        while (true) {
            const ssize_t length = recv(in, buffer, sizeof buffer, MSG_DONTWAIT);
            if (length < 0)
                break;
            const std::size_t headerLength = (buffer[0] & 0x0f) * 4u;
            if (std::size_t(length) < headerLength + 8 || buffer[headerLength] != ICMP_ECHO)
                continue;
            // No more than an IP packet holds: the bound tells the compiler too.
            const std::size_t icmpLength = std::min<std::size_t>(std::size_t(length) - headerLength, 65535);
            const iphdr* ip = reinterpret_cast<const iphdr*>(buffer);
            now = nowMs();
            arrivals.push_back({ ip->daddr, now });
            if (!silent.count(ip->daddr))
                pending.push_back(makeReply(buffer, headerLength, icmpLength, now + delay));
        }
    }

    std::FILE* capture = std::fopen(argv[3], "w");
    if (!capture) {
        std::perror("echo_responder: capture file");
        return 1;
    }
    for (const Arrival& arrival : arrivals) {
        in_addr address { arrival.address };
        std::fprintf(capture, "%s\t%lld\n", inet_ntoa(address), static_cast<long long>(arrival.ms));
    }
    std::fclose(capture);
    std::fprintf(stderr, "echo_responder: %zu requests, %llu answered, %llu answers not sent\n", arrivals.size(),
                 static_cast<unsigned long long>(answered), static_cast<unsigned long long>(sendFailures));
    return 0;
}
