#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "Core/RingQueue.h"
#include "Platform/Cancellable.h"
#include "Platform/Executor.h"

namespace tindlewave {

// How a channel keeps elements its consumer has not taken yet.
enum class Buffering {
    newest,     // only the newest: a new element replaces an untaken one
    unbounded,  // every element, in order
};

// A single-consumer stream of values. Any thread may send (never blocking) or finish it; the one
// subscriber receives the elements as jobs of the executor it chose, one element per job, then a
// call of its end handler once the channel is finished and drained. The termination handler runs
// once, on whichever thread ends the channel: by finish() or by the subscription being cancelled.
// After that, sends are refused. Copies of a Channel refer to the same stream.
template <class T>
class Channel {
  public:
    using Handler = std::function<void(T)>;
    using EndHandler = std::function<void()>;

    explicit Channel(Buffering buffering) : state_(std::make_shared<State>(buffering)) {}

    Buffering buffering() const { return state_->buffering; }

    // Queues an element; false (and the element dropped) once the channel has ended.
    bool send(T value) const {
        std::unique_lock lock(state_->mutex);
        if (state_->terminated) return false;
        if (state_->buffering == Buffering::newest) state_->buffer.clear();
        state_->buffer.push_back(std::move(value));
        State::scheduleLocked(state_, lock);
        return true;
    }

    // Ends the channel: the subscriber still receives what is buffered, then its end handler.
    void finish() const {
        std::unique_lock lock(state_->mutex);
        if (state_->terminated) return;
        state_->terminated = state_->finished = true;
        auto onTermination = std::exchange(state_->onTermination, nullptr);
        State::scheduleLocked(state_, lock);
        lock.unlock();
        if (onTermination) onTermination();
    }

    // Sets the handler run once when the channel ends; runs it at once if it already has.
    void onTermination(std::function<void()> handler) const {
        std::unique_lock lock(state_->mutex);
        if (state_->terminated) {
            lock.unlock();
            if (handler) handler();
            return;
        }
        state_->onTermination = std::move(handler);
    }

    bool isTerminated() const {
        std::lock_guard lock(state_->mutex);
        return state_->terminated;
    }

    // True when nobody subscribed and this is the last copy of the channel: nothing sent can ever
    // be received. (Only a subscription could bring another copy back, so the answer holds.)
    bool isAbandoned() const {
        std::lock_guard lock(state_->mutex);
        return !state_->subscribed && state_.use_count() == 1;
    }

    // Delivers the elements on `executor`, which must outlive the subscription. Cancelling (or
    // dropping) the subscription ends the channel: nothing more is delivered once the cancel has
    // returned on the subscriber's executor, and the end handler is not called. A channel has one
    // subscriber; a second subscribe throws std::logic_error.
    [[nodiscard]] Subscription subscribe(Executor& executor, Handler onElement,
                                         EndHandler onEnd = nullptr) const {
        std::unique_lock lock(state_->mutex);
        if (state_->subscribed) throw std::logic_error("a channel has one subscriber");
        state_->subscribed = true;
        state_->executor = &executor;
        state_->onElement = std::make_shared<Handler>(std::move(onElement));
        state_->onEnd = std::move(onEnd);
        State::scheduleLocked(state_, lock);
        lock.unlock();
        std::weak_ptr<State> weak = state_;
        return Subscription([weak] {
            if (auto state = weak.lock()) state->cancel();
        });
    }

  private:
    struct State {
        explicit State(Buffering b) : buffering(b) {}

        const Buffering buffering;
        std::mutex mutex;
        RingQueue<T> buffer;  // keeps its storage: a steady stream allocates nothing
        bool terminated = false;  // no more sends
        bool finished = false;    // ended by finish(), so the end handler is owed
        bool cancelled = false;
        bool subscribed = false;
        bool scheduled = false;  // a delivery job is queued
        Executor* executor = nullptr;
        std::shared_ptr<Handler> onElement;
        EndHandler onEnd;
        std::function<void()> onTermination;

        // Posts one delivery job unless one is queued or there is nothing to deliver.
        static void scheduleLocked(const std::shared_ptr<State>& self,
                                   std::unique_lock<std::mutex>&) {
            if (!self->subscribed || self->cancelled || self->scheduled) return;
            if (self->buffer.empty() && !self->finished) return;
            self->scheduled = true;
            // The job holds the state, so what was sent is delivered even after every sending
            // copy of the channel is gone, and an executor that drops the job unrun frees it. A
            // shared pointer fits in a job's inline storage: posting allocates nothing.
            self->executor->post([self] { deliver(self); });
        }

        static void deliver(const std::shared_ptr<State>& self) {
            std::unique_lock lock(self->mutex);
            self->scheduled = false;
            if (self->cancelled) return;
            if (!self->buffer.empty()) {
                T value = self->buffer.take();
                auto handler = self->onElement;
                scheduleLocked(self, lock);
                lock.unlock();
                (*handler)(std::move(value));
                return;
            }
            if (self->finished) {
                self->cancelled = true;  // delivered everything: the subscription is over
                auto onEnd = std::exchange(self->onEnd, nullptr);
                auto handler = std::exchange(self->onElement, nullptr);
                lock.unlock();
                if (onEnd) onEnd();
            }
        }

        void cancel() {
            std::unique_lock lock(mutex);
            if (cancelled) return;
            cancelled = true;
            bool wasTerminated = std::exchange(terminated, true);
            auto termination = std::exchange(onTermination, nullptr);
            auto handler = std::exchange(onElement, nullptr);
            auto end = std::exchange(onEnd, nullptr);
            RingQueue<T> dropped;
            dropped.swap(buffer);
            lock.unlock();
            if (!wasTerminated && termination) termination();
        }
    };

    std::shared_ptr<State> state_;
};

}  // namespace tindlewave
