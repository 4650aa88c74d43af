// The POSIX transport's contract on the platform layer alone: a server of
// bare sockets at a pipe's path, the library's end opened with OpenPipe and
// read through Transfers, as the sync thread reads.
#ifdef __linux__
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <chrono>
#include <vector>

#include "platform/posix/internal.h"

namespace {

using namespace PevraNUV::platform;
using posix::UniqueFd;

// One pipe: the server's listener and its accepted end, the library's end.
struct Pipe {
    Pipe() {
        const std::string folder = "/tmp/pevra-" + std::to_string(getuid()), name = "ptsa_contract_" + std::to_string(getpid());
        mkdir(folder.c_str(), 0700);
        path = folder + "/" + name;
        unlink(path.c_str());
        sockaddr_un address{AF_UNIX, {}};
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        const UniqueFd listener(socket(AF_UNIX, SOCK_SEQPACKET, 0));
        const bool listening = bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                               listen(listener.get(), 1) == 0;
        client.reset(OpenPipe(u"\\\\.\\pipe\\" + std::u16string(name.begin(), name.end()), PipeAccess::ReadWrite));
        if (listening && client) server.reset(accept(listener.get(), nullptr, nullptr));
    }
    ~Pipe() { unlink(path.c_str()); }
    bool Send(const std::vector<unsigned char>& record) {
        return send(server.get(), record.data(), record.size(), 0) == static_cast<ssize_t>(record.size());
    }
    IoResult Read(Transfer& read) {  // one piece, as the sync thread reads it
        ResetEvent(event.get());
        read.StartRead(buffer, sizeof buffer);
        return read.Await(1000) == WaitResult::Signalled ? read.Fetch() : IoResult{};
    }

    std::string path;
    UniqueHandle client;
    UniqueFd server;
    UniqueHandle event{CreateManualResetEvent()};
    unsigned char buffer[1024];
};

struct Piece {
    std::uint32_t bytes, error;  // error 0: completed ok
};

TEST(PosixPipe, RecordsArriveAsMessagesInPiecesOf1024Bytes) {
    const struct {
        const char* name;
        std::vector<std::size_t> sent;  // record sizes; record i is filled with byte i + 1
        bool hangUp;                    // the server closes its end after them
        std::vector<Piece> read;        // what each read of 1024 bytes completes with
    } cases[] = {
        {"one record, one message", {4, 0, 6}, false, {{4, 0}, {0, 0}, {6, 0}}},
        {"more data", {2500}, false, {{1024, kErrorMoreData}, {1024, kErrorMoreData}, {452, 0}}},
        {"exactly one piece", {1024, 1}, false, {{1024, 0}, {1, 0}}},
        {"a closed peer", {3}, true, {{3, 0}, {0, 109}}},  // ERROR_BROKEN_PIPE
    };
    for (const auto& c : cases) {
        Pipe pipe;
        std::vector<unsigned char> sent, received;
        for (std::size_t i = 0; i < c.sent.size(); ++i) {
            const std::vector<unsigned char> record(c.sent[i], static_cast<unsigned char>(i + 1));
            ASSERT_TRUE(pipe.Send(record)) << c.name;
            sent.insert(sent.end(), record.begin(), record.end());
        }
        if (c.hangUp) pipe.server.reset();
        Transfer read(pipe.client.get(), pipe.event.get());
        for (const Piece& expected : c.read) {
            const IoResult piece = pipe.Read(read);
            EXPECT_TRUE(piece.complete && piece.bytes == expected.bytes && piece.ok == !expected.error && piece.error == expected.error)
                << c.name << ": " << piece.bytes << " bytes, error " << piece.error;
            received.insert(received.end(), pipe.buffer, pipe.buffer + piece.bytes);
        }
        EXPECT_EQ(received, sent) << c.name;
    }
}

// A read that times out, is cancelled, takes nothing from the pipe; a write
// is one record.
TEST(PosixPipe, ATimedOutReadIsCancelledAndAWriteIsOneRecord) {
    Pipe pipe;
    Transfer transfer(pipe.client.get(), pipe.event.get());
    transfer.StartRead(pipe.buffer, sizeof pipe.buffer);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(transfer.Await(100), WaitResult::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
    EXPECT_FALSE(transfer.Fetch().complete) << "still pending";
    transfer.Cancel();
    const IoResult cancelled = transfer.Fetch();
    EXPECT_TRUE(cancelled.complete && !cancelled.ok && cancelled.error == 995) << cancelled.error;  // ERROR_OPERATION_ABORTED
    ASSERT_TRUE(pipe.Send({1, 2, 3, 4, 5}));
    EXPECT_EQ(pipe.Read(transfer).bytes, 5u) << "the cancelled read took a part of the record";

    const char16_t message[] = u"{\"Connected\":\"?\"}";
    ResetEvent(pipe.event.get());
    transfer.StartWrite(message, 34);
    ASSERT_EQ(transfer.Await(1000), WaitResult::Signalled);
    EXPECT_EQ(transfer.Fetch().bytes, 34u);
    unsigned char record[64];
    EXPECT_EQ(recv(pipe.server.get(), record, sizeof record, 0), 34);
}

}  // namespace
#endif
