// The sending window: turns window messages into steps. The lookup's answer starts the walk
// over the server's addresses (its stagger timer and the attempts' connect events drive it),
// socket events feed the TLS channel and the conversation, the time-out gives up on a
// conversation that has gone silent, and the Cancel command ends everything, deleting the file
// once the server has accepted it. What the conversation and the channel hand back is carried
// out here, after their call has returned, so that no step ever runs inside another.
#include "sending_window.h"

#include <cstring>

#include "../../base/error_box.h"
#include "../../base/paths.h"
#include "../../base/text.h"
#include "../../platform/plat_files.h"
#include "../../platform/plat_tls.h"
#include "../../platform/plat_ui.h"
#include "../../platform/plat_window.h"
#include "mail_texts.h"
#include "outcome_text.h"

static const int kLogPixelsY = 90;
static const unsigned short kDefaultSmtpPort = 25;
// A socket that keeps delivering while it is being closed is not read for ever.
static const int kCloseDrainMax = 4096;

void SetStatusLine(PlatWindow handle, const char *text)
{
    PlatSetDlgItemText(handle, kStatusLine, text);
}

void StopTimeoutTimer(PlatWindow handle) { PlatKillTimer(handle, kTimeoutTimer); }

void CloseSendingWindow(SendingWindow *w)
{
    w->selfClose = true;
    PlatSendCommand(w->handle, kCancelButton);
}

void ShowBox(SendingWindow *w, const char *text)
{
    MailLogText(w->log, '*', text);
    CopyTextN(w->endReason, sizeof w->endReason, text, strcspn(text, "\n"));
    if (!w->check)
        ShowErrorBox(w->handle, text);
}

// The outcome as it stands, worded in a box.
static void ShowOutcome(SendingWindow *w)
{
    char text[kBoxTextSize + kFieldSize];
    FormatOutcomeText(&w->outcome, w->message, w->settings,
                      w->check ? kWithoutQueueSentence : kWithQueueSentence, text, sizeof text);
    ShowBox(w, text);
}

// Something failed that is no refusal: unless the conversation has its verdict already (a
// refusal told, the message accepted), this failure is what became of the message, and its
// box says so.
static void Fail(SendingWindow *w, MailFailure failure, long number = 0)
{
    if (w->conversation.verdict.kind != kVerdictNone)
        return;
    SetVerdict(&w->conversation, kVerdictFailed);
    RecordMailFailure(&w->outcome, failure, number);
    ShowOutcome(w);
}

// Something failed that ends the window.
static void FailWindow(SendingWindow *w, MailFailure failure, long number = 0)
{
    Fail(w, failure, number);
    CloseSendingWindow(w);
}

// The server has the message and the window ends without its reply to QUIT (a close, a
// time-out): delivered all the same, said in the log only.
static void EndDelivered(SendingWindow *w, const char *what)
{
    MailLogText(w->log, '*', what);
    SetStatusLine(w->handle, w->check ? kStatusCheckDone : kStatusSent);
    StopTimeoutTimer(w->handle);
    CloseSendingWindow(w);
}

// The TLS session as the log tells it: protocol, cipher, the server's certificate and the
// verdict on it.
static void LogTlsSession(SendingWindow *w, const char *verdict)
{
    if (!w->log->enabled && !w->check)
        return;
    PlatTlsInfo info;
    memset(&info, 0, sizeof info);
    PlatTlsDescribe(w->channel.tls, &info);
    // What a check reports.
    CopyText(w->outcome.session.tlsProtocol, sizeof w->outcome.session.tlsProtocol,
             info.protocol);
    char text[1024];
    FormatText(text, sizeof text,
               "%s, %s; certificate subject \"%s\", issuer \"%s\", expires %s; verdict: %s",
               info.protocol, info.cipher, info.subject, info.issuer, info.expires, verdict);
    MailLogText(w->log, '*', text);
}

// TLS failed: the certificate's verdict goes to the log, the box names it, the window ends.
static void FailTls(SendingWindow *w, const TlsFailure *failure)
{
    if (w->conversation.verdict.kind == kVerdictNone) {
        if (failure->kind == kTlsCertificateRefused) {
            char verdict[40];
            FormatText(verdict, sizeof verdict, "refused (0x%08lX)", failure->code);
            LogTlsSession(w, verdict);
        }
        w->outcome.tls = *failure;
    }
    FailWindow(w, kFailureTls, (long)failure->code);
}

// ---- the time-out -----------------------------------------------------------------------

// True once all the conversation has handed over is on the socket, TLS records included.
static bool AllOnSocket(const SendingWindow *w)
{
    const char *data;
    size_t length;
    return !HasUnsentOutput(&w->conversation) && !TlsPendingOutput(&w->channel, &data, &length);
}

// Bytes moved (the socket took some of ours, or delivered some): the silence starts anew.
// Once everything is on the socket, the awaited reply has what its step allows.
static void BytesMoved(SendingWindow *w)
{
    unsigned period = kTimeoutMilliseconds;
    if (AllOnSocket(w)) {
        period = ReplyTimeout(&w->conversation);
        if (AwaitingMessageReply(&w->conversation) && !w->messageLogged) {
            char text[100];
            FormatText(text, sizeof text, "(the message: %llu bytes in %d piece%s)",
                       (unsigned long long)w->conversation.messageBytes,
                       w->conversation.messagePieces,
                       w->conversation.messagePieces == 1 ? "" : "s");
            MailLogText(w->log, '>', text);
            w->messageLogged = true;
        }
    }
    PlatSetTimer(w->handle, kTimeoutTimer, period);
}

static void HandleTimer(SendingWindow *w)
{
    StopTimeoutTimer(w->handle);
    // Stopped by a negative reply: the user decides.
    if (w->conversation.waitingForUser)
        return;
    if (ConversationSucceeded(&w->conversation)) {
        EndDelivered(w, "no reply to QUIT after the message was accepted: delivered");
        return;
    }
    // A handshake that stalls counts as the step after the greeting, also with TLS from the
    // first byte (whose greeting comes only once the handshake is done).
    int state = w->conversation.state;
    if (w->channel.mode == kTlsHandshaking && state <= kStateHelo)
        state = kStateHelo;
    FailWindow(w, kFailureTimedOut, state);
}

// ---- moving bytes ---------------------------------------------------------------------

enum MoveResult { kMovedAll, kMoveBlocked, kMoveBroken };

// One send of bytes to the socket: how many it took (0: none, it is full until the next write
// event), or -1 when the connection is broken.
static int SendToSocket(SendingWindow *w, const char *data, size_t length)
{
    if (w->socketFull)
        return 0;
    int n = PlatSend(w->socket, data, length > 0x7FFFFFFF ? 0x7FFFFFFF : (int)length);
    if (n == 0)
        w->socketFull = true;
    return n;
}

// Hands the channel's bytes to the socket as far as it takes them.
static MoveResult MoveChannelOutput(SendingWindow *w)
{
    const char *data;
    size_t length;
    while (TlsPendingOutput(&w->channel, &data, &length)) {
        int n = SendToSocket(w, data, length);
        if (n < 0)
            return kMoveBroken;
        if (n == 0)
            return kMoveBlocked;
        TlsOutputTaken(&w->channel, (size_t)n);
        BytesMoved(w);
    }
    return kMovedAll;
}

// Everything waiting goes down as far as the socket takes it: what TLS holds first (it is
// older than anything of the conversation), then the conversation's bytes, in clear or
// encrypted. A partial send is followed by another try, which re-arms the write event.
static MoveResult MoveOutput(SendingWindow *w)
{
    for (;;) {
        MoveResult moved = MoveChannelOutput(w);
        if (moved != kMovedAll)
            return moved;
        const char *data;
        size_t length;
        if (!PendingOutput(&w->conversation, &data, &length))
            return kMovedAll;
        if (w->channel.mode == kTlsHandshaking)
            return kMoveBlocked;  // nothing of the conversation before the handshake is done
        if (w->channel.mode == kTlsSecure) {
            size_t taken = TlsEncrypt(&w->channel, data, length);
            if (taken == (size_t)-1)
                return kMoveBroken;
            OutputTaken(&w->conversation, taken);
            continue;
        }
        int n = SendToSocket(w, data, length);
        if (n < 0)
            return kMoveBroken;
        if (n == 0)
            return kMoveBlocked;
        OutputTaken(&w->conversation, (size_t)n);
        BytesMoved(w);
    }
}

// Forgets what can no longer go out (the connection is gone).
static void DropAllOutput(SendingWindow *w)
{
    DropOutput(&w->conversation);
    TlsDropOutput(&w->channel);
}

static void CarryOut(SendingWindow *w, const SmtpActions *actions);

// Moves what waits to the socket; then, while nothing of ours is left unsent, lets the
// conversation answer the replies that have come.
static void Pump(SendingWindow *w)
{
    while (!w->ended) {
        MoveResult moved = MoveOutput(w);
        if (moved == kMoveBroken) {
            // A handshake that cannot go on ends here; otherwise the connection's close or
            // the server's reply tells the rest.
            if (w->channel.mode == kTlsHandshaking) {
                FailWindow(w, kFailureClosed);
                return;
            }
            DropAllOutput(w);
            continue;
        }
        if (moved == kMoveBlocked)
            return;
        SmtpActions actions = {};
        if (!TakeNextReply(&w->conversation, &actions))
            return;
        CarryOut(w, &actions);
    }
}

// Starts the handshake the conversation asked for and sends its first message.
static void StartTls(SendingWindow *w)
{
    TlsFailure failure;
    if (!TlsStart(&w->channel, w->settings->server, &failure)) {
        FailTls(w, &failure);
        return;
    }
    if (MoveChannelOutput(w) == kMoveBroken)
        FailWindow(w, kFailureClosed);
}

// The conversation has stopped with its verdict: a refusal is shown and the user closes the
// window (a check's ends at once); a protocol error or an overrun is shown and the window
// closes. A refused token, where the batch renews it, ends the window quietly.
static void ShowVerdict(SendingWindow *w)
{
    MailOutcome *o = &w->outcome;
    o->verdict = w->conversation.verdict;
    if (w->renewOnRefusedToken && IsRefusedToken(&o->verdict)) {
        MailLogText(w->log, '*', "the token was refused: it is renewed and the message sent again");
        o->fate = kFateRenewToken;
        CloseSendingWindow(w);
        return;
    }
    if (o->verdict.kind == kVerdictOverrun)
        RecordMailFailure(o, kFailureOverrun);
    ShowOutcome(w);
    if (o->verdict.kind != kVerdictRefused || w->check)
        CloseSendingWindow(w);
}

// The status line the conversation asked for.
static const char *StatusText(const SendingWindow *w, int status)
{
    switch (status) {
    case kSmtpStatusGreeted:
        return w->message->statusText;
    case kSmtpStatusDisconnecting:
        return kStatusDisconnecting;
    case kSmtpStatusSent:
        return kStatusSent;
    case kSmtpStatusCheckTls:
        return kStatusCheckTls;
    case kSmtpStatusCheckLogin:
        return kStatusCheckLogin;
    case kSmtpStatusCheckQuit:
        return kStatusCheckQuit;
    default:
        return kStatusCheckDone;
    }
}

// A note of the conversation's, worded for the log.
static void LogNote(SendingWindow *w, int note)
{
    if (note == kSmtpNoteQuitRefused) {
        MailLogText(w->log, '*', w->check ? "QUIT refused at the end of the check"
                                          : "QUIT refused after the message was accepted: "
                                            "delivered all the same");
        return;
    }
    // What the message got before it went out, and how its body goes.
    const QueuedMessage *m = w->message;
    char text[sizeof m->added + 40];
    if (m->codingOffset > 0)
        FormatText(text, sizeof text, "%s, %s", m->added,
                   w->conversation.quotedPrintable ? kCodingQuotedPrintable : kCoding8Bit);
    else
        CopyText(text, sizeof text, m->added[0] ? m->added : "nothing added");
    MailLogText(w->log, '*', text);
}

// What the conversation asked for, in order, until the window has ended. More actions than
// the list holds can only be a fault: the message stops with it.
static void CarryOut(SendingWindow *w, const SmtpActions *actions)
{
    if (actions->overflow && !w->ended) {
        SmtpVerdictKind kind = w->conversation.verdict.kind;
        if (kind == kVerdictNone || ConversationSucceeded(&w->conversation)) {
            if (kind == kVerdictNone) {
                SetProtocolFault(&w->conversation, kFaultTooManyActions);
                ShowVerdict(w);
            }
            CloseSendingWindow(w);
            return;
        }
    }
    for (int i = 0; i < actions->count && !w->ended; i++) {
        const SmtpAction &action = actions->items[i];
        switch (action.kind) {
        case kActionStatus:
            SetStatusLine(w->handle, StatusText(w, action.code));
            break;
        case kActionVerdict:
            ShowVerdict(w);
            break;
        case kActionStartTls:
            StartTls(w);
            break;
        case kActionStopTimer:
            StopTimeoutTimer(w->handle);
            break;
        case kActionClose:
            CloseSendingWindow(w);
            break;
        case kActionLogSent:
            MailLogText(w->log, '>', action.text);
            break;
        case kActionLogReceived:
            MailLogLine(w->log, '<', action.text, action.length);
            break;
        case kActionLogNote:
            LogNote(w, action.code);
            break;
        }
    }
}

// ---- socket events ----------------------------------------------------------------------

// The connection has ended under the conversation. After a negative reply its box has told
// the user, who is not asked to answer a second one: the window closes. Otherwise the close
// is reported as designed. Either way the batch stops.
static void ConnectionEnded(SendingWindow *w)
{
    if (ConversationSucceeded(&w->conversation)) {
        EndDelivered(w, "the server closed the connection after accepting the message: delivered");
        return;
    }
    if (w->conversation.waitingForUser)
        MailLogText(w->log, '*', "the server closed the connection");
    FailWindow(w, kFailureClosed);
}

// The connect has completed (reported, or at once).
static void ConnectionUp(SendingWindow *w)
{
    SmtpActions actions = {};
    ConnectionMade(&w->conversation, &actions);
    CarryOut(w, &actions);
    Pump(w);
}

// Text for the conversation, in pieces no larger than one plain receive, so that the reply
// lines see what they would see without TLS.
// All of it came with the last receive: once a command has gone out since, the rest came
// before the server could have had it.
static void FeedText(SendingWindow *w, const char *text, size_t length)
{
    for (size_t done = 0; done < length && !w->ended;) {
        size_t piece = length - done < (size_t)kReceiveMax ? length - done : (size_t)kReceiveMax;
        bool early = w->arrivalEarly || w->conversation.commandsQueued != w->arrivalCommands;
        SmtpActions actions = {};
        AddReplyBytes(&w->conversation, text + done, piece, early, &actions);
        CarryOut(w, &actions);
        Pump(w);
        done += piece;
    }
}

// Steps the channel over what it holds until it wants more, feeding the conversation.
static void StepChannel(SendingWindow *w)
{
    while (!w->ended) {
        const char *text = nullptr;
        size_t length = 0;
        TlsFailure failure = {};
        TlsState state = TlsNextState(&w->channel, w->settings->server, &text, &length, &failure);
        // A handshake message the step made goes out before anything is judged.
        MoveResult moved = MoveChannelOutput(w);
        if (moved == kMoveBroken && w->channel.mode == kTlsHandshaking &&
            state != kTlsFailed) {
            FailWindow(w, kFailureClosed);
            return;
        }
        switch (state) {
        case kTlsWantInput:
            Pump(w);
            return;
        case kTlsSecured: {
            LogTlsSession(w, "trusted");
            SmtpActions actions = {};
            SecureChannelReady(&w->conversation, &actions);
            CarryOut(w, &actions);
            Pump(w);
            break;
        }
        case kTlsText:
            FeedText(w, text, length);
            break;
        case kTlsClosed:
            MailLogText(w->log, '*', "the server ended the TLS session");
            ConnectionEnded(w);
            return;
        case kTlsFailed:
            FailTls(w, &failure);
            return;
        }
    }
}

// What one receive found.
enum ReadResult { kReadBytes, kReadNothing, kReadClosed, kReadFailed };

// One receive, and the bytes handed on: to the channel once TLS has started, else to the
// conversation. A failed receive has been recorded and shown; the caller ends the window.
static ReadResult ReadOnce(SendingWindow *w)
{
    char buffer[kReceiveMax + 1];
    char *into = buffer;
    size_t room = kReceiveMax;
    bool tls = w->channel.mode != kTlsPlain;
    if (tls) {
        into = TlsInputSpace(&w->channel, &room);
        if (room == 0) {
            TlsFailure failure = {kTlsProviderFailure, kTlsBufferTooSmall};
            w->outcome.tls = failure;
            Fail(w, kFailureTls, (long)failure.code);
            return kReadFailed;
        }
    }
    // Bytes that come while a command of ours is still on the way cannot answer it (what
    // the channel holds during the handshake is its own, no command).
    const char *unsent;
    size_t unsentLength;
    w->arrivalEarly = HasUnsentOutput(&w->conversation) ||
                      (w->channel.mode == kTlsSecure &&
                       TlsPendingOutput(&w->channel, &unsent, &unsentLength));
    w->arrivalCommands = w->conversation.commandsQueued;
    int n = PlatRecv(w->socket, into, room > 0x7FFFFFFF ? 0x7FFFFFFF : (int)room);
    if (n == 0)
        return kReadClosed;
    if (n < 0) {
        // A read event whose data an earlier receive already took: nothing is wrong.
        if (PlatWsaGetLastError() == PLAT_WSAEWOULDBLOCK)
            return kReadNothing;
        Fail(w, kFailureReceive, n);
        return kReadFailed;
    }
    BytesMoved(w);
    if (tls) {
        TlsInputAdded(&w->channel, (size_t)n);
        StepChannel(w);
        return kReadBytes;
    }
    buffer[n] = '\0';
    SmtpActions actions = {};
    AddReplyBytes(&w->conversation, buffer, (size_t)n, w->arrivalEarly, &actions);
    CarryOut(w, &actions);
    Pump(w);
    return kReadBytes;
}

// With TLS from the first byte nothing is read in clear, even should the server speak before
// the connect was reported: the handshake starts first.
static void StartTlsBeforeReading(SendingWindow *w)
{
    if (w->settings->security != kSecurityTls)
        return;
    SmtpActions actions = {};
    ConnectionMade(&w->conversation, &actions);
    CarryOut(w, &actions);
}

static void HandleRead(SendingWindow *w)
{
    StartTlsBeforeReading(w);
    if (w->ended)
        return;
    switch (ReadOnce(w)) {
    case kReadClosed:
        ConnectionEnded(w);
        break;
    case kReadFailed:
        CloseSendingWindow(w);
        break;
    default:
        break;
    }
}

// The close notification counts as the read event that finds the connection closed: what
// we were sending can no longer go, what the server sent before it closed (its last reply,
// perhaps a 421) is read and handled first, and then the close is reported unless the
// conversation has ended meanwhile.
static void HandleClose(SendingWindow *w)
{
    DropAllOutput(w);
    // With TLS from the first byte nothing is read in clear: a close before the handshake
    // began leaves nothing to read.
    bool clearOnly = w->settings->security == kSecurityTls && w->channel.mode == kTlsPlain;
    for (int i = 0; i < kCloseDrainMax && !w->ended && !clearOnly; i++) {
        ReadResult read = ReadOnce(w);
        if (read == kReadFailed) {
            CloseSendingWindow(w);
            return;
        }
        if (read != kReadBytes)
            break;
        DropAllOutput(w);  // an answer to what came cannot go either
    }
    if (!w->ended)
        ConnectionEnded(w);
}

// One socket event of the connection: the event code in the low 16 bits (its connect event
// went to the address walk).
static void HandleSocketEvent(SendingWindow *w, unsigned long eventWord)
{
    unsigned event = (unsigned)(eventWord & 0xFFFF);
    switch (event) {
    case PLAT_FD_READ:
        HandleRead(w);
        break;
    case PLAT_FD_WRITE:
        w->socketFull = false;
        Pump(w);
        break;
    case PLAT_FD_CLOSE:
        HandleClose(w);
        break;
    default:
        break;
    }
}

// ---- the window -------------------------------------------------------------------------

void CloseConnection(PlatSocket socket)
{
    if (socket == PLAT_INVALID_SOCKET)
        return;
    PlatShutdown(socket, 1);
    char scratch[kReceiveMax + 1];
    for (int i = 0; i < kCloseDrainMax && PlatRecv(socket, scratch, kReceiveMax) > 0; i++) {
    }
    PlatShutdown(socket, 2);
    PlatCloseSocket(socket);
}

// ---- connecting: every address of the server ---------------------------------------------

// The configured port; the services database (and then 25) only when it is 0.
static unsigned short ConnectPort(const MailSettings *s)
{
    unsigned short port = s->port;
    if (port == 0)
        port = PlatGetServicePort("smtp", "tcp");
    return port != 0 ? port : kDefaultSmtpPort;
}

static void CarryOutWalk(SendingWindow *w, const WalkActions *actions, MailFailure failure);

static void AttemptConnected(SendingWindow *w, int attempt)
{
    WalkActions actions;
    WalkConnected(&w->walk, attempt, &actions);
    CarryOutWalk(w, &actions, kFailureConnect);
}

// How attempt failed (failure: its socket, its events or its connect) decides the box should
// it be the last address.
static void AttemptFailed(SendingWindow *w, int attempt, int error, MailFailure failure)
{
    char text[PLAT_ADDRESS_TEXT_SIZE + 60];
    FormatText(text, sizeof text, "%s: connect failed (%d)", WalkAddressText(&w->walk, attempt),
               error);
    MailLogText(w->log, '*', text);
    WalkActions actions;
    WalkConnectFailed(&w->walk, attempt, error, &actions);
    CarryOutWalk(w, &actions, failure);
}

// One address: its socket, its events, its connect, and what came of it at once.
static void StartAttempt(SendingWindow *w, int attempt)
{
    const PlatAddress *address = WalkAddress(&w->walk, attempt);
    if (!address)
        return;
    char server[sizeof w->settings->server + PLAT_ADDRESS_TEXT_SIZE + 4];
    FormatServerAddress(w->settings->server, address->text, server, sizeof server);
    char text[sizeof server + 40];
    FormatText(text, sizeof text, kStatusConnecting, server);
    SetStatusLine(w->handle, text);
    FormatText(text, sizeof text, "connecting to %s port %u", address->text, (unsigned)w->port);
    MailLogText(w->log, '*', text);

    PlatSocket socket = PlatCreateSocketFor(address->family);
    if (socket == PLAT_INVALID_SOCKET) {
        AttemptFailed(w, attempt, PlatWsaGetLastError(), kFailureNoSocket);
        return;
    }
    w->attempts[attempt] = socket;
    if (PlatAsyncSelect(socket, w->handle, kWmSocketEvent, kSocketEventMask) != 0) {
        AttemptFailed(w, attempt, PlatWsaGetLastError(), kFailureNoSocketEvents);
        return;
    }
    bool connectedAtOnce = PlatConnectAddress(socket, address, w->port) == 0;
    int error = connectedAtOnce ? 0 : PlatWsaGetLastError();
    if (!connectedAtOnce && error != PLAT_WSAEWOULDBLOCK) {
        AttemptFailed(w, attempt, error, kFailureConnect);
        return;
    }
    if (w->conversation.state == kStateIdle)
        ConnectIssued(&w->conversation);
    // A connect done at once may never be reported by an event.
    if (connectedAtOnce)
        AttemptConnected(w, attempt);
}

// Attempt has answered first: its socket is the connection from now on.
static void AttemptWon(SendingWindow *w, int attempt)
{
    w->socket = w->attempts[attempt];
    w->attempts[attempt] = PLAT_INVALID_SOCKET;
    MailSession *session = &w->outcome.session;
    CopyText(session->address, sizeof session->address, WalkAddressText(&w->walk, attempt));
    session->port = w->port;
    char text[sizeof w->settings->server + 40];
    FormatText(text, sizeof text, "connected to %s", session->address);
    MailLogText(w->log, '*', text);
    FormatText(text, sizeof text, kStatusConnected, w->settings->server);
    SetStatusLine(w->handle, text);
    ConnectionUp(w);
}

// What the walk asked for, in order. Once the window has ended only the closes and the
// timer's stop are carried out.
static void CarryOutWalk(SendingWindow *w, const WalkActions *actions, MailFailure failure)
{
    for (int i = 0; i < actions->count; i++) {
        const WalkAction &action = actions->items[i];
        int attempt = action.attempt;
        if (w->ended && action.kind != kWalkClose && action.kind != kWalkStopTimer)
            continue;
        switch (action.kind) {
        case kWalkConnect:
            StartAttempt(w, attempt);
            break;
        case kWalkClose:
            if (attempt < 0 || attempt >= PLAT_ADDRESS_MAX)
                break;
            if (w->walk.attempts[attempt] == kAttemptClosed) {
                char text[PLAT_ADDRESS_TEXT_SIZE + 40];
                FormatText(text, sizeof text, "%s: closed unanswered",
                           WalkAddressText(&w->walk, attempt));
                MailLogText(w->log, '*', text);
            }
            if (w->attempts[attempt] != PLAT_INVALID_SOCKET)
                PlatCloseSocket(w->attempts[attempt]);
            w->attempts[attempt] = PLAT_INVALID_SOCKET;
            break;
        case kWalkArmTimer:
            PlatSetTimer(w->handle, kWalkStaggerTimer, kWalkStaggerMilliseconds);
            break;
        case kWalkStopTimer:
            PlatKillTimer(w->handle, kWalkStaggerTimer);
            break;
        case kWalkWon:
            if (attempt >= 0 && attempt < PLAT_ADDRESS_MAX)
                AttemptWon(w, attempt);
            break;
        case kWalkLookupFailed:
            FailWindow(w, kFailureLookup, action.error);
            break;
        case kWalkAllFailed:
            // The box of how the last address failed, as for a server of one address.
            FailWindow(w, failure);
            break;
        }
    }
}

// The lookup's answer: the addresses are walked. An answer to no lookup of ours (an old
// message whose handle value is in use again) is not taken.
static void AddressesFound(SendingWindow *w, uintptr_t lookup, intptr_t error)
{
    PlatAddressList list;
    if (lookup == 0 || lookup != w->lookup || !PlatResolveTake(lookup, &list))
        return;
    w->lookup = 0;
    w->port = ConnectPort(w->settings);
    if (error == 0 && list.count > 0) {
        char text[PLAT_ADDRESS_MAX * (PLAT_ADDRESS_TEXT_SIZE + 2) + 40];
        CopyText(text, sizeof text, "addresses:");
        for (int i = 0; i < list.count && i < PLAT_ADDRESS_MAX; i++) {
            AppendText(text, sizeof text, i == 0 ? " " : ", ");
            AppendText(text, sizeof text, list.addresses[i].text);
        }
        MailLogText(w->log, '*', text);
    }
    WalkActions actions;
    WalkLookupDone(&w->walk, (int)error, &list, &actions);
    CarryOutWalk(w, &actions, kFailureConnect);
}

static void HandleStaggerTimer(SendingWindow *w)
{
    WalkActions actions;
    WalkTimerFired(&w->walk, &actions);
    CarryOutWalk(w, &actions, kFailureConnect);
}

// A socket event before an address has won: the connect event of an attempt is the walk's.
// Bytes to read come only on a connection, so a read event that overtook its connect event
// wins as well, and is then read; other events change nothing before the connection.
static void HandleAttemptEvent(SendingWindow *w, uintptr_t socket, unsigned long eventWord)
{
    unsigned event = (unsigned)(eventWord & 0xFFFF);
    if ((event != PLAT_FD_CONNECT && event != PLAT_FD_READ) || w->walk.phase != kWalkConnecting)
        return;
    for (int i = 0; i < PLAT_ADDRESS_MAX; i++) {
        if (w->attempts[i] == PLAT_INVALID_SOCKET || (uintptr_t)w->attempts[i] != socket)
            continue;
        int error = (int)((eventWord >> 16) & 0xFFFF);
        if (event == PLAT_FD_CONNECT && error != 0) {
            AttemptFailed(w, i, error, kFailureConnect);
            return;
        }
        AttemptConnected(w, i);
        if (event == PLAT_FD_READ && !w->ended && (uintptr_t)w->socket == socket)
            HandleSocketEvent(w, eventWord);
        return;
    }
}

// The window ends (or has ended) while still connecting: the lookup is let go, every attempt
// closed and the stagger timer stopped. Nothing once an address has won.
static void StopConnecting(SendingWindow *w)
{
    PlatResolveCancel(w->lookup);
    w->lookup = 0;
    WalkActions actions;
    WalkAbandon(&w->walk, &actions);
    CarryOutWalk(w, &actions, kFailureConnect);
}

static void HandleInitDialog(SendingWindow *w, PlatWindow handle)
{
    w->handle = handle;
    // The body's scan ran while the window was made; a file it finds unusable, or one that
    // cannot be composed now, ends the window before it is shown, for the batch to report.
    if (!w->check) {
        int result = FinishMessageFile(w->message, w->wayOut != nullptr);
        if (result != kParseReady) {
            if (result == kParseNotNow) {
                w->outcome.fate = kFateKept;
                RecordMailFailure(&w->outcome, kFailureNotNow);
            } else {
                w->outcome.fate = kFateInvalidFile;
                w->outcome.fileResult = result;
            }
            w->selfClose = w->ended = true;
            PlatEndDialog(handle, -1);
            return;
        }
    }
    MailLogWindowOpened(w->log);
    // 10 points at the screen's vertical resolution, to the nearest pixel.
    int dpi = PlatGetDeviceCaps(handle, kLogPixelsY);
    int height = -((10 * dpi + 36) / 72);
    w->font = PlatCreateFont(height, 700, "MS Sans Serif");
    PlatSetControlFont(handle, kStatusLine, w->font, 0);
    PlatSetControlFont(handle, kCancelButton, w->font, 0);
    if (w->wayOut) {
        w->wayOut->start(w);
        return;
    }

    StartConversation(&w->conversation, w->settings, w->message);
    w->conversation.checkOnly = w->check;
    PlatSetTimer(handle, kTimeoutTimer, kTimeoutMilliseconds);
    char text[kBoxTextSize];
    FormatText(text, sizeof text, kStatusConnecting, w->settings->server);
    SetStatusLine(handle, text);
    w->lookup = PlatResolveStart(handle, kWmAddressesFound, w->settings->server);
    // The window then waits for the user's Cancel, and the time-out does not apply.
    if (w->lookup == 0) {
        StopTimeoutTimer(handle);
        Fail(w, kFailureLookupNotStarted);
        if (w->check)
            CloseSendingWindow(w);
    }
}

// What became of the message, once the window ends, unless that was decided before (an
// invalid file, a token to renew): the conversation's verdict and what the session found.
static void SettleOutcome(SendingWindow *w)
{
    MailOutcome *o = &w->outcome;
    if (o->fate != kFateUndecided)
        return;
    const SmtpConversation *c = &w->conversation;
    o->verdict = c->verdict;
    MailSession *session = &o->session;
    session->secure = c->secure;
    session->login = c->login;
    session->sizeLimit = c->sizeLimit;
    // Something came from the server that spoke for it: it was reached.
    session->reached = c->verdict.state >= kStateHelo || c->verdict.kind == kVerdictRefused ||
                       c->lastStepState >= kStateConnecting;
    if (c->verdict.kind == kVerdictChecked)
        o->fate = kFateChecked;
    else if (MessageAccepted(c) && !w->check)
        o->fate = kFateDelivered;
    else
        o->fate = kFateKept;
}

// How the message ended, for the log.
static void LogOutcome(SendingWindow *w, bool accepted, bool deleted)
{
    if (!w->log->enabled)
        return;
    char text[kBoxTextSize + 100];
    if (w->check)
        FormatText(text, sizeof text, "%s", w->outcome.fate == kFateChecked
                                                 ? "checked: the settings work"
                                                 : w->endReason[0] ? w->endReason : "check failed");
    else if (accepted)
        FormatText(text, sizeof text, "%s, %s",
                   w->conversation.state == kStateDone ? "delivered" : "accepted by the server",
                   deleted ? "file deleted" : "the file could not be deleted");
    else if (!w->selfClose)
        FormatText(text, sizeof text, "kept (state %d): %s%scancelled by the user",
                   w->conversation.state, w->endReason, w->endReason[0] ? "; " : "");
    else
        FormatText(text, sizeof text, "kept (state %d): %s", w->conversation.state,
                   w->endReason);
    MailLogMessageEnds(w->log, accepted, text);
}

static void HandleCancel(SendingWindow *w)
{
    if (w->ended)
        return;
    if (w->wayOut) {
        w->wayOut->cancel(w);
        return;
    }
    // Before the outcome is logged, so that the log says which attempts were closed.
    StopConnecting(w);
    // The user's Cancel stops the batch whatever became of the message.
    if (!w->selfClose) {
        SetVerdict(&w->conversation, kVerdictFailed);
        RecordMailFailure(&w->outcome, kFailureCancelled);
    }
    SettleOutcome(w);
    // Accepted: the server has the message, so it must not go out again, whatever came after.
    bool accepted = MessageAccepted(&w->conversation) && !w->check;
    bool deleted = accepted && DeleteMessageFile(w->message);
    LogOutcome(w, accepted, deleted);
    if (accepted && !deleted) {
        char text[kBoxTextSize];
        FormatText(text, sizeof text, kTextCouldNotDelete, w->message->path);
        ShowErrorBox(w->handle, text);
    }
    if (w->conversation.state != kStateIdle)
        CloseConnection(w->socket);
    else if (w->socket != PLAT_INVALID_SOCKET)
        PlatCloseSocket(w->socket);  // made, but the connect was never issued
    w->socket = PLAT_INVALID_SOCKET;
    EndConversation(&w->conversation);
    TlsReset(&w->channel);
    // The last status stays a second on screen; a check's box follows at once instead.
    if (!w->check)
        PlatSleep(kClosePauseMilliseconds);
    w->ended = true;
    PlatEndDialog(w->handle, -1);
}

static intptr_t HandleMessage(SendingWindow *w, PlatWindow handle, unsigned message,
                              uintptr_t first, intptr_t second)
{
    switch (message) {
    case PLAT_WM_INITDIALOG:
        HandleInitDialog(w, handle);
        return 1;
    case kWmAddressesFound:
        AddressesFound(w, first, second);
        return 1;
    case kWmSocketEvent:
        // Before the connection: an attempt's; after it, events of a socket that is not (or
        // no longer) ours mean nothing here.
        if (w->socket == PLAT_INVALID_SOCKET)
            HandleAttemptEvent(w, first, (unsigned long)second);
        else if (first == (uintptr_t)w->socket)
            HandleSocketEvent(w, (unsigned long)second);
        return 1;
    case PLAT_WM_TIMER:
        if (w->wayOut)
            w->wayOut->timer(w);
        else if (first == kWalkStaggerTimer)
            HandleStaggerTimer(w);
        else if (first == kTimeoutTimer)
            HandleTimer(w);
        return 1;
    case PLAT_WM_COMMAND:
        if (first != (uintptr_t)kCancelButton)
            return 0;  // Esc and the close box do nothing
        HandleCancel(w);
        return 1;
    default:
        if (w->wayOut && message >= kWmWayOutFirst && message <= kWmWayOutLast) {
            w->wayOut->message(w, message, first);
            return 1;
        }
        return 0;
    }
}

static void DeferMessage(SendingWindow *w, unsigned message, uintptr_t first, intptr_t second)
{
    // The queue cannot fill in practice: the platform holds back a socket's next read event
    // until the socket has been read, and there are two timers and one lookup.
    if (w->deferredCount < kDeferredMax)
        w->deferred[w->deferredCount++] = {message, first, second};
}

intptr_t SendingWindowProc(void *context, PlatWindow handle, unsigned message, uintptr_t first,
                           intptr_t second)
{
    SendingWindow *w = (SendingWindow *)context;
    if (!w)
        return 0;
    bool asynchronous = message == kWmAddressesFound || message == kWmSocketEvent ||
                        message == PLAT_WM_TIMER ||
                        (message >= kWmWayOutFirst && message <= kWmWayOutLast);
    if (asynchronous) {
        if (w->ended)
            return 1;
        // Inside a box's loop: what is being carried out must finish first.
        if (w->handlerDepth > 0) {
            DeferMessage(w, message, first, second);
            return 1;
        }
    }
    w->handlerDepth++;
    intptr_t result = HandleMessage(w, handle, message, first, second);
    w->handlerDepth--;
    // Back at the outermost level: what waited is handled now, oldest first.
    while (w->handlerDepth == 0 && w->deferredCount > 0 && !w->ended) {
        DeferredMessage next = w->deferred[0];
        w->deferredCount--;
        memmove(w->deferred, w->deferred + 1, sizeof w->deferred[0] * (size_t)w->deferredCount);
        w->handlerDepth++;
        HandleMessage(w, handle, next.message, next.first, next.second);
        w->handlerDepth--;
    }
    if (w->ended)
        w->deferredCount = 0;
    return result;
}

void PrepareSendingWindow(SendingWindow *w, const MailSettings *settings,
                          QueuedMessage *message, MailLog *log)
{
    w->settings = settings;
    w->message = message;
    w->log = log;
    w->renewOnRefusedToken = w->check = false;
    w->owner = 0;
    ClearMailOutcome(&w->outcome);
    w->arrivalEarly = false;
    w->arrivalCommands = 0;
    w->handle = 0;
    w->socket = PLAT_INVALID_SOCKET;
    w->lookup = 0;
    w->port = 0;
    StartAddressWalk(&w->walk);
    for (PlatSocket &attempt : w->attempts)
        attempt = PLAT_INVALID_SOCKET;
    w->font = 0;
    w->socketFull = w->selfClose = w->ended = w->messageLogged = false;
    w->endReason[0] = '\0';
    w->deferredCount = 0;
    w->handlerDepth = 0;
    StartConversation(&w->conversation, settings, message);
    TlsReset(&w->channel);
    w->wayOut = nullptr;
    ResetApiSending(&w->api);
}

void ShowSendingWindow(SendingWindow *w)
{
    PlatDialogBox(w->check ? kCheckingWindowTemplate : kSendingWindowTemplate, w->owner,
                  SendingWindowProc, w);
    // A window that could not be made sent nothing: the rest waits for a later run.
    if (w->handle == 0)
        w->outcome.fate = kFateNoWindow;
    SettleOutcome(w);
    StopConnecting(w);
    if (w->socket != PLAT_INVALID_SOCKET) {
        PlatCloseSocket(w->socket);
        w->socket = PLAT_INVALID_SOCKET;
    }
    PlatDeleteFont(w->font);
    w->font = 0;
    if (w->wayOut)
        w->wayOut->end(w);
    EndConversation(&w->conversation);
    TlsReset(&w->channel);
}
