#include "app/app_loop.h"

namespace {

AppLoopNext Next(AppLoop* loop, bool restartTimer) {
    AppLoopNext next{};
    next.finished = AppFinished(loop->app, &next.exitCode);
    const bool wanted = AppWantsTicks(loop->app) && !next.finished;
    next.startTimer = wanted && (!loop->ticking || restartTimer);
    next.stopTimer = !wanted && loop->ticking;
    loop->ticking = wanted;
    next.updating = AppUpdating(loop->app);
    return next;
}

}  // namespace

void AppLoopStart(AppLoop* loop, AppState* app, bool timerRunning) {
    *loop = AppLoop{app, timerRunning, false};
}

AppLoopNext AppLoopTick(AppLoop* loop) {
    AppTick(loop->app);
    return Next(loop, false);
}

AppLoopNext AppLoopPress(AppLoop* loop, AppButton button) {
    AppPress(loop->app, button);
    return Next(loop, button == AppButton::Exit);
}

AppLoopNext AppLoopClose(AppLoop* loop, bool whenDone) {
    const bool refused = whenDone ? AppCloseWhenDone(loop->app) : AppClose(loop->app);
    AppLoopNext next = Next(loop, false);
    next.closeRefused = refused && !(whenDone && loop->closeKept);
    if (refused && whenDone) loop->closeKept = true;
    return next;
}

AppLoopNext AppLoopFollow(AppLoop* loop) { return Next(loop, false); }

AppLoopNext AppLoopAct(AppLoop* loop, WindowModel* window) {
    switch (WindowActionFor(*window)) {
    case WindowAction::Update:
    case WindowAction::Recover:
        AppPress(loop->app, AppButton::Update);
        break;
    case WindowAction::Retry:
        // After a failed write the sensor waits in its boot loader: it is looked at again.
        AppRetry(loop->app);
        break;
    case WindowAction::ChooseModel:
        WindowChooseModel(window, true);
        break;
    case WindowAction::WriteChosenModel: {
        const uint16_t family = window->pickedModel;
        WindowChooseModel(window, false);
        char refusal[kRefusalCapacity] = "";
        if (!AppChooseFamily(loop->app, family, refusal, sizeof refusal)) {
            WindowTakeRefusal(window, refusal);
        }
        break;
    }
    case WindowAction::None:
        break;
    }
    return AppLoopFollow(loop);
}

AppLoopNext AppLoopDismiss(AppLoop* loop, WindowModel* window) {
    if (!window->choosingModel) return AppLoopPress(loop, AppButton::Exit);
    WindowChooseModel(window, false);
    return AppLoopFollow(loop);
}
