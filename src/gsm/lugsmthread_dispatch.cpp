// The hook where the modem's reports turn into component state and events.
#include "gsm/lugsmthread_dispatch.h"

TModemDispatch& TLuGSMThread::Dispatch() {
    if (!FDispatch) {
        FDispatchTarget = std::make_unique<TThreadDispatchTarget>(*this);
        FDispatch = std::make_unique<TModemDispatch>(*FDispatchTarget);
    }
    // "+CIEV:" numbers follow the modem's own indicator list, read at connection.
    const std::string list = IndicatorList();
    if (list != FDispatchIndicatorList) {
        FDispatch->SetIndicatorNumbers(ParseIndicatorList(list));
        FDispatchIndicatorList = list;
    }
    return *FDispatch;
}

void TLuGSMThread::DispatchReply(const std::string& text) { Dispatch().DispatchReply(text); }

void TLuGSMThread::DispatchPiece(const std::string& text) { Dispatch().DispatchPiece(text); }
