// The plug-in's views drawn by the host's stage offscreen, read back as a person reads them.

#include "widget/host/stage.hpp"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QQuickItem>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>

// Failures print the texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using glanceside::Date;
using glanceside::DateRange;
using glanceside::Exercise;
using glanceside::SimpleEntry;
using glanceside::host::ShownActivity;
using glanceside::host::Stage;
using Strings = QStringList;

const Date now{800000000};

void eachItem(QQuickItem* root, const std::function<void(QQuickItem*)>& visit) {
    if (root != nullptr) {
        visit(root);
        for (auto* child : root->childItems()) {
            eachItem(child, visit);
        }
    }
}

SimpleEntry longWorkout() {
    SimpleEntry entry;
    entry.title = "Week 3 - Day A";
    entry.status = "Up Next";
    for (const auto* name :
         {"Back Squat", "Walking Lunges with Dumbbells Held at the Sides", "Leg Press",
          "Seated Calf Raise", "Hanging Leg Raise", "Farmer's Carry", "Sled Push"}) {
        entry.exercises.push_back({name, name});
    }
    return entry;
}

ShownActivity activity(bool rest, std::vector<double> progress = {0.4, 0, 1}) {
    ShownActivity shown;
    shown.name = "Day A: Squat & Bench";
    shown.state.nextSetName = "Back Squat";
    shown.state.nextSetInfo = "5 x 225lb";
    shown.state.percentageComplete = std::move(progress);
    if (rest) {
        // Rested 20 s of 90 s; the 90 s measure as "01:30".
        shown.state.lastSetCompletedDate = DateRange{now.adding(-20), now.adding(70)};
        shown.measuringText = "01:30";
    }
    shown.state.startTime = {now.adding(-3725), now.adding(86400)};
    return shown;
}

class HostViews : public ::testing::Test {
protected:
    Stage stage{GLANCESIDE_VIEWS_DIR};

    int count(const QString& frame, const char* objectName) {
        int found = 0;
        eachItem(stage.frameView(frame), [&](QQuickItem* item) {
            found += item->objectName() == QLatin1String(objectName) && item->isVisible() ? 1 : 0;
        });
        return found;
    }
};

TEST_F(HostViews, EachFamilyShowsTheEntryAndElidesWhatDoesNotFit) {
    ASSERT_TRUE(stage.error().isEmpty()) << stage.error().toStdString();
    stage.setExtraFamily("systemLarge");
    stage.showEntry(longWorkout());

    // The small family has room for two names; the rest are counted, not cut.
    EXPECT_EQ(stage.texts("systemSmall"),
              (Strings{"UP NEXT", "Week 3 - Day A", "Back Squat",
                       "Walking Lunges with Dumbbells Held at the Sides", "+5 more"}));
    const Strings all{"Back Squat",        "Walking Lunges with Dumbbells Held at the Sides",
                      "Leg Press",         "Seated Calf Raise",
                      "Hanging Leg Raise", "Farmer's Carry",
                      "Sled Push"};
    for (const char* family : {"systemMedium", "extraFamily"}) {
        const auto texts = stage.texts(family);
        EXPECT_TRUE(texts.contains("Week 3 - Day A") && texts.contains("UP NEXT")) << family;
        for (const auto& name : all) {
            EXPECT_TRUE(texts.contains(name)) << family << " lacks " << name.toStdString();
        }
    }
    EXPECT_EQ(stage.texts("extraFamily").mid(2), all);

    // The long name is elided at its end inside its frame in every family.
    for (const char* family : {"systemSmall", "systemMedium", "extraFamily"}) {
        auto* frame = stage.frameView(family);
        int elided = 0;
        eachItem(frame, [&](QQuickItem* item) {
            if (item->inherits("QQuickText") &&
                item->property("text").toString().startsWith("Walking")) {
                elided += item->property("truncated").toBool() ? 1 : 0;
                const auto at = item->mapRectToItem(frame, QRectF(0, 0, item->width(), 1));
                EXPECT_LE(at.right(), frame->width()) << family;
            }
        });
        EXPECT_EQ(elided, 1) << family;
    }
}

TEST_F(HostViews, LockScreenAndIslandShowTheRestOnlyWhenThereIsOne) {
    ASSERT_TRUE(stage.error().isEmpty()) << stage.error().toStdString();
    stage.showActivity(activity(true), now);
    EXPECT_EQ(stage.texts("lockScreen"), (Strings{"Day A: Squat & Bench", "1:02:05", "Rest 01:10",
                                                  "Complete Set", "Back Squat", "5 x 225lb"}));
    EXPECT_EQ(stage.texts("expanded"),
              (Strings{"1:02:05", "Rest 01:10", "Back Squat", "5 x 225lb"}));
    EXPECT_EQ(stage.texts("compactTrailing"), Strings{"01:10"});
    EXPECT_EQ(stage.texts("minimal"), Strings{"01:10"});
    EXPECT_EQ(count("lockScreen", "progressBar"), 3);

    // The minimal timer is as wide as its measuring text in its own font.
    eachItem(stage.frameView("minimal"), [](QQuickItem* item) {
        if (item->inherits("QQuickText")) {
            const QFontMetricsF metrics(item->property("font").value<QFont>());
            EXPECT_EQ(item->width(), std::ceil(metrics.horizontalAdvance("01:30")));
        }
    });

    // A second later the timers have moved on; past the range the rest stays at zero.
    stage.tick(now.adding(1));
    EXPECT_TRUE(stage.texts("lockScreen").contains("Rest 01:09"));
    EXPECT_TRUE(stage.texts("lockScreen").contains("1:02:06"));
    stage.tick(now.adding(500));
    EXPECT_TRUE(stage.texts("lockScreen").contains("Rest 00:00"));

    // Hours in the compact countdown still fit its 46 points.
    auto longRest = activity(true);
    longRest.state.lastSetCompletedDate->upper = now.adding(5000);
    stage.showActivity(longRest, now);
    EXPECT_EQ(stage.texts("compactTrailing"), Strings{"1:23:20"});
    EXPECT_EQ(stage.texts("minimal"), Strings{"83:20"});
    eachItem(stage.frameView("compactTrailing"), [](QQuickItem* item) {
        if (item->inherits("QQuickText")) {
            EXPECT_LE(item->property("contentWidth").toReal(), 46.0);
        }
    });

    stage.showActivity(activity(false, {}), now);
    EXPECT_EQ(stage.texts("lockScreen"), (Strings{"Day A: Squat & Bench", "1:02:05", "Complete Set",
                                                  "Back Squat", "5 x 225lb"}));
    EXPECT_EQ(count("lockScreen", "progressBar"), 0);
    EXPECT_EQ(count("expanded", "progressBar"), 0);
    EXPECT_TRUE(stage.texts("compactTrailing").isEmpty());
    EXPECT_TRUE(stage.texts("minimal").isEmpty());
    EXPECT_EQ(stage.texts("expanded"), (Strings{"1:02:05", "Back Squat", "5 x 225lb"}));

    stage.showActivity(std::nullopt, now);
    EXPECT_TRUE(stage.texts("lockScreen").isEmpty());
    EXPECT_FALSE(stage.tapCompleteSet());
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
