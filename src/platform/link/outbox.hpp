#pragma once

#include "platform/store/key_value_store.hpp"
#include "platform/values/value.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::phonelink {

// The sender's queue of transfers (user infos and files) waiting for the peer's `received`, in
// the order they were queued. It lives in the platform's store so that it survives restarts:
// every change is written before the call returns. Not thread-safe; the engine guards it.
class Outbox {
public:
    enum class Kind { userInfo, file };
    struct Entry {
        Kind kind = Kind::userInfo;
        std::string id;
        Dictionary payload; // the user info, or the file's metadata
        Data contents;      // files only

        bool operator==(const Entry&) const = default;
    };

    // Picks up what an earlier run left under `prefix`.
    Outbox(KeyValueStore& store, std::string prefix);

    const std::vector<Entry>& entries() const { return entries_; }
    // False when the entry cannot be stored; it is not queued then.
    bool append(Entry entry);
    std::optional<Entry> remove(std::string_view id);

    // Forgets every queued transfer under `prefix`, as a device reset does.
    static void erase(KeyValueStore& store, std::string_view prefix);

private:
    void saveOrder();

    KeyValueStore& store_;
    std::string prefix_;
    std::vector<Entry> entries_;
};

} // namespace platform::phonelink
