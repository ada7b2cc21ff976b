#include "server/web_headers.h"

const std::vector<std::pair<QByteArray, QByteArray>>& WebSecurityHeaders() {
    static const std::vector<std::pair<QByteArray, QByteArray>> headers = {
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
         "img-src 'self' data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
    };
    return headers;
}
