// The system's number for the calling thread, as its own tools show it (top -H, Process
// Explorer): what a benchmark or a log needs to find one worker among the others.
#pragma once

long CurrentThreadId();
