#include "screens/viewmodels/sync_health_view_model.hpp"

#include "screens/bridge/display_text.hpp"

namespace screens {

SyncHealthViewModel::SyncHealthViewModel(SyncHealth& health, const platform::Clock& clock,
                                         QObject* parent)
    : QObject(parent), health_(health), clock_(clock), rows_({"syncId", "title", "detail"}),
      feed_(this, [this] { update(); }) {
    feed_.follow(health_.revision);
    update();
}

SyncHealthViewModel::~SyncHealthViewModel() = default;

void SyncHealthViewModel::update() {
    const auto& facts = health_.facts();
    const auto now = clock_.now();
    indicatorShown_ = !indicatorQuiet(facts, now);
    indicatorText_ = QString::number(static_cast<qulonglong>(facts.waiting()));
    // The screen's rows, one per waiting change, are built only while it shows: with a long
    // queue they cost more than everything else a completed set changes.
    texts_ = health_.showing.get() ? syncScreenTexts(facts, now) : SyncScreenTexts{};
    std::vector<QVariantMap> rows;
    for (std::size_t i = 0; i < texts_.rows.size(); ++i) {
        const auto id = text(facts.entries[i].syncId);
        // Descriptions carry the phone's names: made fit to show like every phone text.
        rows.push_back({{"key", id},
                        {"syncId", id},
                        {"title", displayText(texts_.rows[i].title)},
                        {"detail", text(texts_.rows[i].detail)}});
    }
    rows_.setRows(std::move(rows));
    emit changed();
}

void SyncHealthViewModel::open() {
    health_.open();
}

void SyncHealthViewModel::sendNow() {
    health_.sendNow();
}

} // namespace screens
