#pragma once
// A callback slot with its context pointer, called by some threads while
// another replaces it: the traffic hooks and reader callbacks of ports and
// links.
//
// Threads: Call may run on several threads at once. Set may be called from
// any thread and returns only once no call of the old callback is running
// on another thread, so its context may be destroyed right after; a call
// that replaces the hook from inside the hook does not wait for itself.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

template <class Fn>
class CHook {
public:
    void Set(Fn fn, void* context)
    {
        std::unique_lock lock(m_lock);
        m_fn = fn;
        m_context = context;
        m_installed.store(fn != nullptr, std::memory_order_release);
        const auto self = std::this_thread::get_id();
        m_idle.wait(lock, [&] {
            return std::all_of(m_callers.begin(), m_callers.end(), [&](auto id) { return id == self; });
        });
    }

    // Runs invoke(fn, context) when a callback is installed; false when none is.
    template <class Invoke>
    bool Call(Invoke&& invoke)
    {
        if (!m_installed.load(std::memory_order_acquire))
            return false;
        Fn fn;
        void* context;
        {
            std::lock_guard lock(m_lock);
            if (!m_fn)
                return false;
            fn = m_fn;
            context = m_context;
            m_callers.push_back(std::this_thread::get_id());
        }
        struct Leave {
            CHook& hook;
            ~Leave()
            {
                std::lock_guard lock(hook.m_lock);
                auto& callers = hook.m_callers;
                callers.erase(std::find(callers.begin(), callers.end(), std::this_thread::get_id()));
                hook.m_idle.notify_all();
            }
        } leave{*this};
        invoke(fn, context);
        return true;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_idle;
    Fn m_fn = nullptr;
    void* m_context = nullptr;
    std::atomic<bool> m_installed{false};
    std::vector<std::thread::id> m_callers;
};
