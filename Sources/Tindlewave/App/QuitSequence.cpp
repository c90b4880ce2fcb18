#include "App/QuitSequence.h"

#include "Platform/Executor.h"
#include "Settings/Model/EngineControl.h"

namespace tindlewave {

struct QuitSequence::Steps {
    std::function<void()> cancelEngineRun;
    std::function<void()> end;
};

QuitSequence::QuitSequence(Executor& main, EngineControl& engine,
                           std::function<void()> cancelEngineRun, std::function<void()> end)
    : main_(main),
      engine_(engine),
      steps_(std::make_shared<Steps>(Steps{std::move(cancelEngineRun), std::move(end)})) {}

QuitSequence::~QuitSequence() = default;

void QuitSequence::request() {
    if (quitting_) return;
    quitting_ = true;
    std::weak_ptr<Steps> weak = steps_;
    Executor* main = &main_;
    // The engine answers on its own executor; the rest happens on the main one.
    engine_.shutdown([weak, main] {
        main->post([weak] {
            auto steps = weak.lock();
            if (!steps) return;
            if (steps->cancelEngineRun) steps->cancelEngineRun();
            if (steps->end) steps->end();
        });
    });
}

}  // namespace tindlewave
