#include "server/discovery.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

namespace {

// A TXT string holds at most 255 bytes.
constexpr std::size_t kMaxTxtString = 255;

std::size_t WireSize(const std::vector<std::string>& strings) {
    std::size_t size = 0;
    for (const auto& text : strings)
        size += 1 + text.size();
    return size;
}

// "key=value" cut to `limit` bytes, never inside a UTF-8 character.
std::string Entry(const std::string& key, const std::string& value, std::size_t limit) {
    std::string entry = key + "=" + value;
    if (entry.size() <= limit)
        return entry;
    std::size_t end = limit;
    while (end > key.size() + 1 && (static_cast<unsigned char>(entry[end]) & 0xC0) == 0x80)
        --end;
    return entry.substr(0, end);
}

// What a record had to give up, for the log; empty when nothing.
std::string Shortfall(const TxtRecord& record) {
    if (record.certificateLeftOut)
        return "the certificate left out (give it to clients by hand)";
    if (record.nameCut)
        return "the server name and the description shortened";
    return record.descriptionCut ? "the description shortened" : "";
}

}  // namespace

TxtRecord AssembleTxtRecord(const CDiscovery::Announcement& announcement) {
    const std::string nameKey = "server_name";
    const std::string descriptionKey = "description";
    const std::string version = Entry("version", announcement.version, kMaxTxtString);
    std::vector<std::string> ca;
    std::istringstream pem(announcement.certificatePem);
    for (std::string line; std::getline(pem, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            ca.push_back(Entry("ca" + std::to_string(ca.size()), line, kMaxTxtString));
    }

    TxtRecord record;
    // The certificate is what a client needs to connect; the name and the description it can
    // read from the server once connected. A certificate cut short is no certificate.
    const std::size_t fixed = WireSize({version, nameKey + "=", descriptionKey + "="});
    if (fixed + WireSize(ca) >= kTxtRecordLimit) {
        record.certificateLeftOut = !ca.empty();
        ca.clear();
    }
    // What the two values may take, the name first.
    std::size_t room = kTxtRecordLimit - 1 - fixed - WireSize(ca);
    const std::string name =
        Entry(nameKey, announcement.name, std::min(kMaxTxtString, nameKey.size() + 1 + room));
    room -= name.size() - (nameKey.size() + 1);
    const std::string description =
        Entry(descriptionKey, announcement.description,
              std::min(kMaxTxtString, descriptionKey.size() + 1 + room));
    record.nameCut = name != Entry(nameKey, announcement.name, kMaxTxtString);
    record.descriptionCut =
        description != Entry(descriptionKey, announcement.description, kMaxTxtString);

    record.strings = {version, name, description};
    record.strings.insert(record.strings.end(), ca.begin(), ca.end());
    record.wireSize = WireSize(record.strings);
    return record;
}

struct CDiscovery::Impl {
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    // Written before the poll thread starts and, later, only under the poll's lock.
    Announcement announcement;

    AvahiStringList* Txt() const {
        const TxtRecord record = AssembleTxtRecord(announcement);
        if (const std::string given = Shortfall(record); !given.empty())
            std::fprintf(stderr, "velmora-server: discovery: %s to fit the record\n",
                         given.c_str());
        AvahiStringList* list = nullptr;
        for (auto it = record.strings.rbegin(); it != record.strings.rend(); ++it)
            list = avahi_string_list_add(list, it->c_str());
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
