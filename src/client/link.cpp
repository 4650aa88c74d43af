// The link's state and the sync thread's loop: one link after another, each
// receiving the values the service pushes and sending the queued requests
// (exchange.cpp) until it stops, fails for good or breaks (outage.cpp).
#include "client/link.h"

#include "client/messages.h"
#include "client/pieces.h"
#include "client/settings_client.h"
#include "log/log.h"

namespace PevraNUV {

using pieces::kPieceBytes;

void Link::Hand() {
    // A thread that awaits the service takes the pipes: never two links.
    if (m_state == LinkState::AwaitingService) {
        m_state = LinkState::Linking;
        return;
    }
    // Otherwise any earlier thread has ended (it left on a failure of its
    // wait, or never started): joining it returns at once. A thread that
    // cannot start ends the link for good: the pipes stay open with the
    // handshake queued and nobody to send it, until the client goes.
    m_thread.Join();
    m_state = m_thread.Start(&Link::ThreadMain, this) ? LinkState::Linking : LinkState::EndedForGood;
}

void Link::SetState(LinkState state) {
    std::lock_guard<std::recursive_mutex> guard(m_client.m_lock);
    m_state = state;
}

std::uint32_t Link::ThreadMain(void* link) {
    auto* self = static_cast<Link*>(link);
    try {
        self->Run();
    } catch (...) {
        // Out of memory or the like: the link ends as on a failed exchange,
        // with its pipes, or as none without them, so that a later connect
        // starts another thread.
        std::lock_guard<std::recursive_mutex> guard(self->m_client.m_lock);
        self->m_state = self->m_client.m_sendOnlyPipe ? LinkState::EndedForGood : LinkState::None;
    }
    return 0;
}

void Link::Run() {
    // A link's pipes stay open while it runs: only its own end replaces them.
    platform::Handle sendOnlyPipe = platform::kInvalidHandle, requestPipe = platform::kInvalidHandle;
    m_client.RunSerialized([&] {
        sendOnlyPipe = m_client.m_sendOnlyPipe.get();
        requestPipe = m_client.m_pipe.get();
    });
    if (sendOnlyPipe == platform::kInvalidHandle) {
        Log(kLogSyncNoConnection);
        return;
    }
    std::uint32_t pause = 0;  // before the next attempt to connect again
    for (;;) {
        bool answered = false;
        const End end = RunLink(sendOnlyPipe, requestPipe, answered);
        if (end == End::Failed) SetState(LinkState::EndedForGood);
        if (end != End::Broken) return;
        // Only a link that got its handshake through starts the schedule
        // again: a service that accepts and hangs up at once must not make
        // this thread spin.
        if (answered) pause = 0;
        if (!AwaitService(pause, sendOnlyPipe, requestPipe)) return;
    }
}

Link::End Link::RunLink(platform::Handle sendOnlyPipe, platform::Handle requestPipe, bool& answered) {
    const platform::Handle stopEvent = m_client.m_stopEvent.get();
    const platform::Handle sendEvent = m_client.m_sendEvent.get();
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
            ClosePipes(End::Stopped);
            return End::Stopped;
        }
        if (signalled == 1) {
            // Reset first, so that a batch queued during the exchange is not missed.
            platform::ResetEvent(sendEvent);
            const Exchange exchange = SendNextMessage(requestPipe, exchangeEvent.get(), reply);
            if (exchange.outcome == Exchange::Outcome::Broken) return End::Broken;
            if (exchange.outcome == Exchange::Outcome::Failed) return End::Failed;
            if (exchange.waiting > 0) platform::SetEvent(sendEvent);
            if (exchange.waiting == 0 && !answered) {
                answered = true;
                SetState(LinkState::Linked);
            }
            continue;
        }
        if (signalled == 2) {
            const platform::IoResult piece = read.Fetch();
            if (pieces::IsPieceError(piece)) {
                // The service closed the pipe or went away.
                Log(kLogSyncReadFailed);
                return End::Broken;
            }
            pieces::AppendPiece(push, buffer, piece.bytes);
            if (piece.ok) {
                std::u16string_view key, value;
                // A text that cannot be cut is dropped; the thread goes on.
                if (wire::CutPush(push, key, value)) m_client.DispatchValue(key, value);
                push.clear();
            }
            platform::ResetEvent(readEvent.get());
            read.StartRead(buffer, kPieceBytes);
            continue;
        }
        Log(kLogSyncLostConnection);
        return End::Broken;
    }
}

void Link::ClosePipes(End end) {
    if (end == End::Stopped) m_client.m_shuttingDown = true;
    // Declared before the lock: the pipes close after it is released.
    platform::UniqueHandle sendOnly, request;
    std::lock_guard<std::recursive_mutex> guard(m_client.m_lock);
    sendOnly = std::move(m_client.m_sendOnlyPipe);
    request = std::move(m_client.m_pipe);
    if (end == End::Stopped) {
        m_state = LinkState::EndedForGood;
    } else {
        m_state = LinkState::AwaitingService;
        m_client.m_outgoing.clear();  // no link will carry them: the next one starts afresh
    }
}

}  // namespace PevraNUV
