#include "platform/link/outbox.hpp"

#include "platform/link/stored_plist.hpp"

#include <algorithm>
#include <set>
#include <utility>

namespace platform::phonelink {

namespace {

std::string orderKey(std::string_view prefix) {
    return std::string(prefix) + "outbox";
}
std::string entryKey(std::string_view prefix, std::string_view id) {
    return std::string(prefix) + "outbox/" + std::string(id);
}

Dictionary toDictionary(const Outbox::Entry& e) {
    Dictionary d{{"kind", e.kind == Outbox::Kind::file ? "file" : "userInfo"},
                 {"payload", e.payload}};
    if (e.kind == Outbox::Kind::file) {
        d.emplace("contents", e.contents);
    }
    return d;
}

std::optional<Outbox::Entry> fromDictionary(std::string id, const Dictionary& d) {
    const auto kind = d.find("kind");
    const auto payload = d.find("payload");
    if (kind == d.end() || payload == d.end() || !payload->second.dictionary()) {
        return std::nullopt;
    }
    Outbox::Entry e{Outbox::Kind::userInfo, std::move(id), *payload->second.dictionary(), {}};
    if (const auto* k = kind->second.string(); k != nullptr && *k == "file") {
        const auto contents = d.find("contents");
        if (contents == d.end() || !contents->second.data()) {
            return std::nullopt;
        }
        e.kind = Outbox::Kind::file;
        e.contents = *contents->second.data();
    }
    return e;
}

} // namespace

Outbox::Outbox(KeyValueStore& store, std::string prefix)
    : store_(store), prefix_(std::move(prefix)) {
    const auto ids = store_.stringListForKey(orderKey(prefix_));
    if (!ids) {
        return;
    }
    std::set<std::string, std::less<>> seen;
    for (const auto& id : *ids) {
        if (!seen.insert(id).second) {
            continue;
        }
        // An entry whose record is gone (a crash between the two writes) is skipped.
        if (auto d = loadDictionary(store_, entryKey(prefix_, id))) {
            if (auto e = fromDictionary(id, *d)) {
                entries_.push_back(std::move(*e));
            }
        }
    }
}

bool Outbox::append(Entry entry) {
    // The record goes first, so that the order list never names a record that is not there.
    if (!saveDictionary(store_, entryKey(prefix_, entry.id), toDictionary(entry))) {
        return false;
    }
    entries_.push_back(std::move(entry));
    saveOrder();
    return true;
}

std::optional<Outbox::Entry> Outbox::remove(std::string_view id) {
    auto it =
        std::find_if(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; });
    if (it == entries_.end()) {
        return std::nullopt;
    }
    Entry entry = std::move(*it);
    entries_.erase(it);
    saveOrder();
    store_.removeObject(entryKey(prefix_, id));
    return entry;
}

void Outbox::erase(KeyValueStore& store, std::string_view prefix) {
    if (const auto ids = store.stringListForKey(orderKey(prefix))) {
        for (const auto& id : *ids) {
            store.removeObject(entryKey(prefix, id));
        }
    }
    store.removeObject(orderKey(prefix));
}

void Outbox::saveOrder() {
    std::vector<std::string> ids;
    ids.reserve(entries_.size());
    for (const auto& e : entries_) {
        ids.push_back(e.id);
    }
    store_.setStringList(orderKey(prefix_), ids);
}

} // namespace platform::phonelink
