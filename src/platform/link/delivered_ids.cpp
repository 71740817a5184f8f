#include "platform/link/delivered_ids.hpp"

#include <utility>
#include <vector>

namespace platform::phonelink {

DeliveredIds::DeliveredIds(KeyValueStore& store, std::string key, std::size_t capacity)
    : store_(store), key_(std::move(key)), capacity_(capacity) {
    if (auto ids = store_.stringListForKey(key_)) {
        for (auto& id : *ids) {
            if (ids_.insert(id).second) {
                order_.push_back(std::move(id));
            }
        }
    }
    while (order_.size() > capacity_) {
        ids_.erase(order_.front());
        order_.pop_front();
    }
}

bool DeliveredIds::contains(std::string_view id) const {
    return ids_.contains(id);
}

void DeliveredIds::insert(const std::string& id) {
    if (!ids_.insert(id).second) {
        return;
    }
    order_.push_back(id);
    if (order_.size() > capacity_) {
        ids_.erase(order_.front());
        order_.pop_front();
    }
    store_.setStringList(key_, std::vector<std::string>(order_.begin(), order_.end()));
}

} // namespace platform::phonelink
