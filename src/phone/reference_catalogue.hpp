#pragma once

#include "platform/values/value.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace phone {

// The phone's exercise catalogue, which the watch offers when its user adds an exercise: its
// entries, their changes, and the three forms it travels in (whole, as a keyed delta, and as a
// file). Each entry is a dictionary with at least a string "id" and "name".
class ReferenceCatalogue {
public:
    explicit ReferenceCatalogue(platform::Array entries) : entries_(std::move(entries)) {}

    const platform::Array& entries() const { return entries_; }

    // The message keys of the whole catalogue at `revision`.
    platform::Dictionary whole(double revision) const;

    // Changes; each gives the delta that tells the watch (without its revision), or nothing,
    // changing nothing, when it does not fit the catalogue.
    // Adds or replaces by id; needs a string "id" and "name".
    std::optional<platform::Dictionary> update(const platform::Dictionary& entry);
    std::optional<platform::Dictionary> remove(std::string_view id);
    // `order` must name every entry once.
    std::optional<platform::Dictionary> reorder(const std::vector<std::string>& order);

    // The whole catalogue as a file: a JSON document and the transfer's metadata.
    struct File {
        platform::Data contents;
        platform::Dictionary metadata;
    };
    File file(double revision) const;

private:
    platform::Array entries_;
};

} // namespace phone
