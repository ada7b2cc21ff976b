#include "server/cancel_controller_service.h"

CCancelControllerService::CCancelControllerService(CShakerBackend& backend, CCallLog& log,
                                                   CAccessGuard& guard)
    : m_backend(backend), m_log(log), m_guard(guard) {}
