// The hook where the modem's reports turn into component state and events.
#include "gsm/lugsmthread.h"

// Every caller has logged the text already; the reports are acted on here once the report
// dispatch is wired in. Nothing else in the thread relies on this doing more.
void TLuGSMThread::DispatchReply(const std::string& text) { (void)text; }
