// The NUL framing reader of every listener.
//
// Byte 0 of the input seeds the packet sizes; the rest is what the client
// sends before it closes its side. A writer thread sends it in those packets
// while ReadRequest is called until it throws. The reader must hand over the
// pieces between the 0x00 bytes exactly, in order, refuse the first piece
// longer than 16384 bytes with ERequestTooLong, and end with
// EConnectionClosed at the close (or ERequestTooLong when the unterminated
// tail is already too long). Each request then decodes into well-formed
// UTF-8, unchanged when it already was.
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/net/TcpListener.h"
#include "platform/text/CodePage.h"
#include "tests/fuzz/FuzzEntries.h"

namespace ostra::fuzz {

namespace {

enum class End { Closed, TooLong, Other };

void SendInPackets(int Fd, std::string Bytes, uint8_t Seed) {
    uint32_t state = Seed * 2654435761u + 1;
    size_t done = 0;
    while (done < Bytes.size()) {
        state = state * 1103515245u + 12345u;
        // Mostly small packets, now and then a large one.
        size_t n = (state >> 16) % 7 == 0 ? 1 + (state >> 8) % 20000 : 1 + (state >> 8) % 64;
        n = std::min(n, Bytes.size() - done);
        const ssize_t sent = ::send(Fd, Bytes.data() + done, n, MSG_NOSIGNAL);
        if (sent <= 0) break;  // the reader gave up and closed
        done += size_t(sent);
    }
    ::shutdown(Fd, SHUT_WR);
}

}  // namespace

void Framing(const uint8_t* Data, size_t Size) {
    if (Size == 0) return;
    const std::string bytes(reinterpret_cast<const char*>(Data) + 1, Size - 1);

    // What the reader must produce.
    std::vector<std::string> expected;
    End expectedEnd = End::Closed;
    for (size_t pos = 0;;) {
        const size_t zero = bytes.find('\0', pos);
        const size_t length = (zero == std::string::npos ? bytes.size() : zero) - pos;
        if (length > TcpConnection::MaxRequestBytes) {
            expectedEnd = End::TooLong;
            break;
        }
        if (zero == std::string::npos) break;
        expected.push_back(bytes.substr(pos, length));
        pos = zero + 1;
    }

    int fds[2];
    Expect(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0, "socketpair failed");
    std::vector<std::string> got;
    End end = End::Other;
    std::string otherError;
    {
        TcpConnection connection(fds[0]);
        std::thread writer(SendInPackets, fds[1], bytes, Data[0]);
        for (;;) {
            try {
                got.push_back(connection.ReadRequest());
            } catch (const ERequestTooLong&) {
                end = End::TooLong;
                break;
            } catch (const EConnectionClosed&) {
                end = End::Closed;
                break;
            } catch (const std::exception& e) {
                otherError = e.what();
                break;
            }
            if (got.size() > expected.size()) break;
        }
        if (end == End::TooLong) Expect(!connection.Connected(), "too long, but still connected");
        connection.Close();  // lets a writer still sending see the end
        writer.join();
    }
    ::close(fds[1]);

    Expect(otherError.empty(), "reader failed with: " + otherError);
    Expect(got.size() == expected.size(), "reader handed over " + std::to_string(got.size()) +
                                              " requests, expected " +
                                              std::to_string(expected.size()));
    for (size_t i = 0; i < got.size(); ++i) {
        Expect(got[i] == expected[i], "request " + std::to_string(i) + " differs");
        const std::string text = DecodeUtf8(got[i]);
        Expect(IsValidUtf8(text), "decoded request is not UTF-8");
        if (IsValidUtf8(got[i])) Expect(text == got[i], "well-formed UTF-8 changed by decoding");
    }
    Expect(end == expectedEnd,
           expectedEnd == End::TooLong ? "an over-long request was not refused"
                                       : "the close was not reported as a close");
}

}  // namespace ostra::fuzz
