#pragma once
// Observable properties and observation tokens, in the manner of key-value observing.
//
// An Observable<T> holds a value. observe() registers a handler and returns a token:
// - with `initial`, the handler gets the current value once, during registration, before
//   observe() returns, on the registering thread;
// - with `new`, every later change is delivered on the thread that made it.
// The token keeps its handler alive until invalidate() or its destruction; once
// invalidate() has returned no new delivery starts (one already running may finish).
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

enum class NSKeyValueObservingOptions : unsigned { none = 0, new_ = 1, initial = 4 };
constexpr NSKeyValueObservingOptions operator|(NSKeyValueObservingOptions a, NSKeyValueObservingOptions b) {
    return NSKeyValueObservingOptions(unsigned(a) | unsigned(b));
}
constexpr bool contains(NSKeyValueObservingOptions set, NSKeyValueObservingOptions option) {
    return (unsigned(set) & unsigned(option)) != 0;
}

template <typename T> struct NSKeyValueObservedChange {
    std::optional<T> newValue; // absent when the observed path yields nothing
};

// The token. Invalidation is idempotent and thread-safe.
class NSKeyValueObservation {
  public:
    explicit NSKeyValueObservation(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    ~NSKeyValueObservation() { invalidate(); }
    NSKeyValueObservation(const NSKeyValueObservation&) = delete;
    NSKeyValueObservation& operator=(const NSKeyValueObservation&) = delete;

    void invalidate() {
        std::function<void()> cancel;
        {
            std::lock_guard lock(mutex_);
            cancel.swap(cancel_);
        }
        if (cancel)
            cancel();
    }

  private:
    std::mutex mutex_;
    std::function<void()> cancel_; // releases the handler; empty once invalidated
};

template <typename T> class Observable {
  public:
    using Handler = std::function<void(const NSKeyValueObservedChange<T>&)>;

    explicit Observable(T initial = T{}) : state_(std::make_shared<State>(std::move(initial))) {}
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    T get() const {
        std::lock_guard lock(state_->mutex);
        return state_->value;
    }

    // Stores the value and delivers it to every observer registered with `new`, on the
    // calling thread. Every set is delivered, also when the value is equal to the last.
    void set(T value) {
        std::vector<std::shared_ptr<Entry>> targets;
        {
            std::lock_guard lock(state_->mutex);
            state_->value = value;
            for (auto& entry : state_->entries)
                if (contains(entry->options, NSKeyValueObservingOptions::new_))
                    targets.push_back(entry);
        }
        NSKeyValueObservedChange<T> change{std::move(value)};
        for (auto& entry : targets)
            entry->deliver(change);
    }

    [[nodiscard]] std::unique_ptr<NSKeyValueObservation> observe(NSKeyValueObservingOptions options,
                                                                 Handler handler) {
        auto entry = std::make_shared<Entry>(options, std::move(handler));
        std::optional<T> initialValue;
        {
            std::lock_guard lock(state_->mutex);
            state_->entries.push_back(entry);
            if (contains(options, NSKeyValueObservingOptions::initial))
                initialValue = state_->value;
        }
        if (initialValue)
            entry->deliver(NSKeyValueObservedChange<T>{std::move(initialValue)});
        std::weak_ptr<State> weakState = state_;
        return std::make_unique<NSKeyValueObservation>([weakState, entry] {
            entry->cancel();
            if (auto state = weakState.lock()) {
                std::lock_guard lock(state->mutex);
                std::erase(state->entries, entry);
            }
        });
    }

    size_t observerCount() const {
        std::lock_guard lock(state_->mutex);
        return state_->entries.size();
    }

  private:
    struct Entry {
        Entry(NSKeyValueObservingOptions o, Handler h) : options(o), handler(std::move(h)) {}
        const NSKeyValueObservingOptions options;
        void deliver(const NSKeyValueObservedChange<T>& change) {
            Handler h;
            {
                std::lock_guard lock(mutex);
                h = handler;
            }
            if (h)
                h(change);
        }
        void cancel() {
            Handler released;
            std::lock_guard lock(mutex);
            released.swap(handler);
        }
        std::mutex mutex;
        Handler handler;
    };
    struct State {
        explicit State(T v) : value(std::move(v)) {}
        mutable std::mutex mutex;
        T value;
        std::vector<std::shared_ptr<Entry>> entries;
    };
    std::shared_ptr<State> state_;
};
