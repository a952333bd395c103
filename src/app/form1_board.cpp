// The board side of the window: the line after a synchronisation (at once, or so that it
// lands on the next whole second), the read-back query, and what the board says.
#include <QLabel>
#include <QTextDocument>
#include <QTimer>
#include <chrono>

#include "app/board_replies.h"
#include "app/form1.h"
#include "platform/clock.h"
#include "platform/locale_formats.h"
#include "toolkit/eventlog.h"

namespace {

using std::chrono::system_clock;

// Room for the hand-over to the link thread on top of the line's lead.
constexpr auto AlignMargin = std::chrono::milliseconds(20);
// A reply later than this after the query no longer counts as its answer.
constexpr auto QueryAnswerWindow = std::chrono::seconds(5);

int64_t UnixMs(system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

TDateTime LocalDateTime(system_clock::time_point t) {
    return UtcToLocal(UnixMsToDateTime(UnixMs(t)));
}

}  // namespace

void TForm1::ResolveBoardSettings() {
    FBoard = StoredBoardSettings();
    const TProgramOptions& o = FOptions.Program;
    if (o.AlignSecond) FBoard.AlignSecond = *o.AlignSecond;
    if (o.BoardBootMs) FBoard.BootMs = *o.BoardBootMs;
    if (o.BoardQuery) FBoard.Query = *o.BoardQuery;
}

// Boards that reset when the port opens ignore what arrives while their boot loader runs.
// Until the link's connection is told and its boot time over, a line would be lost.
bool TForm1::BoardBooting() const { return LinkConnected() && (!FBoardUp || FBootPending); }

// The clock was set already: the board gets the PC's time. Aligned, the line names the
// next whole second that it can still reach and goes to the link to land on it.
void TForm1::SendSyncLine() {
    if (BoardBooting()) {
        FLineHeld = true;  // Timer2 sends it when the boot time ends
        return;
    }
    if (!FBoard.AlignSecond) {
        const TDateTime date = NowLocal();
        FLastSyncLine = CommandLine(date, NowLocal());
        SendCommandLine(FLastSyncLine);
        SendBoardQuery();
        return;
    }
    const auto now = system_clock::now();
    auto due = std::chrono::ceil<std::chrono::seconds>(now);
    for (;;) {
        FLastSyncLine = CommandLine(LocalDateTime(due), LocalDateTime(due));
        if (due - now >= LuComPort1->LineLead(FLastSyncLine, false) + AlignMargin) break;
        due += std::chrono::seconds(1);
    }
    LuComPort1->SendStrAt(FLastSyncLine, false, due);
    if (FBoard.Query.empty()) return;
    // The line's CR reaches the board at due; the query follows it. A newer line replaces
    // the one still waiting for its second, and so does its query.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - system_clock::now());
    if (!FQueryTimer) {
        FQueryTimer = new QTimer(this);
        FQueryTimer->setSingleShot(true);
        FQueryTimer->setTimerType(Qt::PreciseTimer);
        connect(FQueryTimer, &QTimer::timeout, this, [this] { SendBoardQuery(); });
    }
    FQueryTimer->start(static_cast<int>(std::max<int64_t>(wait.count(), 0) + 1));
}

void TForm1::SendBoardQuery() {
    if (FBoard.Query.empty() || !LinkConnected()) return;
    FQuerySent = system_clock::now();
    FQueryOpen = true;
    SendCommandLine(FBoard.Query);
}

// Each reply is one event line (escaped, cut, at most ten a second) and the tooltip of the
// label that shows the last line sent; the answer to the query is read as the board's clock.
void TForm1::LuComPort1RxString(const std::string& line) {
    const std::string text = EscapeReply(line);
    // Plain text: a reply holding <b> is shown as it came, not drawn bold.
    Label1->setToolTip(Qt::convertFromPlainText(QString::fromStdString(text), Qt::WhiteSpacePre));
    if (const auto shown = FReplyLimit.Admit(text, UnixMs(system_clock::now())))
        LogEvent("board: " + *shown);
    if (!FQueryOpen || line == FLastSyncLine) return;  // an echo of the line is no answer
    if (LuComPort1->RxTime() - FQuerySent > QueryAnswerWindow) {
        FQueryOpen = false;
        return;
    }
    const auto board = FindBoardTime(line, ShortDateFormat(), LongTimeFormat());
    if (!board) return;
    FQueryOpen = false;
    // The board read its clock before the reply and its CR LF crossed the wire.
    const auto wire = std::chrono::duration_cast<std::chrono::milliseconds>(
        LuComPort1->WireTime(line.size() + 2));
    LogEvent(BoardOffsetText(*board, UnixMs(LuComPort1->RxTime()), wire.count()));
}
