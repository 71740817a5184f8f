// The list model under every list on screen: whatever rows come next, the model ends up holding
// exactly them, through changes a view can follow (Qt's model tester checks each signal).
#include "screens/bridge/rows_model.hpp"

#include <QAbstractItemModelTester>
#include <QCoreApplication>

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <set>

namespace {

std::vector<QVariantMap> rowsOf(const std::vector<std::pair<int, int>>& keysAndValues) {
    std::vector<QVariantMap> rows;
    std::set<int> seen;
    for (const auto& [key, value] : keysAndValues) {
        if (seen.insert(key).second) {
            rows.push_back({{"key", QString::number(key)}, {"value", value}});
        }
    }
    return rows;
}

RC_GTEST_PROP(RowsModelTest, EndsWithTheNewRowsThroughConsistentChanges,
              (const std::vector<std::pair<int, int>>& first,
               const std::vector<std::pair<int, int>>& second)) {
    screens::RowsModel model({"value"});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    int resets = 0;
    QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
    for (const auto* step : {&first, &second}) {
        auto rows = rowsOf(*step);
        model.setRows(rows);
        RC_ASSERT(model.count() == static_cast<int>(rows.size()));
        for (int i = 0; i < model.count(); ++i) {
            RC_ASSERT(model.value(i, "key") == rows[static_cast<std::size_t>(i)].value("key"));
            RC_ASSERT(model.value(i, "value") == rows[static_cast<std::size_t>(i)].value("value"));
            RC_ASSERT(model.indexOf(rows[static_cast<std::size_t>(i)].value("key").toString()) ==
                      i);
        }
    }
    RC_ASSERT(resets == 0); // a reset would scroll the list back to its top
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
