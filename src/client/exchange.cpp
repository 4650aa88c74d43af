// One exchange on the request pipe: the next queued message written, its one
// reply read in pieces within the time limits and judged against it.
#include "client/link.h"
#include "client/messages.h"
#include "client/pieces.h"
#include "client/settings_client.h"
#include "log/log.h"

namespace PevraNUV {

using pieces::kExchangeTimeoutMs;
using pieces::kPieceBytes;

Link::Exchange Link::SendNextMessage(platform::Handle requestPipe, platform::Handle exchangeEvent,
                                     std::u16string& reply) {
    Exchange exchange;
    std::u16string request;
    m_client.RunSerialized([&] {
        std::deque<std::u16string>& outgoing = m_client.m_outgoing;
        if (outgoing.empty()) return;
        request = std::move(outgoing.front());
        outgoing.pop_front();
        exchange.waiting = outgoing.size();
    });
    if (request.empty()) return exchange;

    exchange.outcome = Exchange::Outcome::Failed;
    // An event that could not be created fails here.
    if (!platform::ResetEvent(exchangeEvent)) return exchange;
    reply.clear();
    unsigned char buffer[kPieceBytes];
    bool broken = false;
    {
        // Declared after the buffers: a transfer that did not complete in
        // time is cancelled and awaited before they are released.
        platform::Transfer transfer(requestPipe, exchangeEvent);
        transfer.StartWrite(request.data(), static_cast<std::uint32_t>(request.size() * sizeof(char16_t)));
        if (transfer.Await(kExchangeTimeoutMs) != platform::WaitResult::Signalled) return exchange;
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
            if (pieces::IsPieceError(piece)) {
                Log(kLogAckReadFailed);
                broken = broken || (piece.complete && platform::IsBrokenPipe(piece.error));
                reply.clear();
                break;
            }
            pieces::AppendPiece(reply, buffer, piece.bytes);
            if (piece.ok) break;
        }
    }
    // A broken pipe breaks the link (the service went away: wait for it);
    // a time-out or an empty reply fails it for good.
    if (reply.empty()) {
        if (broken) exchange.outcome = Exchange::Outcome::Broken;
        return exchange;
    }
    const wire::Judgement judgement = wire::JudgeReply(request, reply);
    if (!judgement.ok) {
        if (judgement.logMessage) Log(judgement.logMessage);
        return exchange;
    }
    if (judgement.hasValue) m_client.DispatchValue(judgement.key, judgement.value);
    exchange.outcome = Exchange::Outcome::Done;
    return exchange;
}

}  // namespace PevraNUV
