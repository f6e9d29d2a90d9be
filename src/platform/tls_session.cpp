// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/tls_session.h"

#include <errno.h>
#include <fcntl.h>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <poll.h>
#include <time.h>

namespace kestrel {
namespace {

std::int64_t nowMs() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

// Waits until fd is ready for what the session wants next; false when the time ran out.
bool waitReady(int fd, gnutls_session_t session, std::int64_t deadline) {
    const short events = gnutls_record_get_direction(session) == 0 ? POLLIN : POLLOUT;
    for (;;) {
        const auto left = deadline - nowMs();
        if (left <= 0) {
            return false;
        }
        struct pollfd p {
            fd, events, 0
        };
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n > 0;
    }
}

bool retryable(int rc) {
    return rc == GNUTLS_E_AGAIN || rc == GNUTLS_E_INTERRUPTED;
}

}  // namespace

struct TlsSession::Impl {
    int fd = -1;
    gnutls_certificate_credentials_t credentials = nullptr;
    gnutls_session_t session = nullptr;
    ~Impl() {
        if (session != nullptr) {
            gnutls_deinit(session);
        }
        if (credentials != nullptr) {
            gnutls_certificate_free_credentials(credentials);
        }
    }
};

TlsSession::TlsSession() : m_impl(std::make_unique<Impl>()) {}

TlsSession::~TlsSession() = default;

bool TlsSession::handshake(int fd, const std::string& host, const TlsSession* resumeFrom,
                           int timeoutMs, std::string* error) {
    auto fail = [&](const std::string& what, int rc) {
        if (error != nullptr) {
            *error = what + (rc != 0 ? std::string(": ") + gnutls_strerror(rc) : "");
        }
        return false;
    };
    Impl& m = *m_impl;
    m.fd = fd;
    int rc = gnutls_certificate_allocate_credentials(&m.credentials);
    if (rc < 0) {
        return fail("no TLS credentials", rc);
    }
    // No trust store is no trust: pinned certificates still work.
    gnutls_certificate_set_x509_system_trust(m.credentials);
    if ((rc = gnutls_init(&m.session, GNUTLS_CLIENT | GNUTLS_NONBLOCK)) < 0 ||
        (rc = gnutls_set_default_priority(m.session)) < 0 ||
        (rc = gnutls_credentials_set(m.session, GNUTLS_CRD_CERTIFICATE, m.credentials)) < 0) {
        return fail("cannot set up TLS", rc);
    }
    // A name, not an address, goes into the server name indication.
    if (host.find_first_not_of("0123456789.") != std::string::npos &&
        host.find(':') == std::string::npos) {
        gnutls_server_name_set(m.session, GNUTLS_NAME_DNS, host.data(), host.size());
    }
    if (resumeFrom != nullptr && resumeFrom->m_impl->session != nullptr) {
        gnutls_datum_t data{};
        if (gnutls_session_get_data2(resumeFrom->m_impl->session, &data) == 0) {
            gnutls_session_set_data(m.session, data.data, data.size);
            gnutls_free(data.data);
        }
    }
    gnutls_transport_set_int(m.session, fd);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const std::int64_t deadline = nowMs() + timeoutMs;
    while ((rc = gnutls_handshake(m.session)) < 0) {
        if (gnutls_error_is_fatal(rc) != 0) {
            return fail("TLS handshake failed", rc);
        }
        if (retryable(rc) && !waitReady(fd, m.session, deadline)) {
            return fail("TLS handshake timed out", 0);
        }
    }
    unsigned int count = 0;
    const gnutls_datum_t* certs = gnutls_certificate_get_peers(m.session, &count);
    if (certs != nullptr && count > 0) {
        unsigned char digest[32] = {};
        if (gnutls_hash_fast(GNUTLS_DIG_SHA256, certs[0].data, certs[0].size, digest) == 0) {
            static const char kHex[] = "0123456789abcdef";
            for (const unsigned char b : digest) {
                m_fingerprint += kHex[b >> 4];
                m_fingerprint += kHex[b & 15];
            }
        }
        unsigned int status = 0;
        m_trusted =
            gnutls_certificate_verify_peers3(m.session, host.c_str(), &status) == 0 && status == 0;
    }
    return true;
}

bool TlsSession::resumed() const {
    return m_impl->session != nullptr && gnutls_session_is_resumed(m_impl->session) != 0;
}

TlsSession::Io TlsSession::receive(std::string& out, int timeoutMs, size_t maxBytes) {
    Impl& m = *m_impl;
    if (m_peerClosed) {
        return Io::Closed;
    }
    const std::int64_t deadline = nowMs() + timeoutMs;
    const size_t before = out.size();
    for (;;) {
        if (gnutls_record_check_pending(m.session) == 0) {
            struct pollfd p {
                m.fd, POLLIN, 0
            };
            const auto left = deadline - nowMs();
            const int n = left > 0 ? ::poll(&p, 1, static_cast<int>(left)) : 0;
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                return Io::TimedOut;
            }
        }
        out.resize(before + maxBytes);
        const ssize_t n = gnutls_record_recv(m.session, out.data() + before, maxBytes);
        out.resize(before + (n > 0 ? static_cast<size_t>(n) : 0));
        if (n > 0) {
            return Io::Data;
        }
        // A server that drops the connection without close_notify has still ended the stream;
        // the transfer's size check tells a cut one.
        if (n == 0 || n == GNUTLS_E_PREMATURE_TERMINATION) {
            m_peerClosed = true;
            return Io::Closed;
        }
        // Handshake messages after the handshake (session tickets) bring no data.
        if (!retryable(static_cast<int>(n)) && gnutls_error_is_fatal(static_cast<int>(n)) != 0) {
            return Io::Failed;
        }
    }
}

bool TlsSession::sendAll(const char* data, size_t size) {
    Impl& m = *m_impl;
    while (size > 0) {
        const ssize_t n = gnutls_record_send(m.session, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
            continue;
        }
        if (!retryable(static_cast<int>(n))) {
            return false;
        }
        struct pollfd p {
            m.fd, POLLOUT, 0
        };
        if (::poll(&p, 1, -1) < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

void TlsSession::bye(bool waitForPeer, int timeoutMs) {
    Impl& m = *m_impl;
    if (m.session == nullptr) {
        return;
    }
    const std::int64_t deadline = nowMs() + timeoutMs;
    const auto how = waitForPeer && !m_peerClosed ? GNUTLS_SHUT_RDWR : GNUTLS_SHUT_WR;
    int rc = 0;
    while ((rc = gnutls_bye(m.session, how)) < 0 && retryable(rc)) {
        if (!waitReady(m.fd, m.session, deadline)) {
            break;
        }
    }
    m_peerClosed = true;
}

}  // namespace kestrel
