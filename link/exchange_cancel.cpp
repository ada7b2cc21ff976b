#include "link/exchange_cancel.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

CExchangeCancel::CExchangeCancel() : m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CExchangeCancel::~CExchangeCancel() {
    if (m_wakeFd >= 0) {
        close(m_wakeFd);
    }
}

void CExchangeCancel::Cancel() {
    m_cancelled.store(true);
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto ignored = write(m_wakeFd, &one, sizeof(one));
    }
}

void CExchangeCancel::Reset() {
    m_cancelled.store(false);
    if (m_wakeFd >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto ignored = read(m_wakeFd, &count, sizeof(count));
    }
}
