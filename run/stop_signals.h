#pragma once

// Routes SIGINT and SIGTERM to `handler`, restarting the system calls they interrupt. The
// command-line tools end a run cleanly on either instead of dying mid-exchange.
void CatchStopSignals(void (*handler)(int));
