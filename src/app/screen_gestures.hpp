#pragma once

#include "app/gestures.hpp"
#include "screens/control/screen_driver.hpp"
#include "screens/viewmodels/content_view_model.hpp"
#include "screens/viewmodels/detail_view_model.hpp"

#include <optional>
#include <vector>

namespace app {

// The control channel's actions carried out on the window: each brings its target on screen as
// a person would (pages the pager, scrolls the list) and presses the control by its objectName;
// a control that is not on screen answers the error line and changes nothing.
class ScreenGestures final : public Gestures {
public:
    // `face`, when given, is the watch face shown until its complication opens the window.
    ScreenGestures(QQuickWindow& window, screens::ContentViewModel& viewModel,
                   screens::DetailViewModel& detailViewModel, QQuickWindow* face = nullptr)
        : driver_(window), window_(window), viewModel_(viewModel),
          detailViewModel_(detailViewModel) {
        if (face != nullptr) {
            face_.emplace(*face);
        }
    }

    std::optional<Answer> perform(const std::string& action,
                                  const platform::Dictionary& arguments) override;

private:
    // Presses the named control when a finger can reach it.
    Answer press(const std::string& action, const QString& objectName);
    // Scrolls the exercise list so that the exercise's row, or with no id its footer, shows.
    void scrollList(const QString& exerciseId);
    Answer screen();
    // The detail's actions: its exercise's detail opened first (from the list), its set paged to.
    Answer detailAction(const std::string& action, const platform::Dictionary& arguments);
    std::optional<Answer> openDetail(const std::string& action, const QString& exerciseId);
    // Presses each control in turn, each after the last one's effect is on screen.
    Answer pressAll(const std::string& action, const std::vector<QString>& objectNames);
    void settle();
    // What the watch face takes while it is shown instead of the window.
    Answer onFace(const std::string& action, const platform::Dictionary& arguments);
    Answer swipe(const std::string& direction);

    screens::ScreenDriver driver_;
    std::optional<screens::ScreenDriver> face_;
    QQuickWindow& window_;
    screens::ContentViewModel& viewModel_;
    screens::DetailViewModel& detailViewModel_;
};

} // namespace app
