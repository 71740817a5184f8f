// What stands between the logic and QML: text from the phone made fit to show, and the list model
// under every list on screen.
#include "screens/bridge/display_text.hpp"
#include "screens/bridge/rows_model.hpp"

#include <QAbstractItemModelTester>
#include <QCoreApplication>

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <set>

namespace {

TEST(DisplayTextTest, PhoneTextNeverReachesTheScreenAsGarbageOrBrokenLines) {
    struct Case {
        std::string phone;
        QString shown;
    };
    const std::vector<Case> cases{
        {"Back Squat", "Back Squat"},
        {"Bench\nPress\t2", "Bench Press 2"},
        {"Row\xff\xfeing", QString("Row") + QChar(0xfffd) + QChar(0xfffd) + "ing"},
        {"\xc3", QString(QChar(0xfffd))},
        {"Curl\xe2\x80\xa8Hammer", "Curl Hammer"},
        {"Squat \xf0\x9f\x8f\x8b", QString("Squat ") + QString::fromUtf8("\xf0\x9f\x8f\x8b")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(screens::displayText(c.phone), c.shown) << c.phone;
    }
    // Long names are cut with an ellipsis, never inside a character.
    EXPECT_EQ(screens::displayText(std::string(300, 'x'), 10), QString(9, 'x') + QChar(0x2026));
    const auto emoji = std::string("\xf0\x9f\x8f\x8b");
    EXPECT_EQ(screens::displayText("abcdefgh" + emoji + "z", 10),
              QString("abcdefgh") + QChar(0x2026));
}

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
