#pragma once

// Steps of _GCD::Run around the start task; nothing else starts or stops the timer thread.
namespace _GCD {

void StartTimerThread();
// Lets a running timer task finish, joins the thread and discards the timers still pending.
void StopTimerThread();

}  // namespace _GCD
