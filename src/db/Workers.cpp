#include "db/Workers.h"

#include <mutex>
#include <utility>
#include <vector>

namespace {

struct Adopted
{
    std::mutex lock;
    std::vector<std::pair<std::thread, std::function<bool()>>> threads;
    ~Adopted() { Workers::reap(true); }
};

Adopted &adopted()
{
    static Adopted a;
    return a;
}

} // namespace

void Workers::adopt(std::thread thread, std::function<bool()> hasEnded)
{
    Adopted &a = adopted();
    std::lock_guard<std::mutex> hold(a.lock);
    a.threads.emplace_back(std::move(thread), std::move(hasEnded));
}

void Workers::reap(bool all)
{
    Adopted &a = adopted();
    std::vector<std::thread> ended;
    {
        std::lock_guard<std::mutex> hold(a.lock);
        for (auto it = a.threads.begin(); it != a.threads.end();) {
            if (all || it->second()) {
                ended.push_back(std::move(it->first));
                it = a.threads.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (std::thread &t : ended)
        t.join();
}
