// Calls into the main (GUI) thread from workers, and message processing on it.
#pragma once

#include <functional>

bool IsMainThread();
// Runs fn on the main thread and blocks until it returned; an exception that fn throws
// is re-thrown here. Called on the main thread, fn simply runs.
void SynchronizeCall(const std::function<void()>& fn);
// Posts fn to run later on the main thread; returns at once.
void QueueOnMainThread(std::function<void()> fn);
// Runs the synchronous calls that workers are waiting on (the main thread only).
// Returns true when at least one ran.
bool CheckSynchronize();
// Waits up to ms for a worker to ask for the main thread (or for WakeMainThread).
void WaitForSynchronize(int ms);
void WakeMainThread();
// Handles pending synchronous calls and every pending event of the application.
void ProcessMessages();
// Processes messages at least once, then until ms milliseconds have passed
// (signed 32-bit tick difference, so it ends on time across the wrap).
void DelayWithMessages(int ms);
