// The run flags at the worker's ends: by the time the main window is told to hand the buttons
// back, the worker no longer holds ThreadRunning, so an Update clicked the moment the button
// comes back cannot be cancelled by the worker that just ended.
#include <atomic>

#include "tests/firmware/adapter_fixture.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

// Records, at each posted button change, whether the run flags were still set.
class FlagWatchingWindow : public RecordingWindow {
  public:
    explicit FlagWatchingWindow(AdapterSession &session)
        : RecordingWindow(session), session_(session) {}
    void PostButtons(ButtonState state) override {
        if (state == ButtonState::Restored) {
            thread_running_at_restore = session_.ThreadRunning.load();
            update_running_at_restore = session_.UpdateFirmwareRunning.load();
        }
        RecordingWindow::PostButtons(state);
    }
    std::atomic<bool> thread_running_at_restore{true};
    std::atomic<bool> update_running_at_restore{true};

  private:
    const AdapterSession &session_;
};

class RunFlags : public AdapterTest {};

TEST_F(RunFlags, AreClearWhenTheButtonsComeBackAtEveryEnd) {
    struct Case {
        const char *end;
        bool boot_loader_never_answers;
    };
    for (const Case c : {Case{"success", false}, Case{"failure", true}}) {
        SCOPED_TRACE(c.end);
        StartAdapter({.boot_loader_never_answers = c.boot_loader_never_answers});
        auto window = std::make_shared<FlagWatchingWindow>(session);
        window_ = window;
        ASSERT_TRUE(RunUpdate());
        EXPECT_FALSE(window->thread_running_at_restore.load());
        EXPECT_FALSE(window->update_running_at_restore.load());
        Adapter().Stop();
    }
}

}  // namespace
}  // namespace tornelvox::testing
