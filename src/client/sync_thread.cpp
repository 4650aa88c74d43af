// The sync thread: writes the queued requests one at a time and judges their
// replies, receives the values the service pushes, and stops the link when
// the client is destroyed.
#include <cstring>

#include "client/messages.h"
#include "client/settings_client.h"
#include "log/log.h"

namespace PevraNUV {

namespace {

constexpr std::uint32_t kPieceBytes = 1024;          // one read of a message
constexpr std::uint32_t kExchangeTimeoutMs = 1000;   // the write, and each piece of a reply

// Every target of this library is little-endian, so a message's UTF-16LE
// bytes on the pipe are its string's own bytes: written and read without a
// conversion or a copy of their own.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the pipes carry UTF-16LE: a big-endian target needs a conversion here"
#endif

// Appends a piece of UTF-16LE bytes; an odd last byte is dropped.
void AppendPiece(std::u16string& message, const unsigned char* bytes, std::uint32_t count) {
    const std::size_t size = message.size();
    message.resize(size + count / 2);
    std::memcpy(&message[size], bytes, count / 2 * sizeof(char16_t));
}

bool IsPieceError(const platform::IoResult& piece) {
    return !piece.complete || (!piece.ok && piece.error != platform::kErrorMoreData);
}

}  // namespace

std::uint32_t SettingsClient::SyncThread(void* client) {
    auto* self = static_cast<SettingsClient*>(client);
    try {
        self->RunSyncThread();
    } catch (...) {
        // Out of memory or the like: the thread ends as on a failed
        // exchange, and a later connect starts another.
        std::lock_guard<std::recursive_mutex> guard(self->m_lock);
        self->m_awaitingService = false;
    }
    return 0;
}

void SettingsClient::RunSyncThread() {
    // A link's pipes stay open while it runs: only its own end replaces them.
    platform::Handle sendOnlyPipe = platform::kInvalidHandle, requestPipe = platform::kInvalidHandle;
    RunSerialized([&] {
        sendOnlyPipe = m_sendOnlyPipe.get();
        requestPipe = m_pipe.get();
    });
    if (sendOnlyPipe == platform::kInvalidHandle) {
        Log(kLogSyncNoConnection);
        return;
    }
    std::uint32_t pause = 0;  // before the next attempt to connect again
    for (;;) {
        bool answered = false;
        if (RunLink(sendOnlyPipe, requestPipe, answered) != LinkEnd::Broken) return;
        // Only a link that got its handshake through starts the schedule
        // again: a service that accepts and hangs up at once must not make
        // this thread spin.
        if (answered) pause = 0;
        if (!AwaitService(pause, sendOnlyPipe, requestPipe)) return;
    }
}

SettingsClient::LinkEnd SettingsClient::RunLink(platform::Handle sendOnlyPipe, platform::Handle requestPipe,
                                                bool& answered) {
    const platform::Handle stopEvent = m_stopEvent.get();
    const platform::Handle sendEvent = m_sendEvent.get();
    platform::UniqueHandle readEvent(platform::CreateManualResetEvent());
    // One event for every exchange of this link: reset before each, it
    // saves creating and closing one per request.
    platform::UniqueHandle exchangeEvent(platform::CreateManualResetEvent());
    std::u16string push, reply;  // reused: their storage grows once
    unsigned char buffer[kPieceBytes];
    // One read is outstanding on the send-only pipe at any time; it is
    // cancelled and awaited before the buffer goes, on every way out.
    platform::Transfer read(sendOnlyPipe, readEvent.get());
    read.StartRead(buffer, kPieceBytes);
    const platform::Handle objects[] = {stopEvent, sendEvent, readEvent.get()};
    for (;;) {
        // A stop goes before sending, sending before a received piece.
        const int signalled = platform::WaitForAny(objects, 3, platform::kInfinite);
        if (signalled == 0) {
            // The stop step: no task runs after it, and the pipes close so
            // that the link is down when the destroyer's join returns.
            read.Cancel();
            ClosePipes(LinkEnd::Stopped);
            return LinkEnd::Stopped;
        }
        if (signalled == 1) {
            // Reset first, so that a batch queued during the exchange is not missed.
            platform::ResetEvent(sendEvent);
            const std::int64_t waiting = SendNextMessage(requestPipe, exchangeEvent.get(), reply);
            if (waiting == kLinkBroken) return LinkEnd::Broken;
            if (waiting < 0) return LinkEnd::Failed;
            if (waiting > 0) platform::SetEvent(sendEvent);
            if (waiting == 0) answered = true;
            continue;
        }
        if (signalled == 2) {
            const platform::IoResult piece = read.Fetch();
            if (IsPieceError(piece)) {
                // The service closed the pipe or went away.
                Log(kLogSyncReadFailed);
                return LinkEnd::Broken;
            }
            AppendPiece(push, buffer, piece.bytes);
            if (piece.ok) {
                std::u16string_view key, value;
                // A text that cannot be cut is dropped; the thread goes on.
                if (wire::CutPush(push, key, value)) DispatchValue(key, value);
                push.clear();
            }
            platform::ResetEvent(readEvent.get());
            read.StartRead(buffer, kPieceBytes);
            continue;
        }
        Log(kLogSyncLostConnection);
        return LinkEnd::Broken;
    }
}

void SettingsClient::ClosePipes(LinkEnd end) {
    if (end == LinkEnd::Stopped) m_shuttingDown = true;
    platform::UniqueHandle sendOnly, request;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    sendOnly = std::move(m_sendOnlyPipe);
    request = std::move(m_pipe);
    if (end == LinkEnd::Broken) {
        m_awaitingService = true;
        m_outgoing.clear();  // no link will carry them: the next one starts afresh
    }
}

std::int64_t SettingsClient::SendNextMessage(platform::Handle requestPipe, platform::Handle exchangeEvent,
                                             std::u16string& reply) {
    std::u16string request;
    std::int64_t waiting = 0;
    RunSerialized([&] {
        if (m_outgoing.empty()) return;
        request = std::move(m_outgoing.front());
        m_outgoing.pop_front();
        waiting = static_cast<std::int64_t>(m_outgoing.size());
    });
    if (request.empty()) return waiting;

    // An event that could not be created fails here.
    if (!platform::ResetEvent(exchangeEvent)) return -1;
    reply.clear();
    unsigned char buffer[kPieceBytes];
    bool broken = false;
    {
        // Declared after the buffers: a transfer that did not complete in
        // time is cancelled and awaited before they are released.
        platform::Transfer transfer(requestPipe, exchangeEvent);
        transfer.StartWrite(request.data(), static_cast<std::uint32_t>(request.size() * sizeof(char16_t)));
        if (transfer.Await(kExchangeTimeoutMs) != platform::WaitResult::Signalled) return -1;
        // The write's own result decides nothing but whether the pipe broke:
        // the reply's read fails then too, and logs it.
        const platform::IoResult written = transfer.Fetch();
        broken = !written.ok && platform::IsBrokenPipe(written.error);
        for (;;) {
            platform::ResetEvent(exchangeEvent);
            transfer.StartRead(buffer, kPieceBytes);
            platform::IoResult piece;
            if (transfer.Await(kExchangeTimeoutMs) == platform::WaitResult::Signalled)
                piece = transfer.Fetch();
            if (IsPieceError(piece)) {
                Log(kLogAckReadFailed);
                broken = broken || (piece.complete && platform::IsBrokenPipe(piece.error));
                reply.clear();
                break;
            }
            AppendPiece(reply, buffer, piece.bytes);
            if (piece.ok) break;
        }
    }
    if (reply.empty()) return broken ? kLinkBroken : -1;
    const wire::Judgement judgement = wire::JudgeReply(request, reply);
    if (!judgement.ok) {
        if (judgement.logMessage) Log(judgement.logMessage);
        return -1;
    }
    if (judgement.hasValue) DispatchValue(judgement.key, judgement.value);
    return waiting;
}

}  // namespace PevraNUV
