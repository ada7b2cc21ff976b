#pragma once

#include <atomic>

// Calls off the exchanges of one party (the status poller, say) without touching anyone
// else's: an exchange handed this token wakes from any wait at once when it is cancelled, and
// one that starts after that sends nothing. Cancel may come from any thread; the token stays
// cancelled until Reset.
class CExchangeCancel {
  public:
    CExchangeCancel();
    ~CExchangeCancel();
    CExchangeCancel(const CExchangeCancel&) = delete;
    CExchangeCancel& operator=(const CExchangeCancel&) = delete;

    void Cancel();
    // Only between that party's exchanges: a wait in flight would miss the cancel it clears.
    void Reset();
    bool IsCancelled() const { return m_cancelled.load(); }

    // Readable while cancelled, for polling beside the port; -1 if none could be made, and
    // then waits are cut only at their next check of IsCancelled.
    int WakeFd() const { return m_wakeFd; }

  private:
    std::atomic<bool> m_cancelled{false};
    int m_wakeFd = -1;
};
