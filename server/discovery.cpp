#include "server/discovery.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

#include <cstdio>
#include <sstream>
#include <vector>

struct CDiscovery::Impl {
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    // Written before the poll thread starts and, later, only under the poll's lock.
    Announcement announcement;

    AvahiStringList* Txt() const {
        std::vector<std::string> lines = {"version=" + announcement.version,
                                          "server_name=" + announcement.name,
                                          "description=" + announcement.description};
        std::istringstream pem(announcement.certificatePem);
        std::string line;
        for (int n = 0; std::getline(pem, line);) {
            if (!line.empty())
                lines.push_back("ca" + std::to_string(n++) + "=" + line);
        }
        AvahiStringList* list = nullptr;
        for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
            // A TXT string holds at most 255 bytes.
            list = avahi_string_list_add(list, it->substr(0, 255).c_str());
        }
        return list;
    }

    // On the poll's thread (or before it runs).
    void Publish(AvahiClient* c) {
        if (!group)
            group = avahi_entry_group_new(c, nullptr, nullptr);
        if (!group)
            return;
        AvahiStringList* txt = Txt();
        if (avahi_entry_group_is_empty(group)) {
            const int err = avahi_entry_group_add_service_strlst(
                group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                announcement.uuid.c_str(), "_sila._tcp", nullptr, nullptr,
                static_cast<uint16_t>(announcement.port), txt);
            if (err == 0)
                avahi_entry_group_commit(group);
            else
                std::fprintf(stderr, "velmora-server: discovery: %s\n", avahi_strerror(err));
        } else {
            avahi_entry_group_update_service_txt_strlst(
                group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                announcement.uuid.c_str(), "_sila._tcp", nullptr, txt);
        }
        avahi_string_list_free(txt);
    }

    static void OnClient(AvahiClient* c, AvahiClientState state, void* self) {
        auto* impl = static_cast<Impl*>(self);
        if (state == AVAHI_CLIENT_S_RUNNING) {
            impl->Publish(c);
        } else if (state == AVAHI_CLIENT_S_COLLISION || state == AVAHI_CLIENT_S_REGISTERING) {
            // The daemon renames the host: announce again once it runs.
            if (impl->group)
                avahi_entry_group_reset(impl->group);
        }
    }
};

CDiscovery::CDiscovery() : m_impl(std::make_unique<Impl>()) {}

CDiscovery::~CDiscovery() {
    Stop();
}

bool CDiscovery::Start(const Announcement& announcement) {
    Stop();
    m_impl->announcement = announcement;
    m_impl->poll = avahi_threaded_poll_new();
    if (!m_impl->poll)
        return false;
    int err = 0;
    m_impl->client = avahi_client_new(avahi_threaded_poll_get(m_impl->poll), AvahiClientFlags(0),
                                      &Impl::OnClient, m_impl.get(), &err);
    if (!m_impl->client) {
        std::fprintf(stderr, "velmora-server: no mDNS announcement (Avahi: %s); serving anyway\n",
                     avahi_strerror(err));
        avahi_threaded_poll_free(m_impl->poll);
        m_impl->poll = nullptr;
        return false;
    }
    avahi_threaded_poll_start(m_impl->poll);
    return true;
}

void CDiscovery::Rename(const std::string& name) {
    if (!m_impl->poll)
        return;
    avahi_threaded_poll_lock(m_impl->poll);
    m_impl->announcement.name = name;
    if (m_impl->group && !avahi_entry_group_is_empty(m_impl->group))
        m_impl->Publish(m_impl->client);
    avahi_threaded_poll_unlock(m_impl->poll);
}

void CDiscovery::Stop() {
    if (!m_impl->poll)
        return;
    avahi_threaded_poll_stop(m_impl->poll);
    // Freeing the client frees its entry group, which withdraws the announcement.
    avahi_client_free(m_impl->client);
    avahi_threaded_poll_free(m_impl->poll);
    m_impl->client = nullptr;
    m_impl->group = nullptr;
    m_impl->poll = nullptr;
}
